// The frame pipeline end to end on streams made by ffmpeg, spumux and
// dvdauthor: decoder -> frame queue (pacing, PCM, subtitles) -> output
// geometry, checked against the known subtitle bitmap and against ffmpeg's
// own bilinear scaling.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "audio/audio_decoder.h"
#include "decoder/frame_source.h"
#include "dvd/source_reader.h"
#include "dvd/title_catalogue.h"
#include "dvd/title_set.h"
#include "geometry/output_geometry.h"
#include "support/recording_host.h"

namespace zembra {
namespace {

const std::string& fixtures() {
    static const std::string dir = std::string(ZEMBRA_BINARY_DIR) + "/fixtures/frames";
    static const int made = std::system(("bash " + std::string(ZEMBRA_SOURCE_DIR) +
                                         "/tests/geometry/make_fixtures.sh " + dir + " >/dev/null")
                                            .c_str());
    static const std::string result = made == 0 ? dir : "";
    return result;
}

#define REQUIRE_FIXTURES()                                                      \
    do {                                                                        \
        if (fixtures().empty()) {                                               \
            if (std::getenv("CI")) FAIL() << "ffmpeg/spumux/dvdauthor missing"; \
            GTEST_SKIP() << "ffmpeg/spumux/dvdauthor missing";                  \
        }                                                                       \
    } while (0)

struct Frame {
    std::vector<uint8_t> y, cb, cr;
};

struct Result {
    std::vector<Frame> frames;
    std::vector<int> pcmCounts;
    int64_t pcmValues = 0;
    int width = 0, height = 0;
    double sourceRate = 0;
    SubpicturePalette palette{};
};

// Runs a title (or a plain file when title < 1) through getNextFrame.
Result run(const std::string& source, int title, DecoderOpenParams params, int runMode,
           int maxFrames = 1000) {
    Result r;
    testing::RecordingHost host;
    TitleCatalogue catalogue;
    SourceReader reader(host, catalogue);
    Mpeg2Decoder decoder(host, catalogue);
    auto input = makeSourceReaderInput(reader);
    AudioDecoder audio(host);
    FrameQueue queue(host);
    DecoderFrameSource frames(decoder, queue, &audio);
    if (title >= 1) {
        auto sets = findTitleSets(source);
        EXPECT_FALSE(sets.empty());
        if (sets.empty() || !parseIfo(catalogue, sets.front().ifo, host)) return r;
        params.files = sets.front().vobs;
        params.title = title - 1;
        decoder.setInput(input.get());
        r.palette = catalogue.titles[0].palette;
    } else {
        params.files = {source};
    }
    decoder.setRunMode(runMode);
    int chroma = 0;
    if (!frames.openDecoder(params, r.sourceRate, chroma, r.width, r.height)) return r;
    FrameRecord f;
    int w = 0, h = 0, count = 0;
    const int16_t* pcm = nullptr;
    const PlaneLayout l = PlaneLayout::make(r.width, r.height, chroma);
    while (int(r.frames.size()) < maxFrames && frames.getNextFrame(f, w, h, pcm, count) == 1) {
        r.frames.push_back({std::vector<uint8_t>(f.y, f.y + l.planeSize(0)),
                            std::vector<uint8_t>(f.cb, f.cb + l.planeSize(1)),
                            std::vector<uint8_t>(f.cr, f.cr + l.planeSize(2))});
        r.pcmCounts.push_back(count);
        r.pcmValues += count;
    }
    decoder.closeDecoder();
    EXPECT_TRUE(host.boxes.empty()) << (host.boxes.empty() ? "" : host.boxes[0].text);
    return r;
}

TEST(FramePipeline, SubtitleBurntInWithinItsWindowAtItsPlace) {
    REQUIRE_FIXTURES();
    const std::string disc = fixtures() + "/sub";
    DecoderOpenParams p;
    p.detect24Fps = 0;
    p.subtitleStream = 0;
    p.subColor = true;
    Result with = run(disc, 1, p, 2);
    p.subtitleStream = -1;
    Result without = run(disc, 1, p, 2);
    p.subtitleStream = 0;
    p.subColor = false;
    Result white = run(disc, 1, p, 2);
    ASSERT_GE(with.frames.size(), 90u);
    ASSERT_EQ(with.frames.size(), without.frames.size());
    ASSERT_EQ(with.width, 720);

    // Frames differing from the plain decode inside the box, and nowhere else.
    std::vector<int> shown;
    for (size_t i = 0; i < with.frames.size(); ++i) {
        const Frame& a = with.frames[i];
        const Frame& b = without.frames[i];
        bool inside = false, outside = false;
        for (int y = 0; y < 576; ++y)
            for (int x = 0; x < 720; ++x) {
                if (a.y[size_t(y * 720 + x)] == b.y[size_t(y * 720 + x)]) continue;
                (x >= 200 && x < 520 && y >= 476 && y < 516 ? inside : outside) = true;
            }
        EXPECT_FALSE(outside) << "frame " << i;
        if (inside) shown.push_back(int(i));
    }
    ASSERT_FALSE(shown.empty());
    // Contiguous, from about 0.5 s (frame 12) to 2.0 s + 0.3 s (frame 57). The
    // unit is muxed behind the video of its first frames, which are emitted
    // before it arrives, so the start may come a few frames late.
    EXPECT_EQ(shown.back() - shown.front() + 1, int(shown.size()));
    EXPECT_GE(shown.front(), 11);
    EXPECT_LE(shown.front(), 20);
    EXPECT_NEAR(shown.back(), 57, 4);

    // The whole box and nothing beside it, in the title's palette or white.
    const int f = shown[shown.size() / 2];
    const Frame& a = with.frames[size_t(f)];
    const Frame& b = without.frames[size_t(f)];
    const Frame& wf = white.frames[size_t(f)];
    const float alpha = 240 / 255.0f;
    int paletteLuma = -1;
    for (int y = 476; y < 516; y += 13)
        for (int x = 200; x < 520; x += 17) {
            const size_t at = size_t(y * 720 + x);
            EXPECT_NE(a.y[at], b.y[at]) << x << "," << y;
            EXPECT_EQ(wf.y[at], uint8_t(alpha * 255 + (1 - alpha) * b.y[at])) << x << "," << y;
            // Recover the palette luma that was blended in.
            const int ysub = int(std::lround((a.y[at] - (1 - alpha) * b.y[at]) / alpha));
            if (paletteLuma < 0) paletteLuma = ysub;
            EXPECT_NEAR(ysub, paletteLuma, 2);
        }
    bool inPalette = false;
    for (const auto& e : with.palette) inPalette |= std::abs(e[0] - paletteLuma) <= 2;
    EXPECT_TRUE(inPalette) << paletteLuma;
    for (int y : {474, 517}) EXPECT_EQ(a.y[size_t(y * 720 + 300)], b.y[size_t(y * 720 + 300)]);
    for (int x : {198, 521}) EXPECT_EQ(a.y[size_t(490 * 720 + x)], b.y[size_t(490 * 720 + x)]);
}

TEST(FramePipeline, PcmFollowsTheFramesOverTheTitle) {
    REQUIRE_FIXTURES();
    const std::string disc = fixtures() + "/sub";
    for (int downSampling : {0, 4}) {
        DecoderOpenParams p;
        p.detect24Fps = 0;
        p.downSampling = downSampling;
        p.frameRate = 2;
        Result r = run(disc, 1, p, 1);
        ASSERT_GT(r.frames.size(), 80u);
        const int perFrame = downSampling == 0 ? 1764 : 1920;
        for (int c : r.pcmCounts) ASSERT_EQ(c, 2 * perFrame);
    }
    // 25 fps shown at 29.97: repeats, and the PCM still follows the frames.
    DecoderOpenParams p;
    p.detect24Fps = 0;
    p.downSampling = 4;
    p.frameRate = 3;
    Result r = run(disc, 1, p, 1);
    ASSERT_GT(r.frames.size(), 100u);
    const double perFrame = 48000 / (30000.0 / 1001);
    EXPECT_NEAR(double(r.pcmValues) / 2, double(r.frames.size()) * perFrame, perFrame);
    int repeats = 0;
    for (size_t i = 1; i < r.frames.size(); ++i) repeats += r.frames[i].y == r.frames[i - 1].y;
    EXPECT_NEAR(double(repeats) / double(r.frames.size()), 1 - 25 / 29.97, 0.03);
}

double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    double se = 0;
    for (size_t i = 0; i < a.size(); ++i) se += double(a[i] - b[i]) * (a[i] - b[i]);
    const double mse = se / double(a.size());
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

// Our bilinear geometry and ffmpeg's bilinear scaling of the same frame.
std::vector<double> compareWithFfmpeg(const Frame& f, int ws, int hs, int wo, int ho) {
    const std::string dir = fixtures() + "/psnr";
    std::filesystem::create_directories(dir);
    {
        std::ofstream raw(dir + "/in.yuv", std::ios::binary);
        raw.write(reinterpret_cast<const char*>(f.y.data()), std::streamsize(f.y.size()));
        raw.write(reinterpret_cast<const char*>(f.cb.data()), std::streamsize(f.cb.size()));
        raw.write(reinterpret_cast<const char*>(f.cr.data()), std::streamsize(f.cr.size()));
    }
    const std::string cmd = "ffmpeg -nostdin -loglevel error -y -f rawvideo -pix_fmt yuv420p -s " +
                            std::to_string(ws) + "x" + std::to_string(hs) + " -i " + dir +
                            "/in.yuv -vf scale=" + std::to_string(wo) + ":" + std::to_string(ho) +
                            ":flags=bilinear -f rawvideo -pix_fmt yuv420p " + dir + "/out.yuv";
    if (std::system(cmd.c_str()) != 0) return {};
    std::ifstream in(dir + "/out.yuv", std::ios::binary);
    std::vector<uint8_t> ref((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());

    GeometryParams g;
    g.width = wo, g.height = ho, g.ratio = 3, g.videoResize = 2;
    g.sourceWidth = ws, g.sourceHeight = hs;
    OutputGeometry geometry;
    EXPECT_TRUE(geometry.prepare(g));
    const size_t ls = size_t(wo * ho), cs = size_t((wo / 2) * (ho / 2));
    std::vector<uint8_t> ours(ls + 2 * cs);
    const uint8_t* src[3] = {f.y.data(), f.cb.data(), f.cr.data()};
    uint8_t* dst[3] = {ours.data(), ours.data() + ls, ours.data() + ls + cs};
    geometry.apply(src, dst);
    if (ref.size() != ours.size()) return {};
    std::vector<double> result;
    for (int p = 0; p < 3; ++p) {
        const size_t off = p == 0 ? 0 : ls + size_t(p - 1) * cs, n = p == 0 ? ls : cs;
        result.push_back(
            psnr(std::vector<uint8_t>(ours.begin() + long(off), ours.begin() + long(off + n)),
                 std::vector<uint8_t>(ref.begin() + long(off), ref.begin() + long(off + n))));
    }
    return result;
}

TEST(FramePipeline, BilinearMatchesFfmpegScaling) {
    REQUIRE_FIXTURES();
    DecoderOpenParams p;
    p.detect24Fps = 0;
    // Test card: sharp edges, so only luma is held to 30 dB (chroma edges alias
    // differently with a 2-tap kernel than with swscale's widened filter).
    Result card = run(fixtures() + "/sub", 1, p, 2, 10);
    ASSERT_GE(card.frames.size(), 10u);
    for (auto [wo, ho] : {std::pair{352, 288}, std::pair{640, 480}}) {
        auto db = compareWithFfmpeg(card.frames[5], 720, 576, wo, ho);
        ASSERT_EQ(db.size(), 3u);
        EXPECT_GE(db[0], 30.0) << wo;
        std::printf("test card %dx%d: PSNR Y %.2f Cb %.2f Cr %.2f dB\n", wo, ho, db[0], db[1],
                    db[2]);
    }
    // Smooth gradients: every plane close.
    Result grad = run(fixtures() + "/gradient.m2v", 0, p, 2, 10);
    ASSERT_GE(grad.frames.size(), 5u);
    auto db = compareWithFfmpeg(grad.frames[3], 720, 576, 352, 288);
    ASSERT_EQ(db.size(), 3u);
    for (double d : db) EXPECT_GE(d, 40.0);
    std::printf("gradient 352x288: PSNR Y %.2f Cb %.2f Cr %.2f dB\n", db[0], db[1], db[2]);
}

}  // namespace
}  // namespace zembra
