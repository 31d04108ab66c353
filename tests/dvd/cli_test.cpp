// zembra scan and zembra extract on a generated disc and its image.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "test_support.h"

namespace zembra {
namespace {

namespace fs = std::filesystem;

using testing::run;
using testing::zembraBinary;

TEST(Cli, ScanShowsTitlesCellsAndStreams) {
    ZEMBRA_REQUIRE_BINARY();
    std::string disc = testing::makeDisc(
        "cli",
        "--pal --audio ac3-51:en --audio mp2:de --subs 1 --chapters 0,0:01 --seconds 2 --iso");
    ZEMBRA_REQUIRE_DISC(disc);
    for (std::string source : {disc, disc + "/VIDEO_TS/VTS_01_0.IFO", disc + "/disc.iso"}) {
        auto [status, out] = run(zembraBinary() + " scan '" + source + "'");
        EXPECT_EQ(status, 0) << out;
        EXPECT_NE(out.find("[00] Length:00:00:02"), std::string::npos) << out;
        EXPECT_NE(out.find("English AC3 6ch (0x80)"), std::string::npos) << out;
        EXPECT_NE(out.find("Deutsch MPEG1 2ch (0xC0)"), std::string::npos) << out;
        EXPECT_NE(out.find("[0] English (0x20)"), std::string::npos) << out;
        EXPECT_NE(out.find("chapter 1"), std::string::npos) << out;
        EXPECT_NE(out.find("angle 0x11"), std::string::npos) << out;
    }
    auto [status, out] = run(zembraBinary() + " scan /nonexistent/folder");
    EXPECT_NE(status, 0);
    auto usage = run(zembraBinary() + " scan");
    EXPECT_EQ(usage.first, 2);
}

// A VOB or MPEG file is scanned as Open VOB and the rip scan it (it said
// "No IFO file found in." while rip took the same file as a title).
TEST(Cli, ScanOfAVobFileListsItsTitleAndStreams) {
    ZEMBRA_REQUIRE_BINARY();
    std::string disc =
        testing::makeDisc("cli-two-ac3", "--audio ac3:en --audio ac3:fr --seconds 3");
    ZEMBRA_REQUIRE_DISC(disc);
    auto [status, out] = run(zembraBinary() + " scan '" + disc + "/VIDEO_TS/VTS_01_1.VOB'");
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("[00] Length  00:00:03"), std::string::npos) << out;
    EXPECT_NE(out.find("audio 0: [00] AC3 audio"), std::string::npos) << out;
    EXPECT_NE(out.find("audio 1: [01] AC3 audio"), std::string::npos) << out;
    EXPECT_EQ(out.find("No IFO file"), std::string::npos) << out;
}

// A VOB file's streams are listed by the scan at the start of its rip: the
// Audio and Subtitle choices made before it are the ones ripped.
TEST(Cli, RipOfAVobTakesTheAudioChoiceAfterTheScan) {
    ZEMBRA_REQUIRE_BINARY();
    std::string disc =
        testing::makeDisc("cli-two-ac3", "--audio ac3:en --audio ac3:fr --seconds 3");
    ZEMBRA_REQUIRE_DISC(disc);
    std::string dir = testing::scratchDir("cli-vob-audio");
    fs::create_directories(dir + "/prog");
    fs::copy(std::string(ZEMBRA_SOURCE_DIR) + "/langs", dir + "/prog/langs");
    const std::string rip = "ZEMBRA_PROGRAM_DIR='" + dir + "/prog' " + zembraBinary() + " rip '" +
                            disc + "/VIDEO_TS/VTS_01_1.VOB' --format 2 --video-codec 'DIB ' " +
                            "--avi-audio wav --yes --quiet --overwrite --output-dir '" + dir + "'";
    // The tracks are tones of 440 Hz (0x80) and 660 Hz (0x81).
    for (int track : {1, 0}) {
        const std::string name = "track" + std::to_string(track);
        auto [status, out] = run(rip + " --name " + name + " --audio " + std::to_string(track));
        ASSERT_EQ(status, 0) << out;
        EXPECT_NEAR(testing::wavToneHz(dir + "/" + name + ".wav"), track ? 660.0 : 440.0, 10.0)
            << track;
    }
    auto [status, out] = run(rip + " --name x --audio 8");
    EXPECT_EQ(status, 2) << out;
    EXPECT_NE(out.find("--audio takes 0 to 7, not 8"), std::string::npos) << out;
}

TEST(Cli, ExtractWritesTheTitleFromFolderAndImage) {
    ZEMBRA_REQUIRE_BINARY();
    std::string disc =
        testing::makeDisc("cli-two", "--ntsc --wide --lpcm --two-pgc --seconds 2 --iso");
    ZEMBRA_REQUIRE_DISC(disc);
    std::string dir = testing::scratchDir("cli-extract");
    auto a = run(zembraBinary() + " extract '" + disc + "' --title 1 -o '" + dir + "/a.vob'");
    ASSERT_EQ(a.first, 0) << a.second;
    auto b = run(zembraBinary() + " extract '" + disc + "/disc.iso' --title 1 --disk-buffer '" +
                 dir + "/hdcache.dat' -o '" + dir + "/b.vob'");
    ASSERT_EQ(b.first, 0) << b.second;
    auto bytes = testing::readAll(dir + "/a.vob");
    EXPECT_GT(bytes.size(), 100u * 2048);
    EXPECT_EQ(bytes.size() % 2048, 0u);
    EXPECT_EQ(bytes, testing::readAll(dir + "/b.vob"));
    EXPECT_FALSE(fs::exists(dir + "/hdcache.dat"));
    // Title 1 is the second program chain: it does not start at sector 0.
    auto whole = testing::readAll(disc + "/VIDEO_TS/VTS_01_1.VOB");
    EXPECT_EQ(std::vector<uint8_t>(whole.end() - int64_t(bytes.size()), whole.end()), bytes);

    auto missing = run(zembraBinary() + " extract '" + disc + "' --title 7 -o '" + dir + "/c.vob'");
    EXPECT_NE(missing.first, 0);
    auto usage = run(zembraBinary() + " extract '" + disc + "' -o x");
    EXPECT_EQ(usage.first, 2);
}

}  // namespace
}  // namespace zembra
