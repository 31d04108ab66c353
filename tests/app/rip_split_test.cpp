// Size splitting of a 30-second title: numbered pieces of at most the size
// asked for plus one frame, every frame once without overlap, and with
// overlap each new piece starting a few seconds back while the last piece
// still ends with the title's last frame.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "rip_support.h"

namespace zembra {
namespace {

using namespace testing;

constexpr double kFps = 24.0;
// Small uncompressed frames, so that a 2 MB piece holds about nine seconds.
constexpr int kWidth = 64, kHeight = 48;
constexpr uint64_t kFrameBytes = kWidth * kHeight * 3;
constexpr uint64_t kLimit = 2 * 1048576;

struct Pieces {
    std::vector<std::string> names;
    std::vector<std::vector<std::string>> frames;  // MD5 per decoded frame
};

class RipSplit : public ::testing::Test {
protected:
    void SetUp() override {
        if (zembraExe().empty() || !rip_fs::exists(zembraExe())) GTEST_SKIP() << "zembra not built";
        ZEMBRA_REQUIRE_ORACLES();
        disc_ = longDisc();
        ZEMBRA_REQUIRE_DISC(disc_);
    }

    // Rips the 30-second title with the given split options; the pieces in
    // the order of their numbers.
    Pieces rip(const RipSandbox& box, std::vector<std::string> splitOptions) {
        std::vector<std::string> args = {"rip",           disc_,
                                         "--format",      "2",
                                         "--video-codec", "DIB ",
                                         "--export",      "rgb24",
                                         "--avi-audio",   "none",
                                         "--width",       std::to_string(kWidth),
                                         "--height",      std::to_string(kHeight),
                                         "--output-dir",  box.outDir().string(),
                                         "--overwrite",   "--yes",
                                         "--quiet"};
        args.insert(args.end(), splitOptions.begin(), splitOptions.end());
        RipResult r = runZembra(box, args);
        EXPECT_EQ(r.status, 0) << r.output;
        Pieces p;
        for (int n = 1;; ++n) {
            char name[32];
            if (n == 1)
                std::snprintf(name, sizeof name, "Title_0.avi");
            else
                std::snprintf(name, sizeof name, "Title_0_%02d.avi", n);
            if (!rip_fs::exists(box.out(name))) break;
            p.names.push_back(name);
            p.frames.push_back(frameMd5s(box.out(name)));
        }
        // Nothing else was written.
        EXPECT_EQ(box.outputFiles(), [&] {
            auto sorted = p.names;
            std::sort(sorted.begin(), sorted.end());
            return sorted;
        }());
        return p;
    }

    // The whole title in one file, as the pieces are judged against.
    const std::vector<std::string>& reference() {
        static std::vector<std::string> frames;
        if (frames.empty()) {
            RipSandbox box;
            Pieces whole = rip(box, {"--split", "0"});
            if (whole.frames.size() == 1) frames = whole.frames[0];
        }
        return frames;
    }

    void expectPieceSizes(const RipSandbox& box, const Pieces& p) {
        for (size_t i = 0; i < p.names.size(); ++i) {
            SCOPED_TRACE(p.names[i]);
            const uint64_t size = rip_fs::file_size(box.out(p.names[i]));
            EXPECT_LE(size, kLimit + kFrameBytes);
            // A piece is closed only when it reached the limit (less 0.1 MB).
            if (i + 1 < p.names.size()) {
                EXPECT_GT(size, kLimit - 104858);
            }
            EXPECT_EQ(decodeErrors(box.out(p.names[i])), "");
        }
    }

