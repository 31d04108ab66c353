// Options of `zembra rip` as stored settings: the Format list's presets as
// the window applies them, kept only with --save, seen by `zembra config`.

#include <gtest/gtest.h>

#include "rip_support.h"

namespace zembra {
namespace {

using namespace testing;

class RipOptions : public ::testing::Test {
protected:
    void SetUp() override {
        if (zembraExe().empty() || !rip_fs::exists(zembraExe())) GTEST_SKIP() << "zembra not built";
    }
};

// A program folder whose stored settings differ from every value the
// "Custom MPEG1" preset sets, at the given stored frame rate.
void storeOtherValues(const RipSandbox& box, int frameRate) {
    RipResult set = runZembra(
        box,
        {"config", "--set", "Zembra_OutputSettings.Width=400", "--set",
         "Zembra_OutputSettings.Height=304", "--set", "Zembra_OutputSettings.VBV=40", "--set",
         "Zembra_OutputSettings.MuxRate=2.5", "--set", "Zembra_OutputSettings.VideoBitRate=3000",
         "--set", "Zembra_OutputSettings.StreamTypeSelected=2", "--set",
         "Zembra_OutputSettings.MPEGStream=2", "--set", "Zembra_OutputSettings.SplitMode=0",
         "--set", "Zembra_InputSettings.FrameRate=" + std::to_string(frameRate)});
    ASSERT_EQ(set.status, 0) << set.output;
}

std::vector<std::string> customMpeg1Rip(const RipSandbox& box) {
    return {"rip",         sampleDisc(), "--format",     "Custom MPEG1",
            "--fps-index", "1",          "--output-dir", box.outDir().string(),
            "--overwrite", "--yes",      "--quiet"};
}

void expectCustomMpeg1At24(const RipSandbox& box) {
    auto after = zembraConfig(box);
    EXPECT_EQ(after["Zembra_OutputSettings.Width"], "400");
    EXPECT_EQ(after["Zembra_OutputSettings.Height"], "304");
    EXPECT_EQ(after["Zembra_OutputSettings.VideoBitRate"], "1150");
    EXPECT_EQ(after["Zembra_OutputSettings.VBV"], "20");
    EXPECT_EQ(after["Zembra_OutputSettings.MuxRate"], "1.400000");
    EXPECT_EQ(after["Zembra_OutputSettings.MPEGStream"], "0");
    EXPECT_EQ(after["Zembra_OutputSettings.StreamTypeSelected"], "0");
    EXPECT_EQ(after["Zembra_InputSettings.FrameRate"], "1");
}

// "Custom MPEG1" at 24.0 fps has no size of its own: the stored size stays,
// the bit rate, VBV and mux rate are the preset's.
TEST_F(RipOptions, CustomMpeg1At24FpsKeepsTheSize) {
    RipSandbox box;
    storeOtherValues(box, 1);

    // A run that is refused leaves the stored settings alone without --save.
    std::vector<std::string> refused = customMpeg1Rip(box);
    refused.insert(refused.end(), {"--downsampling", "4"});
    RipResult r = runZembra(box, refused);
    EXPECT_NE(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("48KHz"), std::string::npos) << r.output;
    EXPECT_TRUE(box.outputFiles().empty());
    auto before = zembraConfig(box);
    EXPECT_EQ(before["Zembra_OutputSettings.VBV"], "40");
    EXPECT_EQ(before["Zembra_OutputSettings.MPEGStream"], "2");

    std::vector<std::string> saved = customMpeg1Rip(box);
    saved.push_back("--save");
    r = runZembra(box, saved);
    EXPECT_EQ(r.status, 0) << r.output;
    expectCustomMpeg1At24(box);

    // The MPEG-1 file itself has that size.
    if (!haveOracles()) return;
    const std::string mpg = box.out("Title_0.mpg");
    EXPECT_EQ(probe(mpg, "stream=codec_name"), "mpeg1video");
    EXPECT_EQ(probe(mpg, "stream=width"), "400");
    EXPECT_EQ(probe(mpg, "stream=height"), "304");
    EXPECT_EQ(probe(mpg, "stream=r_frame_rate"), "24/1");
}

// --fps-index given with --format: the preset sees the frame rate asked for,
// not the one stored before (25 fps would give Custom MPEG1 352 x 288).
TEST_F(RipOptions, FrameRateOptionHoldsWhenTheFormatIsChosen) {
    RipSandbox box;
    storeOtherValues(box, 2);
    std::vector<std::string> saved = customMpeg1Rip(box);
    saved.push_back("--save");
    RipResult r = runZembra(box, saved);
    EXPECT_EQ(r.status, 0) << r.output;
    expectCustomMpeg1At24(box);
}

// An odd size is rounded down to multiples of 16 when the title is opened
// for ripping, and that is what --save keeps.
TEST_F(RipOptions, OddSizeIsSavedAsRipped) {
    RipSandbox box;
    RipResult r = runZembra(box, {"rip",         sampleDisc(),    "--format",
                                  "2",           "--video-codec", "DIB ",
                                  "--export",    "rgb24",         "--avi-audio",
                                  "none",        "--width",       "350",
                                  "--height",    "290",           "--split",
                                  "0",           "--output-dir",  box.outDir().string(),
                                  "--overwrite", "--yes",         "--quiet",
                                  "--save"});
    EXPECT_EQ(r.status, 0) << r.output;
    auto after = zembraConfig(box);
    EXPECT_EQ(after["Zembra_OutputSettings.Width"], "336");
    EXPECT_EQ(after["Zembra_OutputSettings.Height"], "288");
    EXPECT_EQ(after["Zembra_OutputSettings.MPEGStream"], "2");
    EXPECT_EQ(after["Zembra_OutputSettings.SplitMode"], "0");
}

// Options that cannot be followed stop before anything is opened or
// written, with the reason and exit status 2.
TEST_F(RipOptions, BadOptionsAreRefusedUpFront) {
    RipSandbox box;
    const std::string out = box.outDir().string();
    struct Case {
        std::vector<std::string> options;
        const char* says;
    };
    const Case cases[] = {
        {{"--format", "bogus"}, "VCD PAL Good Quality"},
        {{"--format", "2", "--video-codec", "NOPE"}, "Uncompressed RGB (DIB )"},
        {{"--crop", "0.5,0.1,0,1"}, "--crop needs"},
        {{"--crop", "0,1,0.8,0.2"}, "--crop needs"},
        {{"--crop", "0,1,0,inf"}, "--crop needs"},
        {{"--crop", "-0.1,1,0,1"}, "--crop needs"},
        {{"--width", "abc"}, "--width needs a number"},
        {{"--export", "yu12"}, "--export takes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.front() + " " + c.options.back());
        std::vector<std::string> args = {"rip", sampleDisc(), "--output-dir", out, "--yes"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        RipResult r = runZembra(box, args, 60);
        EXPECT_EQ(r.status, 2) << r.output;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
        EXPECT_TRUE(box.outputFiles().empty());
    }
    RipResult none = runZembra(
        box, {"rip", (box.outDir() / "nothing").string(), "--output-dir", out, "--yes"}, 60);
    EXPECT_NE(none.status, 0) << none.output;
    EXPECT_TRUE(box.outputFiles().empty());
}

// A source named as users name it: the disc's top folder, its VIDEO_TS
// folder, the title set's IFO, or a VOB file on its own; each is one title.
TEST_F(RipOptions, SourceByFolderIfoOrVob) {
    if (!haveOracles()) GTEST_SKIP() << "ffmpeg/ffprobe missing";
    const std::string disc = sampleDisc();
    const std::string top = rip_fs::path(disc).parent_path().string();
    for (const std::string& source : {top, disc, disc + "/VTS_01_0.IFO", disc + "/VTS_01_1.VOB"}) {
        SCOPED_TRACE(source);
        RipSandbox box;
        RipResult r = runZembra(
            box,
            {"rip",           source,  "--format", "2",     "--fps-index",  "2",
             "--video-codec", "DIB ",  "--export", "rgb24", "--avi-audio",  "none",
             "--width",       "64",    "--height", "48",    "--output-dir", box.outDir().string(),
             "--overwrite",   "--yes", "--quiet"});
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(box.outputFiles(), std::vector<std::string>{"Title_0.avi"});
        EXPECT_NEAR(decodedFrames(box.out("Title_0.avi")), 150, 1);
    }
}

// An NTSC title decodes a picture more than its stated length gives at
// 29.97 fps; the writer stops at that length, and the rip still counts as
// done, for AVI and for MPEG output alike.
TEST_F(RipOptions, TitleLongerThanItsStatedLengthEndsAsARip) {
    if (!haveOracles()) GTEST_SKIP() << "ffmpeg/ffprobe missing";
    const std::string disc = makeDisc("rip-ntsc-4s", "--ntsc --ac3 --seconds 4");
    if (disc.empty()) GTEST_SKIP() << "test disc could not be made";
    const std::vector<std::vector<std::string>> outputs = {
        {"--format", "2", "--fps-index", "3", "--video-codec", "DIB ", "--export", "rgb24",
         "--avi-audio", "wav", "--width", "64", "--height", "48"},
        {"--format", "SVCD NTSC Great Quality"}};
    for (const auto& output : outputs) {
        SCOPED_TRACE(output[1]);
        RipSandbox box;
        std::vector<std::string> args = {
            "rip",   disc + "/VIDEO_TS", "--output-dir", box.outDir().string(), "--overwrite",
            "--yes", "--quiet"};
        args.insert(args.end(), output.begin(), output.end());
        RipResult r = runZembra(box, args);
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_NE(r.output.find("1 of 1 title(s) ripped"), std::string::npos) << r.output;
        const std::string file = box.out(output[1] == "2" ? "Title_0.avi" : "Title_0.mpg");
        EXPECT_EQ(decodeErrors(file), "");
        EXPECT_NEAR(decodedFrames(file), 119, 1);
    }
}

}  // namespace
}  // namespace zembra
