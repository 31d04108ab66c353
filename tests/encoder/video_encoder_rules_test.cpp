// The video encoder's fixed rules: coding order and GOPs, time stamps,
// pull-down flags, the quantiser's stickiness, macroblock modes, the motion
// search on a still scene and the header fields the parameters select.

#include <atomic>
#include <cstdint>

#include "platform/cpu.h"
#include "venc_support.h"

namespace zembra::venctest {
namespace {

TEST(VideoEncoderRules, CodingOrderOfTheFirstGopsWithNEqual15AndMEqual3) {
    const int display[] = {0, 3, 1, 2, 6, 4, 5, 9, 7, 8, 12, 10, 11, 15, 13, 14, 18, 16, 17};
    const int types[] = {1, 2, 3, 3, 2, 3, 3, 2, 3, 3, 2, 3, 3, 1, 3, 3, 2, 3, 3};
    for (int i = 0; i < 19; ++i) {
        const CodingStep s = codingStep(i, 1000);
        EXPECT_EQ(s.display, display[i]) << i;
        EXPECT_EQ(int(s.type), types[i]) << i;
    }
    // The first GOP holds 13 pictures and is closed; later ones hold 15 and
    // their GOP headers carry display 13, 28, ...
    const CodingStep first = codingStep(0, 1000);
    EXPECT_TRUE(first.newGop && first.firstGop);
    EXPECT_EQ(first.gopPictures, 13);
    EXPECT_EQ(first.gopP, 4);
    EXPECT_EQ(first.gopB, 8);
    for (int i : {13, 28, 43}) {
        const CodingStep s = codingStep(i, 1000);
        EXPECT_TRUE(s.newGop) << i;
        EXPECT_FALSE(s.firstGop) << i;
        EXPECT_EQ(s.gopStart, i) << i;
        EXPECT_EQ(s.gopPictures, 15);
        EXPECT_EQ(s.gopP, 4);
        EXPECT_EQ(s.gopB, 10);
        EXPECT_EQ(s.display - s.gopStart, 2) << "temporal_reference of the I picture";
    }
    // A short stream: the GOP count stops at the frame count.
    EXPECT_EQ(codingStep(0, 5).gopPictures, 5);
    EXPECT_EQ(codingStep(13, 20).gopPictures, 7);
    // Ring slots: display 0 in slot 0, then (f - 1) mod M.
    EXPECT_EQ(ringSlot(0), 0);
    EXPECT_EQ(ringSlot(1), 0);
    EXPECT_EQ(ringSlot(3), 2);
    EXPECT_EQ(ringSlot(6), 2);
}

TEST(VideoEncoderRules, TimeStampsWithAndWithoutPulldown) {
    const double T = 27000000.0 / 25;
    // Coding order 0 (I, display 0), 1 (P, 3), 2 (B, 1).
    EXPECT_DOUBLE_EQ(decodeTicks(0, 25, false), 0);
    EXPECT_DOUBLE_EQ(presentTicks(0, 25, false), T);
    EXPECT_DOUBLE_EQ(decodeTicks(1, 25, false), T);
    EXPECT_DOUBLE_EQ(presentTicks(3, 25, false), 4 * T);
    EXPECT_DOUBLE_EQ(decodeTicks(2, 25, false), 2 * T);
    EXPECT_DOUBLE_EQ(presentTicks(1, 25, false), 2 * T);
    // Pull-down: intervals alternate Tp and 1.5 Tp.
    const double tp = 1001.0 / 30000 * 27000000;
    EXPECT_NEAR(decodeTicks(1, 23.976, true), tp, 1e-6);
    EXPECT_NEAR(decodeTicks(2, 23.976, true), 2.5 * tp, 1e-6);
    EXPECT_NEAR(decodeTicks(3, 23.976, true), 3.5 * tp, 1e-6);
    EXPECT_NEAR(presentTicks(0, 23.976, true), tp, 1e-6);
    EXPECT_NEAR(presentTicks(1, 23.976, true), 2.5 * tp, 1e-6);
    // B pictures are shown when decoded.
    EXPECT_DOUBLE_EQ(presentTicks(1, 23.976, true), decodeTicks(2, 23.976, true));
    // The flags by display number mod 4.
    const int tff[] = {1, 0, 0, 1, 1}, rff[] = {1, 0, 1, 0, 1};
    for (int f = 0; f < 5; ++f) {
        int t = -1, r = -1;
        pulldownFlags(f, t, r);
        EXPECT_EQ(t, tff[f]) << f;
        EXPECT_EQ(r, rff[f]) << f;
    }
}

TEST(VideoEncoderRules, QuantiserAndMacroblockModeDecisions) {
    EXPECT_EQ(stickToStartQ(23, 20), 20);
    EXPECT_EQ(stickToStartQ(25, 20), 25);
    EXPECT_EQ(stickToStartQ(8, 6), 6);
    EXPECT_EQ(stickToStartQ(7, 6), 7);
    EXPECT_EQ(stickToStartQ(2, 6), 2);
    // P: intra only above both the variance and 2304.
    EXPECT_NE(decideP(2303, 0, 100000), MbMode::Intra);
    EXPECT_EQ(decideP(2400, 2300, 100000), MbMode::Intra);
    EXPECT_NE(decideP(2400, 2400, 100000), MbMode::Intra);
    // The vector is used only when it saves more than a fifth over zero.
    EXPECT_EQ(decideP(1000, 5000, 3000), MbMode::Forward);
    EXPECT_EQ(decideP(2000, 5000, 2400), MbMode::NoMc);  // 4 vz = 9600 < 10000
    EXPECT_EQ(decideP(100, 5000, 2000), MbMode::NoMc);   // vz below 2304
    // B: forward on ties, then interpolated, then backward; intra last.
    EXPECT_EQ(decideB(500, 500, 500, 100000), MbMode::Forward);
    EXPECT_EQ(decideB(600, 500, 400, 100000), MbMode::Interpolated);
    EXPECT_EQ(decideB(600, 400, 400, 100000), MbMode::Backward);
    EXPECT_EQ(decideB(3000, 3100, 3200, 2000), MbMode::Intra);
    EXPECT_EQ(decideB(2300, 3100, 3200, 2000), MbMode::Forward);
}

std::atomic<int> g_sadCalls{0};
// The motion search's SAD (on the packed macroblock), counted.
int countingSad(const std::uint8_t* blk, const std::uint8_t* ref, int stride, int limit) {
    ++g_sadCalls;
    return plainKernels().sad16Packed(blk, ref, stride, limit);
}

TEST(VideoEncoderRules, StillSceneStopsTheSearchAtTheFirstZeroSad) {
    EncoderKernels k = plainKernels();
    k.sad16Packed = countingSad;
    // 128 lines: a whole number of 32-line rows, as interlaced coding wants.
    EncoderParams p = params(true, 176, 128, 25, 2000, 4);
    p.simd = false;
    applyStreamTables(p);
    const Picture still = synthetic(176, 128, 0);
    std::vector<Picture> pics(4, still);
    g_sadCalls = 0;
    EncodeResult r = encode(p, pics, k);
    ASSERT_TRUE(r.ok);
    // Coding order I0 P3 B1 B2: one P search and two B searches each way.
    // Per search and macroblock: one integer SAD of 0 ends the integer
    // search; the half-pel refinement around it (against the reconstructed
    // reference, so not always 0) takes at most nine more. A search that went
    // on past the zero would need some hundred SADs for the P picture alone.
    const int mbs = (176 / 16) * (128 / 16);
    const int searches = mbs * (1 + 2 * 2);
    EXPECT_GE(g_sadCalls.load(), 2 * searches);
    EXPECT_LE(g_sadCalls.load(), 10 * searches);
}

// A texture that repeats every 6 columns and 4 lines and moves: every
// candidate a whole number of periods from the true vector has the same SAD,
// so the search's ties decide nearly every vector: the first SAD of 0 in the
// scan (the still shade), or else the nearer vector, then the earlier in the
// scan (a shade lighter each picture: no SAD is 0). The streams' checksums
// are those of the plain scan from the top-left corner, whatever order the
// search tries candidates in.
std::uint64_t fnv1a(const std::vector<std::uint8_t>& bytes) {
    std::uint64_t h = 14695981039346656037u;
    for (std::uint8_t b : bytes) h = (h ^ b) * 1099511628211u;
    return h;
}

std::vector<Picture> periodicTexture(int w, int h, int frames, int shadeStep) {
    std::vector<Picture> pics;
    for (int n = 0; n < frames; ++n) {
        Picture pic{w, h, std::vector<std::uint8_t>(w * h),
                    std::vector<std::uint8_t>(w * h / 4, 128),
                    std::vector<std::uint8_t>(w * h / 4, 128)};
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                pic.y[y * w + x] = static_cast<std::uint8_t>(40 + 20 * ((x + 3 * n) % 6) +
                                                             7 * ((y + 2 * n) % 4) + shadeStep * n);
        pics.push_back(std::move(pic));
    }
    return pics;
}

TEST(VideoEncoderRules, TiedCandidatesGoToTheFirstZeroOrTheNearestThenTheFirstScanned) {
    const int w = 176, h = 128;
    // By shade step (0, 3), thinned (no, yes) and motion search 0-3.
    const std::uint64_t expected[2][2][4] = {
        {{18251160394934082701u, 4422946718756687073u, 7215297393223875175u, 3673039878576419575u},
         {18330470273696259308u, 1716449170707514680u, 8152646192584727578u,
          16991815788714896861u}},
        {{2282148309758112168u, 18008548190960858146u, 862197529422175861u, 10685801598982067588u},
         {2282148309758112168u, 12087406709447896012u, 17621372165310390544u,
          9631681842474139049u}},
    };
    for (int shade = 0; shade < 2; ++shade) {
        const std::vector<Picture> pics = periodicTexture(w, h, 7, 3 * shade);
        for (int thinned = 0; thinned < 2; ++thinned)
            for (int search = 0; search < 4; ++search) {
                EncoderParams p = params(true, w, h, 25, 1500, 7);
                p.simd = thinned == 1;
                p.motionSearch = search;
                applyStreamTables(p);
                for (const EncoderKernels& k : {plainKernels(), makeKernels(cpuLevel())}) {
                    const EncodeResult r = encode(p, pics, k);
                    ASSERT_TRUE(r.ok);
                    EXPECT_EQ(fnv1a(r.es), expected[shade][thinned][search])
                        << "shade " << shade << ", thinned " << thinned << ", search " << search;
                }
            }
    }
}

// Failures come back to the caller with their key and detail (a refused
// unit with the sink's); the encoder shows nothing itself.
TEST(VideoEncoderRules, FailuresAreReturnedNotShown) {
    testing::RecordingHost host;
    EsStore store;
    VideoEncoder enc(host);
    const Picture pic = synthetic(176, 128, 0);
    const EncoderParams p = params(true, 176, 128, 25, 2000, 8);
    int units = 0;
    ASSERT_TRUE(enc.videoStart(p, plainKernels(), store, [&](const VideoUnit&) {
        // The second picture's unit is refused.
        return ++units < 2 ? Status{} : Status::warning("STR_ERROR_100");
    }));
    for (int n = 0; n < kAnchorDistance; ++n)
        ASSERT_TRUE(enc.videoPut(pic.y.data(), pic.u.data(), pic.v.data()));
    const Status full = enc.videoPut(pic.y.data(), pic.u.data(), pic.v.data());
    EXPECT_FALSE(full.ok());
    EXPECT_EQ(full.kind(), BoxKind::Error);
    EXPECT_EQ(full.key(), "STR_ERROR_402");
    EXPECT_EQ(full.detail(), "3");
    EXPECT_TRUE(enc.videoCodeNext().ok());
    EXPECT_EQ(enc.videoCodeNext().key(), "STR_ERROR_100");
    enc.videoEnd();
    EXPECT_TRUE(host.boxes.empty());
}

// Header fields: frame_rate_code 4 and the repeat_first_field pattern with
// pull-down; the "Default" non-intra matrix in zigzag order.
TEST(VideoEncoderRules, HeadersCarryRateCodeFlagsAndMatrix) {
    EncoderParams p = params(true, 176, 144, 23.976, 2000, 8);
    p.pulldown = true;
    p.quantMat = 0;
    applyStreamTables(p);
    std::vector<Picture> pics;
    for (int n = 0; n < 8; ++n) pics.push_back(synthetic(176, 144, n));
    EncodeResult r = encode(p, pics, makeKernels(cpuLevel()));
    ASSERT_TRUE(r.ok);
    ASSERT_GT(r.es.size(), 100u);
    ASSERT_EQ(r.es[3], 0xB3);
    EXPECT_EQ(r.es[7] & 15, 4);
    // load_intra 0, load_non_intra 1, then 64 values from bit 1 of byte 11.
    EXPECT_EQ(r.es[11] & 2, 0);
    EXPECT_EQ(r.es[11] & 1, 1);
    const auto m = defaultNonIntraMatrix();
    for (int i = 0; i < 64; ++i) EXPECT_EQ(r.es[12 + i], m[mpeg::kZigZag[i]]) << i;
    EXPECT_EQ(m[0], 16);
    EXPECT_EQ(m[63], 33);
    for (const PictureRecord& rec : r.records) {
        int t, rf;
        pulldownFlags(rec.display, t, rf);
        EXPECT_EQ(rec.repeatFirstField, rf) << rec.display;
        EXPECT_EQ(rec.topFieldFirst, t) << rec.display;
    }
    // The picture coding extensions in the stream carry the same flags.
    int seen = 0;
    for (std::size_t i = 0; i + 9 < r.es.size(); ++i) {
        if (r.es[i] || r.es[i + 1] || r.es[i + 2] != 1 || r.es[i + 3] != 0xB5) continue;
        if ((r.es[i + 4] >> 4) != 8) continue;
        // Byte 7: tff, frame_pred_frame_dct, concealment, q_scale_type,
        // intra_vlc_format, alternate_scan, rff, chroma_420_type.
        const int t = r.es[i + 7] >> 7, rf = (r.es[i + 7] >> 1) & 1;
        const PictureRecord& rec = r.records[static_cast<std::size_t>(seen)];
        EXPECT_EQ(t, rec.topFieldFirst) << seen;
        EXPECT_EQ(rf, rec.repeatFirstField) << seen;
        ++seen;
    }
    EXPECT_EQ(seen, 8);

    // "Standard": flat matrix, not transmitted.
    p.quantMat = 1;
    p.pulldown = false;
    applyStreamTables(p);
    EncodeResult flat = encode(p, pics, makeKernels(cpuLevel()));
    ASSERT_TRUE(flat.ok);
    EXPECT_EQ(flat.es[7] & 15, 1);
    EXPECT_EQ(flat.es[11] & 3, 0);
    EXPECT_EQ(flat.es[12], 0x00);  // the sequence extension's start code follows
    EXPECT_EQ(flat.es[15], 0xB5);
}

TEST(VideoEncoderRules, MotionRangesAndFcodesFollowTheSearchSetting) {
    const int pRange[] = {9, 18, 27, 36};
    const int pCode[] = {2, 3, 3, 4};
    for (int s = 0; s < 4; ++s) {
        EncoderParams p = params(true, 352, 288, 25, 2000, 10);
        p.motionSearch = s;
        applyStreamTables(p);
        EXPECT_EQ(p.pRange, pRange[s]);
        EXPECT_EQ(p.pFcode, pCode[s]);
        EXPECT_EQ(p.bForwardRange[1], 3 * s + 3);
        EXPECT_EQ(p.bForwardRange[2], 6 * s + 6);
        EXPECT_EQ(p.bBackwardRange, ((3 * s + 3) / 2) * 2);
    }
    EncoderParams best = params(true, 352, 288, 25, 2000, 10);
    best.motionSearch = kBestMotionSearch;
    applyStreamTables(best);
    EXPECT_EQ(best.pRange, 48);
    EXPECT_EQ(best.pFcode, 4);
    EXPECT_EQ(best.bForwardRange[2], 32);
    EXPECT_EQ(fCodeFor(63, false, false), 4);
    EXPECT_EQ(fCodeFor(200, false, false), 4);
    EXPECT_EQ(fCodeFor(200, true, false), 6);
    EXPECT_EQ(fCodeFor(200, true, true), 5);
    FrameRateInfo r;
    ASSERT_TRUE(matchFrameRate(23.976, r));
    EXPECT_EQ(r.frameRateCode, 1);
    ASSERT_TRUE(matchFrameRate(25, r));
    EXPECT_EQ(r.videoFormat, 1);
    EXPECT_EQ(r.colourPrimaries, 5);
    EXPECT_FALSE(matchFrameRate(24.5, r));
}

}  // namespace
}  // namespace zembra::venctest
