// The command line's option parser: numbers are checked whole and within
// their range, list options take an entry's number or its text in the
// current language, every option appears in the help, and the shared options
// land in the settings fields the window's dialogs set.

#include "cli/options.h"

#include <gtest/gtest.h>

#include <climits>

#include "app/settings_store.h"
#include "platform/string_table.h"

namespace zembra::cli {
namespace {

TEST(CliNumbers, OnlyWholeNumbersWithinTheirRange) {
    EXPECT_EQ(parseInteger("42", 0, 100), 42);
    EXPECT_EQ(parseInteger("-5", -10, 10), -5);
    EXPECT_EQ(parseInteger("+7", 0, 10), 7);
    for (const char* bad : {"", " 4", "4 ", "4x", "0x10", "1e3", "--1", "abc", "101"})
        EXPECT_FALSE(parseInteger(bad, 0, 100)) << bad;
    // Beyond long long is an overflow, not a wrapped value.
    EXPECT_FALSE(parseInteger("99999999999999999999", LLONG_MIN, LLONG_MAX));
    EXPECT_EQ(parseReal("3.5"), 3.5);
    for (const char* bad : {"", " 1", "1,5", "inf", "nan", "1e999", "3.x"})
        EXPECT_FALSE(parseReal(bad)) << bad;
}

struct Parsed {
    std::vector<std::string> operands;
    SettingChoices choices;
    std::optional<int> format, pieces;
    bool flag = false;
};

OptionParser makeParser(Parsed& p, const StringTable* strings = nullptr) {
    OptionParser parser("rip", "SOURCE...", strings);
    parser.operands(p.operands, 1, 2);
    addStreamOptions(parser, p.choices, true);
    addDecoderOptions(parser, p.choices);
    addPictureOptions(parser, p.choices);
    addEncoderOptions(parser, p.choices);
    addThreadOption(parser, p.choices);
    parser.list("--format", p.format, ListKind::Formats, "output format");
    parser.flag("--flag", p.flag, "a switch");
    parser.integer("--pieces", p.pieces, 1, INT_MAX, "at least one");
    return parser;
}

OptionParser::Outcome parse(Parsed& p, std::vector<std::string> args, std::string* problem,
                            const StringTable* strings = nullptr) {
    OptionParser parser = makeParser(p, strings);
    auto outcome = parser.parse(args);
    if (problem) *problem = parser.problem();
    return outcome;
}

TEST(CliParser, ValuesOperandsAndSwitches) {
    Parsed p;
    std::string problem;
    ASSERT_EQ(parse(p,
                    {"disc", "--title", "2", "--audio=1", "--flag", "--no-detect24", "--ac3-gain",
                     "2.5", "--crop", "0.1,0.9,0,1", "--luminance", "140,-4", "--", "-odd name"},
                    &problem),
              OptionParser::Outcome::Run)
        << problem;
    EXPECT_EQ(p.operands, (std::vector<std::string>{"disc", "-odd name"}));
    EXPECT_EQ(p.choices.title, 2);
    EXPECT_EQ(p.choices.audio, 1);
    EXPECT_TRUE(p.flag);
    EXPECT_EQ(p.choices.detect24, 0);
    EXPECT_EQ(p.choices.ac3Gain, 2.5);
    ASSERT_TRUE(p.choices.crop);
    EXPECT_EQ((*p.choices.crop)[1], 0.9);
    EXPECT_EQ(p.choices.luminance, std::make_pair(140, -4));
}

TEST(CliParser, MistakesAreNamedWithWhatTheOptionTakes) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"d", "--title", "x"}, "--title needs a number or main, not 'x'"},
        {{"d", "--idct", "-1"}, "--idct takes 0 to 4, not -1"},
        {{"d", "--pieces", "0"}, "--pieces needs at least 1, not 0"},
        {{"d", "--idct", "5"}, "--idct takes 0 to 4, not 5"},
        {{"d", "--width", "99999999999"}, "--width takes 16 to 16383, not 99999999999"},
        {{"d", "--title"}, "--title needs a value (N|main)"},
        {{"d", "--flag=1"}, "--flag takes no value"},
        {{"d", "--bogus"}, "unknown option --bogus"},
        {{"d", "e", "f"}, "unexpected 'f'"},
        {{"--flag"}, "SOURCE... missing"},
        {{"d", "--crop", "0.5,0.1,0,1"}, "--crop needs 0 <= X1 < X2 <= 1 and Y1 < Y2"},
        {{"d", "--crop", "0,1,0,inf"}, "--crop needs X1,X2,Y1,Y2"},
        {{"d", "--luminance", "1.5,0"}, "--luminance needs GAIN,OFFSET"},
        {{"d", "--ac3-gain", "-1"}, "--ac3-gain takes 0 to 100, not -1"},
        {{"d", "--zoom", "9"}, "--zoom takes 0 to 4, not 9"},
        {{"d", "--zoom", "Wide"}, "--zoom takes 0 to 4 or an entry's text, not 'Wide'"},
    };
    for (const auto& [args, message] : cases) {
        Parsed p;
        std::string problem;
        EXPECT_EQ(parse(p, args, &problem), OptionParser::Outcome::Usage) << message;
        EXPECT_NE(problem.find(message), std::string::npos) << problem;
    }
    Parsed p;
    EXPECT_EQ(parse(p, {"d", "--help"}, nullptr), OptionParser::Outcome::Help);
}

