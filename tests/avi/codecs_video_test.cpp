// Video compressors: the uncompressed ones, Xvid through libxvidcore checked
// by ffmpeg decoding its frames, its state blob and its rate control.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include <sys/stat.h>

#include "avi/codecs/stats_file.h"
#include "avi/codecs/video_compressor.h"
#include "codecs_test_support.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace zembra::avi {
namespace {

using testing::codecRun;
using testing::FfmpegClip;

BitmapInfoHeader headerFor(const std::string& pixFmt, int w, int h) {
    if (pixFmt == "bgr24") return rgbHeader(w, h, 24);
    if (pixFmt == "bgra") return rgbHeader(w, h, 32);
    return yuy2Header(w, h);
}

std::unique_ptr<VideoCompressor> openXvid() {
    return openVideoCompressorDriver(kTypeVideo, kHandlerXvid);
}

struct Encoded {
    bool ok = true;
    int frames = 0;
    size_t bytes = 0;
    std::vector<int> keyFrames;
    std::vector<uint8_t> stream;               // the frames one after another
    std::vector<std::vector<uint8_t>> source;  // the pictures, when kept
};

// Feeds an ffmpeg test clip straight to the compressor.
Encoded encodeClip(VideoCompressor& c, const std::string& pixFmt, int w, int h, int fps, int frames,
                   bool keep, int grain = 6) {
    Encoded e;
    BitmapInfoHeader in = headerFor(pixFmt, w, h);
    c.framesInfo(uint32_t(fps) * 1000, 1000, 15);
    if (!c.start(in)) {
        e.ok = false;
        return e;
    }
    FfmpegClip clip(w, h, fps, frames, pixFmt, grain);
    std::vector<uint8_t> out;
    while (const uint8_t* picture = clip.next()) {
        bool key = false;
        if (!c.compress(picture, out, key)) {
            e.ok = false;
            break;
        }
        if (key) e.keyFrames.push_back(e.frames);
        ++e.frames;
        e.bytes += out.size();
        if (keep) {
            e.stream.insert(e.stream.end(), out.begin(), out.end());
            e.source.emplace_back(picture, picture + in.sizeImage);
        }
    }
    c.end();
    return e;
}

TEST(VideoCompressorRegistry, ListsTheBuiltInsAndOpensOnlyWhatItLists) {
    auto list = installedVideoCompressors();
    ASSERT_GE(list.size(), 2u);
    EXPECT_EQ(list[0].fccHandler, kHandlerDib);
    EXPECT_EQ(list[1].fccHandler, kHandlerYuy2);
    for (const auto& info : list) {
        EXPECT_EQ(info.fccType, kTypeVideo);
        auto c = openVideoCompressorDriver(info.fccType, info.fccHandler);
        ASSERT_NE(c, nullptr) << info.name;
        EXPECT_EQ(c->info().fccHandler, info.fccHandler);
    }
    EXPECT_EQ(openVideoCompressorDriver(kTypeVideo, fourcc("DIVX")), nullptr);
    EXPECT_EQ(openVideoCompressorDriver(fourcc("vids"), kHandlerDib), nullptr);

    EXPECT_EQ(acceptedInputsText(*openVideoCompressorDriver(kTypeVideo, kHandlerDib)),
              "RGB24 RGB32");
    EXPECT_EQ(acceptedInputsText(*openVideoCompressorDriver(kTypeVideo, kHandlerYuy2)), "YUY2");
    if (xvidLibraryLoaded()) {
        EXPECT_EQ(acceptedInputsText(*openXvid()), "RGB24 RGB32 YUY2");
    }
}

TEST(UncompressedCompressor, StoresEveryPictureAsItCameAsAKeyFrame) {
    struct Case {
        uint32_t handler;
        BitmapInfoHeader in;
        BitmapInfoHeader refused;
    };
    const Case cases[] = {
        {kHandlerDib, rgbHeader(6, 4, 24), yuy2Header(6, 4)},
        {kHandlerDib, rgbHeader(6, 4, 32), rgbHeader(6, 4, 16)},
        {kHandlerYuy2, yuy2Header(6, 4), rgbHeader(6, 4, 24)},
    };
    for (const Case& k : cases) {
        auto c = openVideoCompressorDriver(kTypeVideo, k.handler);
        ASSERT_NE(c, nullptr);
        EXPECT_TRUE(c->queryInput(k.in));
        EXPECT_FALSE(c->queryInput(k.refused));
        EXPECT_EQ(c->outputFormat(k.in), k.in);
        EXPECT_EQ(c->stateSize(), 0u);
        EXPECT_TRUE(c->getState().empty());
        EXPECT_TRUE(c->setState({}));
        EXPECT_FALSE(c->setState({1, 2, 3}));
        EXPECT_TRUE(c->configure(""));
        EXPECT_FALSE(c->configure("bitrate=900"));

        std::vector<uint8_t> out;
        bool key = false;
        std::vector<uint8_t> picture(k.in.sizeImage);
        EXPECT_FALSE(c->compress(picture.data(), out, key)) << "compress before start";
        EXPECT_FALSE(c->start(k.refused));
        ASSERT_TRUE(c->start(k.in));
        for (int f = 0; f < 3; ++f) {
            for (size_t i = 0; i < picture.size(); ++i) picture[i] = uint8_t(i * 7 + f);
            key = false;
            ASSERT_TRUE(c->compress(picture.data(), out, key));
            EXPECT_EQ(out, picture);
            EXPECT_TRUE(key);
        }
        c->end();
    }
}

TEST(XvidCompressor, TakesEvenSizedRgbAndYuy2AndDescribesItsFrames) {
    CODECS_REQUIRE_XVID();
    auto c = openXvid();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->info().fccHandler, kHandlerXvid);
    EXPECT_TRUE(c->queryInput(rgbHeader(720, 576, 24)));
    EXPECT_TRUE(c->queryInput(rgbHeader(720, 576, 32)));
    EXPECT_TRUE(c->queryInput(rgbHeader(720, -576, 32)));  // top-down RGB
    EXPECT_TRUE(c->queryInput(yuy2Header(720, 576)));
    EXPECT_FALSE(c->queryInput(yuy2Header(720, -576)));
    EXPECT_FALSE(c->queryInput(rgbHeader(721, 576, 24)));
    EXPECT_FALSE(c->queryInput(rgbHeader(720, 576, 16)));
    EXPECT_FALSE(c->queryInput(rgbHeader(0, 576, 24)));