    std::string disc_;
};

TEST_F(RipSplit, PiecesHoldEveryFrameOnce) {
    const auto& whole = reference();
    ASSERT_GT(whole.size(), 700u);
    EXPECT_NEAR(whole.size() / kFps, sourceSeconds(disc_), 1.0 / kFps + 1e-9);

    RipSandbox box;
    Pieces p = rip(box, {"--split-size", "2"});
    ASSERT_GE(p.names.size(), 3u);
    EXPECT_EQ(p.names[1], "Title_0_02.avi");
    expectPieceSizes(box, p);
    std::vector<std::string> joined;
    for (const auto& f : p.frames) joined.insert(joined.end(), f.begin(), f.end());
    EXPECT_EQ(joined, whole);
}

// An overlap longer than a piece: seeking back would start every piece
// before the last one began, without end. Such a piece is followed by the
// next without going back, so the rip ends, and still with the title's end.
TEST_F(RipSplit, AnOverlapLongerThanAPieceStillEnds) {
    const auto& whole = reference();
    ASSERT_GT(whole.size(), 700u);
    RipSandbox box;
    Pieces p = rip(box, {"--split-size", "2", "--overlap", "10"});
    ASSERT_GE(p.names.size(), 3u);
    EXPECT_LE(p.names.size(), 8u);
    expectPieceSizes(box, p);
    std::set<std::string> seen;
    for (const auto& f : p.frames) seen.insert(f.begin(), f.end());
    EXPECT_TRUE(seen.count(whole.back()));
}

TEST_F(RipSplit, OverlapRepeatsAboutThreeSecondsAndKeepsTheEnd) {
    const auto& whole = reference();
    ASSERT_GT(whole.size(), 700u);

    RipSandbox box;
    Pieces p = rip(box, {"--split-size", "2", "--overlap", "1"});
    ASSERT_GE(p.names.size(), 3u);
    expectPieceSizes(box, p);

    // Each new piece begins with a frame the piece before it already holds,
    // about OverLapped + 2 seconds before that piece's end.
    for (size_t i = 1; i < p.names.size(); ++i) {
        SCOPED_TRACE(p.names[i]);
        const auto& before = p.frames[i - 1];
        const auto& piece = p.frames[i];
        ASSERT_FALSE(piece.empty());
        auto at = std::find(before.begin(), before.end(), piece.front());
        ASSERT_NE(at, before.end()) << "the piece does not begin inside the one before it";
        const double back = double(before.end() - at) / kFps;
        EXPECT_GT(back, 1.5);
        EXPECT_LT(back, 4.5);
        // The repeated stretch is the same pictures. Which of every 25 the
        // 25 -> 24 fps pacing drops depends on where a run starts, so they
        // are compared as a set, not place by place.
        const size_t repeated = size_t(before.end() - at);
        ASSERT_GE(piece.size(), repeated);
        const std::set<std::string> tail(at, before.end());
        size_t same = 0;
        for (size_t k = 0; k < repeated; ++k) same += tail.count(piece[k]);
        EXPECT_GE(same, repeated * 9 / 10);
    }
    // The frame limit counts each frame of the title once: the last piece
    // reaches the title's end (its last picture, or the one the unsplit
    // rip's pacing ended on).
    const auto& last = p.frames.back();
    EXPECT_NE(
        std::find(last.end() - std::min<long>(2, long(last.size())), last.end(), whole.back()),
        last.end());
    std::set<std::string> seen;
    for (const auto& f : p.frames) seen.insert(f.begin(), f.end());
    size_t covered = 0;
    for (const auto& h : whole) covered += seen.count(h);
    EXPECT_GE(covered, whole.size() * 98 / 100);
}

// MPEG-4 + MP3 pieces with overlap: every piece plays on its own, with a
// sound track as long as its pictures (the MP3 encoder starts and ends with
// each piece).
TEST_F(RipSplit, XvidPiecesCarryTheirOwnSound) {
    if (!haveXvidAndMp3()) GTEST_SKIP() << "no Xvid or LAME library";
    RipSandbox box;
    RipResult r = runZembra(box, {"rip",           disc_,   "--format",     "2",
                                  "--video-codec", "XVID",  "--codec-opt",  "bitrate=600",
                                  "--avi-audio",   "mp3",   "--width",      "352",
                                  "--height",      "288",   "--split-size", "1",
                                  "--overlap",     "1",     "--output-dir", box.outDir().string(),
                                  "--overwrite",   "--yes", "--quiet"});
    ASSERT_EQ(r.status, 0) << r.output;
    const auto names = box.outputFiles();
    ASSERT_GE(names.size(), 3u);
    EXPECT_EQ(names[0], "Title_0.avi");
    EXPECT_EQ(names[1], "Title_0_02.avi");
    const double mp3Delay = (576.0 + 529.0 + 1152.0) / 44100.0;
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        const std::string f = box.out(name);
        EXPECT_LE(rip_fs::file_size(f), 1048576u + 65536u);
        EXPECT_EQ(decodeErrors(f), "");
        const int frames = decodedFrames(f);
        EXPECT_GT(frames, 24);
        EXPECT_NEAR(decodedAudioSamples(f) / 44100.0, frames / kFps, 1.0 / kFps + mp3Delay);
    }
}

}  // namespace
}  // namespace zembra