TEST(CliParser, ListsTakeAPositionOrTheEntryTextOfTheCurrentLanguage) {
    StringTable german;
    german.setText("STR_MAIN_COMBO_Zoom_3", "Voll (16:9 oder 4:3)");
    Parsed p;
    std::string problem;
    ASSERT_EQ(parse(p,
                    {"d", "--format", "svcd pal great quality", "--zoom", "VOLL (16:9 oder 4:3)",
                     "--fps-index", "25.0 (PAL)", "--resize", "5", "--deinterlace", "Interpolate",
                     "--downsampling", "48.0 KHz (no conversion)"},
                    &problem, &german),
              OptionParser::Outcome::Run)
        << problem;
    EXPECT_EQ(p.format, 13);
    EXPECT_EQ(p.choices.zoom, 3);
    EXPECT_EQ(p.choices.fpsIndex, 2);
    EXPECT_EQ(p.choices.resize, 5);
    EXPECT_EQ(p.choices.deinterlace, 3);
    EXPECT_EQ(p.choices.downsampling, 4);
    // The English text no longer names the entry once the language renamed it.
    Parsed q;
    EXPECT_EQ(parse(q, {"d", "--zoom", "Full (16:9 or 4:3)"}, nullptr, &german),
              OptionParser::Outcome::Usage);

    StringTable builtIn;
    const auto formats = listEntries(ListKind::Formats, builtIn);
    ASSERT_EQ(formats.size(), 15u);
    EXPECT_EQ(formats[2], "AVI (DivX, XviD, MP43, YUV,...)");
    EXPECT_EQ(listEntries(ListKind::Resize, builtIn).size(), 14u);
    for (const auto& [name, kind] : listNames())
        for (const auto& entry : listEntries(kind, builtIn))
            EXPECT_FALSE(entry.empty() || entry.rfind("STR_", 0) == 0) << name << ": " << entry;
}

TEST(CliParser, HelpListsEveryOption) {
    Parsed p;
    OptionParser parser = makeParser(p);
    const std::string help = parser.help();
    for (const char* name :
         {"--title",        "--audio",         "--subtitle",       "--angle",       "--fps-index",
          "--downsampling", "--deinterlace",   "--detect24",       "--no-detect24", "--ac3-gain",
          "--dolby",        "--no-dolby",      "--idct",           "--luminance",   "--sub-color",
          "--sub-offset",   "--width",         "--height",         "--zoom",        "--resize",
          "--crop",         "--motion-search", "--adaptive-quant", "--cpu",         "--dct",
          "--quantmat",     "--pulldown",      "--threads",        "--format",      "--flag",
          "--help"})
        EXPECT_NE(help.find(std::string("  ") + name + " "), std::string::npos) << name;
    EXPECT_NE(help.find("zembra rip --list formats"), std::string::npos);
}

TEST(CliChoices, LandInTheSettingsTheWindowSets) {
    SettingChoices c;
    c.fpsIndex = 2;
    c.detect24 = false;
    c.ac3Gain = 1.5;
    c.dolby = false;
    c.idct = 2;
    c.luminance = std::make_pair(150, 3);
    c.zoom = 4;
    c.width = 480;
    c.crop = std::array<double, 4>{0.1, 0.9, 0.2, 0.8};
    c.motionSearch = 3;
    c.adaptiveQuant = 2;
    c.threads = 1;
    InputSettings in;
    OutputSettings out;
    ApplicationSettings app;
    const InputSettings inBefore = in;
    applyDecoderChoices(c, in);
    applyPictureChoices(c, out);
    applyEncoderChoices(c, out);
    applyThreadChoice(c, app);
    EXPECT_EQ(app.threads, 1);
    EXPECT_EQ(in.frameRate, 2);
    EXPECT_FALSE(in.detect24Fps);
    EXPECT_EQ(in.ac3Gain, 1.5);
    EXPECT_FALSE(in.dolby);
    EXPECT_EQ(in.idct, 2);
    EXPECT_TRUE(in.luminanceFilter);
    EXPECT_EQ(in.luminanceGain, 150);
    EXPECT_EQ(out.zoomMode, 4);
    EXPECT_TRUE(out.renderSource);
    EXPECT_EQ(out.width, 480);
    EXPECT_EQ(out.cropLeft, 0.1);
    EXPECT_EQ(out.motionSearch, 3);
    EXPECT_EQ(out.adaptiveQuant, 2);
    // What was not given keeps its stored value.
    EXPECT_EQ(in.downSampling, inBefore.downSampling);
    EXPECT_EQ(in.deinterlace, inBefore.deinterlace);
    EXPECT_EQ(out.height, OutputSettings().height);
    ApplicationSettings untouched;
    applyThreadChoice(SettingChoices(), untouched);
    EXPECT_EQ(untouched.threads, 0);
    // The count applies to every output, so it is no reason to refuse AVI.
    SettingChoices threadsOnly;
    threadsOnly.threads = 2;
    EXPECT_FALSE(anyEncoderChoice(threadsOnly));
    EXPECT_TRUE(anyEncoderChoice(c));
    EXPECT_FALSE(anyEncoderChoice(SettingChoices()));
}

}  // namespace
}  // namespace zembra::cli