    BitmapInfoHeader out = c->outputFormat(rgbHeader(352, 288, 32));
    EXPECT_EQ(out.compression, fourcc("XVID"));
    EXPECT_EQ(out.width, 352);
    EXPECT_EQ(out.height, 288);
    EXPECT_EQ(out.bitCount, 24);
    EXPECT_EQ(out.bytes().size(), 40u);
}

TEST(XvidCompressor, StateBlobRoundTripsAndConfigureEditsIt) {
    CODECS_REQUIRE_XVID();
    auto a = openXvid();
    ASSERT_EQ(a->stateSize(), 512u);
    std::vector<uint8_t> defaults = a->getState();
    ASSERT_EQ(defaults.size(), 512u);
    std::string text(defaults.begin(), defaults.end());
    text = text.substr(0, text.find('\0'));
    EXPECT_NE(text.find("keyint=15"), std::string::npos) << text;
    EXPECT_NE(text.find("pass=0"), std::string::npos) << text;

    ASSERT_TRUE(a->configure("bitrate=900\nquality = 6\r\npass=2\nstats=/tmp/a b.stats\n"));
    std::vector<uint8_t> edited = a->getState();
    EXPECT_EQ(edited.size(), 512u);
    EXPECT_NE(edited, defaults);

    auto b = openXvid();
    ASSERT_TRUE(b->setState(edited));
    EXPECT_EQ(b->getState(), edited);
    std::string bt(edited.begin(), edited.end());
    EXPECT_NE(bt.find("stats=/tmp/a b.stats\n"), std::string::npos);

    // Refused edits change nothing.
    EXPECT_FALSE(b->configure("bitrate=900\ncolour=blue"));
    EXPECT_FALSE(b->configure("quality=7"));
    EXPECT_FALSE(b->configure("bitrate=fast"));
    EXPECT_FALSE(b->configure("pass"));
    EXPECT_FALSE(b->configure("stats=/" + std::string(600, 'x')));
    EXPECT_EQ(b->getState(), edited);

    // Blobs that are not ours: other size, zeros, another codec's bytes.
    EXPECT_FALSE(b->setState(std::vector<uint8_t>(511, 0)));
    EXPECT_FALSE(b->setState(std::vector<uint8_t>(512, 0)));
    std::vector<uint8_t> foreign(512, 'x');
    EXPECT_FALSE(b->setState(foreign));
    EXPECT_EQ(b->getState(), edited);
}

