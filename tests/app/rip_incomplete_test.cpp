// A title that is not written to its end is not reported as ripped: a source
// whose files end before the title does, and a split piece that cannot be
// made. The file written so far stays readable either way.

#include <gtest/gtest.h>

#include "rip_support.h"

namespace zembra {
namespace {

using namespace testing;

std::vector<std::string> smallAviRip(const std::string& source, const RipSandbox& box) {
    return {"rip",           source,  "--format",     "2",
            "--video-codec", "DIB ",  "--export",     "rgb24",
            "--avi-audio",   "none",  "--width",      "64",
            "--height",      "48",    "--output-dir", box.outDir().string(),
            "--overwrite",   "--yes", "--quiet"};
}

TEST(RipIncomplete, SourceFilesCutShortFailTheRow) {
    if (zembraExe().empty() || !rip_fs::exists(zembraExe())) GTEST_SKIP() << "zembra not built";
    ZEMBRA_REQUIRE_ORACLES();
    RipSandbox box;
    const rip_fs::path disc = box.path("VIDEO_TS");
    rip_fs::copy(sampleDisc(), disc, rip_fs::copy_options::recursive);
    const rip_fs::path vob = disc / "VTS_01_1.VOB";
    rip_fs::resize_file(vob, rip_fs::file_size(vob) / 2 / 2048 * 2048);

    RipResult r = runZembra(box, smallAviRip(disc.string(), box));
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("The source files end before the title does."), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("0 of 1 title(s) ripped"), std::string::npos) << r.output;
    // What was read is kept, and readable.
    const std::string avi = box.out("Title_0.avi");
    EXPECT_EQ(decodeErrors(avi), "");
    EXPECT_GT(decodedFrames(avi), 10);

    // The whole disc still rips as before.
    RipSandbox whole;
    RipResult ok = runZembra(whole, smallAviRip(sampleDisc(), whole));
    EXPECT_EQ(ok.status, 0) << ok.output;
    EXPECT_EQ(ok.output.find("The source files end"), std::string::npos) << ok.output;
}

TEST(RipIncomplete, APieceThatCannotBeMadeFailsTheRow) {
    if (zembraExe().empty() || !rip_fs::exists(zembraExe())) GTEST_SKIP() << "zembra not built";
    ZEMBRA_REQUIRE_ORACLES();
    RipSandbox box;
    // A folder (not empty) stands where the second piece goes.
    rip_fs::create_directories(box.outDir() / "Title_0_02.avi" / "keep");
    auto args = smallAviRip(sampleDisc(), box);
    args.insert(args.end(), {"--split", "5", "--split-size", "1"});
    RipResult r = runZembra(box, args);
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("0 of 1 title(s) ripped"), std::string::npos) << r.output;
    EXPECT_TRUE(rip_fs::is_directory(box.outDir() / "Title_0_02.avi")) << "a folder was removed";
    EXPECT_EQ(decodeErrors(box.out("Title_0.avi")), "");
}

}  // namespace
}  // namespace zembra
