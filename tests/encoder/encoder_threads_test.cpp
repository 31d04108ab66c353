// The encoder's threads: the row pool runs every row once and in time, the
// video stream and the whole program stream are the same bytes at any thread
// count, and no thread outlives the encoder, even one closed midway. Kept
// small so that it also runs under ThreadSanitizer.

#include <dirent.h>

#include <atomic>
#include <cmath>
#include <new>

#include "encoder/mpeg_writer.h"
#include "encoder/row_pool.h"
#include "venc_support.h"

namespace zembra::venctest {
namespace {

int threadsOfProcess() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/task")) {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') ++n;
        ::closedir(d);
    }
    return n;
}

TEST(RowPool, RunsEveryRowOnceAndEachBeforeItIsWaitedFor) {
    for (int threads = 1; threads <= 4; ++threads) {
        SCOPED_TRACE(threads);
        RowPool pool(threads);
        EXPECT_EQ(pool.threads(), threads);
        for (int rows : {0, 1, 3, 37}) {
            std::vector<std::atomic<int>> runs(static_cast<std::size_t>(rows));
            pool.start(rows, [&](int r) { runs[static_cast<std::size_t>(r)].fetch_add(1); });
            for (int r = 0; r < rows; ++r) {
                pool.waitRow(r);
                EXPECT_EQ(runs[static_cast<std::size_t>(r)].load(), 1) << "row " << r;
            }
            pool.finish();
            for (int r = 0; r < rows; ++r) EXPECT_EQ(runs[static_cast<std::size_t>(r)].load(), 1);
        }
        // A batch left unfinished is finished by the next one.
        std::atomic<int> total{0};
        pool.start(9, [&](int) { ++total; });
        pool.run(5, [&](int) { ++total; });
        EXPECT_EQ(total.load(), 14);
    }
}

TEST(RowPool, LeavesNoThreadBehind) {
    const int before = threadsOfProcess();
    {
        // Outlives the pool: the rows it finishes as it goes still count.
        std::atomic<int> done{0};
        RowPool pool(4);
        EXPECT_EQ(threadsOfProcess(), before + 3);
        // Destroyed in the middle of a batch: the rows end, then the workers.
        pool.start(50, [&](int) { ++done; });
    }
    EXPECT_EQ(threadsOfProcess(), before);
}

struct Case {
    const char* what;
    bool mpeg2;
    int w, h;
    double fps;
    int motion;
    bool simd;
    int frames;
};

// Every search level and both kernel families, B pictures (10 pictures: a
// GOP's I P B B ... and the rest coded as anchors), PAL and NTSC, sizes whose
// rows do not fill the last macroblock row (interlaced MPEG-2 rounds the
// height up to 32).
const Case kCases[] = {
    {"MPEG-1 PAL search 0", false, 176, 144, 25, 0, true, 10},
    {"MPEG-1 PAL search 1 plain", false, 176, 144, 25, 1, false, 10},
    {"MPEG-2 NTSC search 2", true, 176, 112, 29.97, 2, true, 10},
    {"MPEG-2 PAL search 3 plain", true, 208, 144, 25, 3, false, 8},
    {"MPEG-2 PAL search 3 thinned", true, 240, 176, 25, 3, true, 7},
    // Best takes candidates from the previous anchor's vectors: 16 pictures
    // reach a second P picture and the B pictures after it.
    {"MPEG-2 PAL search 4", true, 240, 176, 25, kBestMotionSearch, true, 16},
    {"MPEG-1 NTSC search 4 plain", false, 176, 112, 29.97, kBestMotionSearch, false, 16},
};

// The cases and one of 128 rows, a height interlaced MPEG-2 codes as it is
// (a multiple of 32), so that its pictures can be handed over uncopied.
std::vector<Case> casesWithWholeFieldRows() {
    std::vector<Case> cases(std::begin(kCases), std::end(kCases));
    cases.push_back({"MPEG-2 PAL search 2, 128 rows", true, 176, 128, 25, 2, true, 10});
    return cases;
}