// Frames from each input format decode in ffmpeg to the pictures given, the
// first is a key frame and key frames come at least every keyint frames.
TEST(XvidCompressor, FramesDecodeInFfmpegWithKeyFramesAtTheInterval) {
    CODECS_REQUIRE_XVID();
    CODECS_REQUIRE_FFMPEG();
    testing::TempDir dir;
    const int w = 176, h = 144, frames = 40;
    for (std::string pixFmt : {"bgr24", "bgra", "yuyv422"}) {
        SCOPED_TRACE(pixFmt);
        auto c = openXvid();
        ASSERT_TRUE(c->configure("quantizer=3\nkeyint=12\nquality=2"));
        Encoded e = encodeClip(*c, pixFmt, w, h, 25, frames, true);
        ASSERT_TRUE(e.ok);
        ASSERT_EQ(e.frames, frames);
        ASSERT_FALSE(e.keyFrames.empty());
        EXPECT_EQ(e.keyFrames.front(), 0);
        int last = 0;
        for (int k : e.keyFrames) {
            EXPECT_LE(k - last, 12);
            last = k;
        }
        EXPECT_LE(frames - last, 12);

        std::string m4v = (dir / (pixFmt + ".m4v")).string();
        testing::writeBytes(m4v, e.stream);
        int status = 0;
        std::string errors =
            codecRun("ffmpeg -v error -nostdin -f m4v -i " + m4v + " -f null - 2>&1", &status);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(errors, "");
        std::string count = codecRun(
            "ffprobe -v error -f m4v -count_frames -select_streams v:0 -show_entries "
            "stream=nb_read_frames,codec_name -of csv=p=0 " +
            m4v);
        EXPECT_EQ(count, "mpeg4," + std::to_string(frames) + "\n");

        // Back in the input's own layout, the pictures match (a flipped or
        // colour-swapped picture would be far off).
        std::string flip = pixFmt == "yuyv422" ? "" : " -vf vflip";
        std::string decoded = codecRun("ffmpeg -v error -nostdin -f m4v -i " + m4v + flip +
                                       " -f rawvideo -pix_fmt " + pixFmt + " -");
        ASSERT_EQ(decoded.size(), e.source.size() * e.source[0].size());
        double se = 0;
        size_t n = 0;
        for (size_t f = 0; f < e.source.size(); ++f) {
            const auto& src = e.source[f];
            for (size_t i = 0; i < src.size(); ++i) {
                if (pixFmt == "bgra" && i % 4 == 3) continue;  // the unused byte
                double d = double(src[i]) - double(uint8_t(decoded[f * src.size() + i]));
                se += d * d;
                ++n;
            }
        }
        double psnr = 10 * std::log10(255.0 * 255.0 / (se / double(n)));
        EXPECT_GT(psnr, 28.0);
    }
}