// A case's moving pictures (`seed` picks them) and its settings.
std::vector<Picture> casePictures(const Case& c, int seed) {
    std::vector<Picture> pics;
    for (int n = 0; n < c.frames; ++n) pics.push_back(synthetic(c.w, c.h, 3 * n, seed));
    return pics;
}
EncoderParams caseParams(const Case& c) {
    EncoderParams p = params(c.mpeg2, c.w, c.h, c.fps, c.mpeg2 ? 1500 : 800, c.frames);
    p.motionSearch = c.motion;
    p.simd = c.simd;
    applyStreamTables(p);
    return p;
}

TEST(ThreadedVideoEncoder, SameStreamAtAnyThreadCount) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        const std::vector<Picture> pics = casePictures(c, 7);
        EncoderParams p = caseParams(c);
        const EncoderKernels k = c.simd ? makeKernels(cpuLevel()) : plainKernels();
        p.threads = 1;
        const EncodeResult one = encode(p, pics, k);
        ASSERT_TRUE(one.ok);
        ASSERT_EQ(one.records.size(), pics.size());
        for (int threads = 2; threads <= 4; ++threads) {
            SCOPED_TRACE(threads);
            p.threads = threads;
            const EncodeResult more = encode(p, pics, k);
            ASSERT_TRUE(more.ok);
            EXPECT_TRUE(more.es == one.es) << "streams differ";
            ASSERT_EQ(more.units.size(), one.units.size());
            for (std::size_t u = 0; u < one.units.size(); ++u) {
                EXPECT_EQ(more.units[u].size, one.units[u].size) << "unit " << u;
                EXPECT_EQ(more.units[u].dts.base, one.units[u].dts.base) << "unit " << u;
            }
        }
    }
}

// Pictures lent in buffers of their own are taken instead of copied when
// they hold exactly the coded size; either way the stream is the one of
// pictures copied in. Interlaced MPEG-2 rounds the height up to 32 rows, so
// most of its sizes here are copied.
TEST(ThreadedVideoEncoder, LentPicturesGiveTheSameStream) {
    const std::vector<Case> cases = casesWithWholeFieldRows();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<Picture> pics = casePictures(c, 11);
        EncoderParams p = caseParams(c);
        p.threads = 2;
        const EncoderKernels k = c.simd ? makeKernels(cpuLevel()) : plainKernels();
        const EncodeResult copied = encode(p, pics, k);
        const EncodeResult lent = encode(p, pics, k, true, Handover::Lent);
        ASSERT_TRUE(copied.ok);
        ASSERT_TRUE(lent.ok);
        EXPECT_TRUE(lent.es == copied.es) << "streams differ";
        const bool fits = !c.mpeg2 || c.h % 32 == 0;
        EXPECT_EQ(lent.exchanged, fits ? c.frames : 0);
    }
}

// Pictures shared read-only are read where they lie, the encoder alone
// keeping them alive once handed over (AddressSanitizer sees a picture freed
// too early), never written, and all let go when the encoder ends; shared
// and copied pictures in turn give the ring frames up and take them back.
// The stream is the one of pictures copied in, at one thread and at two.
TEST(ThreadedVideoEncoder, SharedPicturesGiveTheSameStream) {
    const std::vector<Case> cases = casesWithWholeFieldRows();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<Picture> pics = casePictures(c, 13);
        EncoderParams p = caseParams(c);
        const EncoderKernels k = c.simd ? makeKernels(cpuLevel()) : plainKernels();
        for (int threads : {1, 2}) {
            SCOPED_TRACE(threads);
            p.threads = threads;
            const EncodeResult copied = encode(p, pics, k);
            ASSERT_TRUE(copied.ok);
            for (Handover h : {Handover::Shared, Handover::Alternating}) {
                const EncodeResult shared = encode(p, pics, k, true, h);
                ASSERT_TRUE(shared.ok);
                EXPECT_TRUE(shared.es == copied.es) << "streams differ";
                EXPECT_FALSE(shared.changed);
                EXPECT_EQ(shared.aliveAfterEnd, 0);
            }
        }
    }
}

// Out of memory in the coding stage while the pool's rows run: the throw
// reaches the caller once the rows are done (they read the coding call's
// own state), and the encoder then closes with no thread left running.
std::atomic<int> g_quantCalls{0};
int quantThrowingAt200(const std::int16_t* in, std::int16_t* out, const std::uint8_t* w, int q,
                       int clip) {
    if (++g_quantCalls == 200) throw std::bad_alloc();
    return plainKernels().quantNonIntra(in, out, w, q, clip);
}