// With threads of its own the library splits the motion search; the frames
// must still all decode, and a one-thread run must stay repeatable.
TEST(XvidCompressor, CodesWithThreadsOfItsOwnAndRepeatsItselfWithOne) {
    CODECS_REQUIRE_XVID();
    CODECS_REQUIRE_FFMPEG();
    testing::TempDir dir;
    const int w = 352, h = 288, frames = 24;
    auto encode = [&](int threads) {
        auto c = openXvid();
        EXPECT_TRUE(c->configure("bitrate=900\nquality=4"));
        c->useThreads(threads);
        return encodeClip(*c, "bgr24", w, h, 25, frames, true);
    };
    Encoded threaded = encode(4);
    ASSERT_TRUE(threaded.ok);
    ASSERT_EQ(threaded.frames, frames);
    std::string m4v = (dir / "threaded.m4v").string();
    testing::writeBytes(m4v, threaded.stream);
    int status = 0;
    EXPECT_EQ(codecRun("ffmpeg -v error -nostdin -f m4v -i " + m4v + " -f null - 2>&1", &status),
              "");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(codecRun("ffprobe -v error -f m4v -count_frames -select_streams v:0 -show_entries "
                       "stream=nb_read_frames -of csv=p=0 " +
                       m4v),
              std::to_string(frames) + "\n");

    Encoded once = encode(1), again = encode(1);
    ASSERT_TRUE(once.ok && again.ok);
    EXPECT_TRUE(once.stream == again.stream);
}

TEST(XvidCompressor, KeyIntervalZeroTakesTheCallersKeyRate) {
    CODECS_REQUIRE_XVID();
    CODECS_REQUIRE_FFMPEG();
    auto c = openXvid();
    ASSERT_TRUE(c->configure("keyint=0\nquantizer=4\nquality=1"));
    c->framesInfo(25000, 1000, 5);
    BitmapInfoHeader in = rgbHeader(64, 48, 24);
    ASSERT_TRUE(c->start(in));
    FfmpegClip clip(64, 48, 25, 23, "bgr24");
    std::vector<uint8_t> out;
    int frame = 0, last = 0;
    while (const uint8_t* picture = clip.next()) {
        bool key = false;
        ASSERT_TRUE(c->compress(picture, out, key));
        if (key) {
            EXPECT_LE(frame - last, 5);
            last = frame;
        }
        ++frame;
    }
    c->end();
    EXPECT_EQ(frame, 23);
    EXPECT_LE(frame - last, 5);
}

TEST(XvidCompressor, SecondPassWithoutStatisticsFailsToStart) {
    CODECS_REQUIRE_XVID();
    testing::TempDir dir;
    auto c = openXvid();
    ASSERT_TRUE(c->configure("pass=2\nstats=" + (dir / "none.stats").string()));
    EXPECT_FALSE(c->start(rgbHeader(64, 48, 24)));
    std::vector<uint8_t> out;
    bool key = false;
    std::vector<uint8_t> picture(64 * 48 * 3);
    EXPECT_FALSE(c->compress(picture.data(), out, key));
}

// The two-pass statistics file belongs to one rip: a new 0600 file in the
// runtime folder, another one for another rip, gone once removed; a link
// planted under the old fixed name is never followed.
TEST(PrivateStatsFile, IsNewPrivateAndRemoved) {
    testing::TempDir runtime;
    testing::ScopedEnv env("XDG_RUNTIME_DIR", runtime.path().string());
    PrivateStatsFile a, b;
    ASSERT_TRUE(a.create());
    ASSERT_TRUE(b.create());
    EXPECT_EQ(std::filesystem::path(a.path()).parent_path(), runtime.path());
    EXPECT_NE(a.path(), b.path());
    struct stat st {};
    ASSERT_EQ(lstat(a.path().c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string first = a.path();
    ASSERT_TRUE(a.create());  // a new run: the old file goes
    EXPECT_FALSE(std::filesystem::exists(first));
    const std::string second = a.path();
    a.remove();
    EXPECT_FALSE(std::filesystem::exists(second));
    EXPECT_TRUE(a.path().empty());
}

TEST(XvidCompressor, TwoPassesShareTheRunsOwnStatisticsFile) {
    CODECS_REQUIRE_XVID();
    testing::TempDir dir;
    // Another user's link under the name every rip once used.
    const auto target = dir / "victim";
    testing::TempDir planted;
    std::filesystem::create_symlink(target, planted / "zembra-xvid.stats");
    testing::ScopedEnv env("TMPDIR", planted.path().string());

    const std::string stats = (dir / "run.stats").string();
    const int w = 64, h = 48;
    std::vector<uint8_t> picture(size_t(w) * h * 3, 90);
    for (int pass = 1; pass <= 2; ++pass) {
        auto c = openXvid();
        ASSERT_TRUE(c->configure("pass=" + std::to_string(pass)));
        c->useStatsFile(stats);
        ASSERT_TRUE(c->start(rgbHeader(w, h, 24))) << "pass " << pass;
        std::vector<uint8_t> out;
        bool key = false;
        for (int f = 0; f < 10; ++f) {
            ASSERT_TRUE(c->compress(picture.data(), out, key));
        }
        c->end();
        if (pass == 1) {
            EXPECT_GT(std::filesystem::file_size(stats), 0u);
        }
    }
    EXPECT_FALSE(std::filesystem::exists(target)) << "the planted link was followed";
}

// Bit rate of the frames against the target: one pass and two passes over a
// grainy clip. The short clip runs always; ZEMBRA_LONG_TESTS runs 30 seconds
// of 720x576.
TEST(XvidCompressor, RateControlLandsNearTheTargetBitRate) {
    CODECS_REQUIRE_XVID();
    CODECS_REQUIRE_FFMPEG();
    testing::TempDir dir;
    const bool full = std::getenv("ZEMBRA_LONG_TESTS") != nullptr;
    const int w = full ? 720 : 352, h = full ? 576 : 288, fps = 25;
    const int seconds = full ? 30 : 6;
    const int kbps = full ? 1800 : 900;
    const int grain = full ? 6 : 3;
    const std::string stats = (dir / "rate.stats").string();
    auto rateOf = [&](const Encoded& e) {
        return double(e.bytes) * 8 / (double(e.frames) / fps) / 1000;
    };

    auto one = openXvid();
    ASSERT_TRUE(one->configure("bitrate=" + std::to_string(kbps) + "\nquality=3"));
    Encoded single = encodeClip(*one, "bgr24", w, h, fps, seconds * fps, false, grain);
    ASSERT_TRUE(single.ok);
    ASSERT_EQ(single.frames, seconds * fps);

    auto first = openXvid();
    ASSERT_TRUE(first->configure("bitrate=" + std::to_string(kbps) +
                                 "\nquality=3\npass=1\nstats=" + stats));
    Encoded pass1 = encodeClip(*first, "bgr24", w, h, fps, seconds * fps, false, grain);
    ASSERT_TRUE(pass1.ok);
    ASSERT_GT(std::filesystem::file_size(stats), 0u) << "the first pass wrote no statistics";
    auto second = openXvid();
    ASSERT_TRUE(second->configure("bitrate=" + std::to_string(kbps) +
                                  "\nquality=3\npass=2\nstats=" + stats));
    Encoded pass2 = encodeClip(*second, "bgr24", w, h, fps, seconds * fps, false, grain);
    ASSERT_TRUE(pass2.ok);
    ASSERT_EQ(pass2.frames, seconds * fps);

    double r1 = rateOf(single), r2 = rateOf(pass2);
    std::printf(
        "target %d kbit/s, %dx%d, %d s: one pass %.1f (%+.2f %%), two pass %.1f (%+.2f %%)\n", kbps,
        w, h, seconds, r1, (r1 / kbps - 1) * 100, r2, (r2 / kbps - 1) * 100);
    EXPECT_NEAR(r1, kbps, kbps * 0.10);
    EXPECT_NEAR(r2, kbps, kbps * 0.05);
}

TEST(XvidCompressor, MissingLibraryListsNoXvidAndOpensNothing) {
    setXvidLibraryName("libzembra-no-such-xvidcore.so.4");
    EXPECT_FALSE(xvidLibraryLoaded());
    auto list = installedVideoCompressors();
    EXPECT_TRUE(std::none_of(list.begin(), list.end(),
                             [](const CompressorInfo& i) { return i.fccHandler == kHandlerXvid; }));
    EXPECT_EQ(list.size(), 2u);
    EXPECT_EQ(openXvid(), nullptr);
    setXvidLibraryName("");  // back to the usual name
}

}  // namespace
}  // namespace zembra::avi