TEST(ThreadedVideoEncoder, OutOfMemoryWhileCodingEndsTheRowsFirst) {
    std::vector<Picture> pics;
    for (int n = 0; n < 7; ++n) pics.push_back(synthetic(352, 288, 3 * n, 5));
    EncoderParams p = params(true, 352, 288, 25, 1500, 7);
    p.motionSearch = 2;
    p.threads = 4;
    applyStreamTables(p);
    EncoderKernels k = plainKernels();
    k.quantNonIntra = quantThrowingAt200;
    g_quantCalls = 0;
    EXPECT_THROW(encode(p, pics, k), std::bad_alloc);
    EXPECT_GE(g_quantCalls.load(), 200);
}

// A short piece through the MPEG writer: pictures and sound.
std::vector<std::uint8_t> writePiece(const fs::path& out, int threads, int pictures) {
    MpegOpenArgs a;
    a.outputPath = out.string();
    a.mpegStream = 1;
    a.frameCount = pictures;
    a.width = 176;
    a.height = 144;
    a.vbv = 112;
    a.videoKbps = 1500;
    a.audioBitRate = 10;
    a.frameRate = 25;
    a.overwrite = true;
    a.cpu = 0;
    a.motionSearch = 2;
    a.threads = threads;
    testing::RecordingHost host;
    MpegWriter w(host);
    EXPECT_TRUE(w.openMpeg(a));
    std::vector<std::int16_t> pcm(3528);
    for (int n = 0; n < pictures; ++n) {
        for (std::size_t i = 0; i < pcm.size(); ++i)
            pcm[i] = static_cast<std::int16_t>(8000 * std::sin((n * 3528.0 + i) * 0.01));
        const Picture p = synthetic(176, 144, 2 * n, 3);
        EXPECT_TRUE(w.writeMpegFrame(p.y.data(), p.u.data(), p.v.data(), pcm.data(), 3528));
    }
    EXPECT_TRUE(w.closeMpeg());
    EXPECT_TRUE(host.boxes.empty());
    return readFile(out);
}

TEST(ThreadedMpegWriter, SameProgramStreamAtAnyThreadCount) {
    const fs::path dir = workDir("threads");
    const auto one = writePiece(dir / "one.mpg", 1, 20);
    ASSERT_GT(one.size(), 0u);
    for (int threads : {2, 4}) {
        SCOPED_TRACE(threads);
        EXPECT_TRUE(writePiece(dir / ("t" + std::to_string(threads) + ".mpg"), threads, 20) == one);
    }
}

TEST(ThreadedMpegWriter, ClosedMidwayLeavesNoThreadBehind) {
    const fs::path dir = workDir("threads");
    const int before = threadsOfProcess();
    testing::RecordingHost host;
    CancelToken cancel;
    {
        MpegWriter w(host, &cancel);
        MpegOpenArgs a;
        a.outputPath = (dir / "cancel.mpg").string();
        a.mpegStream = 1;
        a.frameCount = 100;
        a.width = 176;
        a.height = 144;
        a.vbv = 112;
        a.frameRate = 25;
        a.overwrite = true;
        a.threads = 4;
        ASSERT_TRUE(w.openMpeg(a));
        EXPECT_GT(threadsOfProcess(), before);
        std::vector<std::int16_t> pcm(3528, 0);
        const Picture p = synthetic(176, 144, 0);
        for (int n = 0; n < 5; ++n)
            ASSERT_TRUE(w.writeMpegFrame(p.y.data(), p.u.data(), p.v.data(), pcm.data(), 3528));
        // The cancel press: the next picture ends the piece.
        cancel.request();
        EXPECT_FALSE(w.writeMpegFrame(p.y.data(), p.u.data(), p.v.data(), pcm.data(), 3528));
        EXPECT_EQ(threadsOfProcess(), before);
        // Opened again and dropped without a close.
        cancel.clear();
        ASSERT_TRUE(w.openMpeg(a));
        ASSERT_TRUE(w.writeMpegFrame(p.y.data(), p.u.data(), p.v.data(), pcm.data(), 3528));
    }
    EXPECT_EQ(threadsOfProcess(), before);
}

}  // namespace
}  // namespace zembra::venctest
