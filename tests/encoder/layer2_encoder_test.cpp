#include "encoder/layer2/layer2_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <memory>
#include <new>
#include <random>

#include "encoder/layer2/layer2_kernels.h"
#include "encoder/layer2/psycho_model.h"
#include "encoder/mux/multiplexer.h"
#include "mux_support.h"
#include "support/cpu_levels.h"
#include "support/recording_host.h"

namespace zembra {
namespace {

using testing::RecordingHost;

struct Coded {
    std::vector<AudioUnit> units;
    std::vector<int> padding;
    EsStore store;
};

// Codes the whole PCM through the encoder; a short tail becomes a last
// zero-padded frame.
void encodeAll(const std::vector<std::int16_t>& pcm, int bitrateIndex, Coded& out,
               RecordingHost& host, double fps = 25.0, bool ownThread = false) {
    Layer2Encoder enc(host);
    Layer2Settings settings;
    settings.bitrateIndex = bitrateIndex;
    settings.frameRate = fps;
    settings.ownThread = ownThread;
    ASSERT_TRUE(enc.audioStart(settings, out.store, [&](const AudioUnit& u) {
        out.units.push_back(u);
        return Status{};
    }));
    PcmStore store;
    std::size_t at = 0;
    while (at < pcm.size() || store.size() > 0) {
        const std::size_t n = std::min<std::size_t>(3528, pcm.size() - at);
        ASSERT_TRUE(store.append(pcm.data() + at, n));
        at += n;
        while (store.size() > static_cast<std::size_t>(Layer2Encoder::kFrameValues)) {
            ASSERT_TRUE(enc.audioEncodeFrame(store));
            out.padding.push_back(enc.lastPadding());
        }
        if (at >= pcm.size()) {
            while (store.size() > 0) {
                ASSERT_TRUE(enc.audioEncodeFrame(store, true));
                out.padding.push_back(enc.lastPadding());
            }
        }
    }
    enc.audioEnd();
}

TEST(Layer2Encoder, PaddingFollowsTheSlotLag) {
    RecordingHost host;
    std::vector<std::int16_t> silence(2 * 1152 * 14, 0);
    Coded at224;
    encodeAll(silence, 11, at224, host);
    ASSERT_EQ(at224.padding.size(), 14u);
    EXPECT_EQ(at224.padding, (std::vector<int>{0, 1, 0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 1, 0}));
    long slots = 0;
    for (std::size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(at224.units[i].size, 731 + at224.padding[i]);
        slots += at224.units[i].size;
    }
    EXPECT_EQ(slots, 5120);

    Coded at192;
    encodeAll(std::vector<std::int16_t>(2 * 1152 * 50, 0), 10, at192, host);
    int padded = 0;
    for (int p : at192.padding) padded += p;
    EXPECT_GE(padded, 45);
    EXPECT_LT(padded, 50);
    EXPECT_EQ(at192.units[1].size, 627);
    EXPECT_TRUE(host.boxes.empty());
}

TEST(Layer2Encoder, SilenceGivesFullFramesWithValidHeaders) {
    RecordingHost host;
    Coded c;
    encodeAll(std::vector<std::int16_t>(2 * 1152 * 3, 0), 11, c, host);
    ASSERT_EQ(c.units.size(), 3u);
    std::size_t at = 0;
    for (std::size_t i = 0; i < c.units.size(); ++i) {
        const std::uint8_t* f = c.store.data() + at;
        EXPECT_EQ(f[0], 0xFF);
        EXPECT_EQ(f[1], 0xFD);  // MPEG-1, layer II, no CRC
        EXPECT_EQ(f[2] >> 4, 11);
        EXPECT_EQ((f[2] >> 2) & 3, 0);  // 44.1 kHz
        EXPECT_EQ((f[2] >> 1) & 1, c.padding[i]);
        EXPECT_EQ(f[3], 0x00);  // stereo, no emphasis
        at += static_cast<std::size_t>(c.units[i].size);
    }
    EXPECT_EQ(at, c.store.size());
}

TEST(Layer2Encoder, StampsStartOneVideoFrameIn) {
    RecordingHost host;
    Coded c;
    encodeAll(std::vector<std::int16_t>(2 * 1152 * 2, 0), 11, c, host, 25.0);
    ASSERT_EQ(c.units.size(), 2u);
    EXPECT_DOUBLE_EQ(clockTicks(c.units[0].pts), 1080000.0);  // 40 ms
    const double step = clockTicks(c.units[1].pts) - clockTicks(c.units[0].pts);
    EXPECT_NEAR(step, 1152 / 44.1 * 27000.0, 300.0);
}

TEST(Layer2Encoder, ShortStoreWarnsUnlessItIsTheLastFrame) {
    RecordingHost host;
    EsStore es;
    Layer2Encoder enc(host);
    int units = 0;
    ASSERT_TRUE(enc.audioStart({}, es, [&](const AudioUnit&) { return ++units, Status{}; }));
    PcmStore pcm;
    std::vector<std::int16_t> some(1000, 100);
    ASSERT_TRUE(pcm.append(some.data(), some.size()));
    const Status shortStore = enc.audioEncodeFrame(pcm);
    EXPECT_FALSE(shortStore.ok());
    EXPECT_EQ(shortStore.kind(), BoxKind::Warning);
    EXPECT_EQ(shortStore.key(), "STR_ERROR_355");
    EXPECT_EQ(shortStore.detail(), " 0");
    // At the close of a piece the rest is coded, completed with silence.
    EXPECT_TRUE(enc.audioEncodeFrame(pcm, true));
    EXPECT_EQ(pcm.size(), 0u);
    EXPECT_EQ(units, 1);
    EXPECT_EQ(es.size(), 731u);
}

// The end of a piece codes the samples short of a frame instead of
// dropping them, so the sound lasts as long as the pictures.
TEST(Layer2Encoder, EndCodesTheLeftOverSamples) {
    RecordingHost host;
    EsStore es;
    Layer2Encoder enc(host);
    int units = 0;
    ASSERT_TRUE(enc.audioStart({}, es, [&](const AudioUnit&) { return ++units, Status{}; }));
    PcmStore pcm;
    std::vector<std::int16_t> samples(2304 + 1000, 300);
    ASSERT_TRUE(pcm.append(samples.data(), samples.size()));
    while (pcm.size() > 2304) ASSERT_TRUE(enc.audioEncodeFrame(pcm));
    EXPECT_EQ(units, 1);
    enc.audioEnd();
    EXPECT_EQ(units, 2);
    EXPECT_EQ(pcm.size(), 0u);
    EXPECT_FALSE(enc.running());
    EXPECT_TRUE(host.boxes.empty());
}

TEST(Layer2Encoder, RefusedUnitOrFullStoreStopsTheEncoder) {
    RecordingHost host;
    EsStore es;
    Layer2Encoder enc(host);
    ASSERT_TRUE(
        enc.audioStart({}, es, [](const AudioUnit&) { return Status::warning("STR_ERROR_101"); }));
    PcmStore pcm;
    std::vector<std::int16_t> frame(2304, 0);
    ASSERT_TRUE(pcm.append(frame.data(), frame.size()));
    EXPECT_EQ(enc.audioEncodeFrame(pcm).key(), "STR_ERROR_101");

    // A store that has overflowed takes no more audio.
    EsStore full;
    std::vector<std::uint8_t> big(EsStore::kCapacity + 1);
    EXPECT_FALSE(full.append(big.data(), big.size()));
    ASSERT_TRUE(enc.audioStart({}, full, [](const AudioUnit&) { return Status{}; }));
    // More than a frame waits: the failed store is not offered the rest,
    // and the error is told once.
    ASSERT_TRUE(pcm.append(frame.data(), frame.size()));
    ASSERT_TRUE(pcm.append(frame.data(), 100));
    EXPECT_EQ(enc.audioEncodeFrame(pcm).key(), "STR_ERROR_341");
    EXPECT_FALSE(enc.running());
    const Status again = enc.audioEncodeFrame(pcm);
    EXPECT_FALSE(again.ok());
    EXPECT_FALSE(again.hasMessage());
    EXPECT_TRUE(host.boxes.empty());
}

long threadsOfProcess() {
    namespace fs = std::filesystem;
    return std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator{});
}

// On its own thread the encoder codes the same frames in the same order,
// however many are handed over before they are collected.
TEST(Layer2Encoder, OwnThreadCodesTheSameFrames) {
    const std::vector<std::int16_t> music = muxtest::musicSignal(3);
    RecordingHost host;
    Coded alone, beside;
    encodeAll(music, 10, alone, host);
    encodeAll(music, 10, beside, host, 25.0, true);
    EXPECT_TRUE(host.boxes.empty());
    ASSERT_EQ(beside.units.size(), alone.units.size());
    EXPECT_EQ(beside.padding, alone.padding);
    ASSERT_EQ(beside.store.size(), alone.store.size());
    EXPECT_EQ(std::memcmp(beside.store.data(), alone.store.data(), alone.store.size()), 0);

    // Batches larger than the queue, then a drop with frames still queued.
    const int before = threadsOfProcess();
    EsStore es;
    std::vector<AudioUnit> units;
    Layer2Settings settings;
    settings.bitrateIndex = 10;
    settings.ownThread = true;
    {
        Layer2Encoder enc(host);
        ASSERT_TRUE(enc.audioStart(settings, es, [&](const AudioUnit& u) {
            units.push_back(u);
            return Status{};
        }));
        EXPECT_EQ(threadsOfProcess(), before + 1);
        PcmStore pcm;
        std::size_t at = 0;
        // Short batches leave frames to the collecting caller, which codes
        // those the worker has not begun, in turn with it.
        for (int batch : {1, 3, Layer2Encoder::kQueuedFrames + 5, 2, 1, 1, 6, 2}) {
            const std::size_t n = static_cast<std::size_t>(batch) * Layer2Encoder::kFrameValues;
            ASSERT_TRUE(pcm.append(music.data() + at, n));
            at += n;
            for (int f = 0; f < batch; ++f) ASSERT_TRUE(enc.audioSubmitFrame(pcm));
            ASSERT_TRUE(enc.audioCollect());
            EXPECT_EQ(enc.lastPadding(), alone.padding[units.size() - 1]);
        }
        ASSERT_EQ(units.size(), 1u + 3u + Layer2Encoder::kQueuedFrames + 5u + 12u);
        for (std::size_t u = 0; u < units.size(); ++u) {
            EXPECT_EQ(units[u].size, alone.units[u].size);
            EXPECT_EQ(units[u].pts.base, alone.units[u].pts.base);
        }
        EXPECT_EQ(std::memcmp(es.data(), alone.store.data(), es.size()), 0);
        ASSERT_TRUE(pcm.append(music.data() + at, 4 * Layer2Encoder::kFrameValues));
        for (int f = 0; f < 4; ++f) ASSERT_TRUE(enc.audioSubmitFrame(pcm));
    }
    EXPECT_EQ(threadsOfProcess(), before);
}

// The filter bank runs 72 blocks a frame; this one runs out of memory in
// the fourth frame's.
std::atomic<int> g_blocks{0};
void analyseThrowingInFourthFrame(const layer2::AnalysisTables& t, const double* x, double* out) {
    if (++g_blocks == 3 * 72 + 10) throw std::bad_alloc();
    layer2::makeLayer2Kernels(CpuLevel::Plain).analyseBlock(t, x, out);
}

// Running out of memory in a frame, on the encoder's thread or the
// caller's, reaches the caller after the frames before it; then the encoder
// is released, and neither a later collection nor the end waits for ever.
TEST(Layer2Encoder, OutOfMemoryOnEitherThreadReachesTheCallerInTurn) {
    const std::vector<std::int16_t> music = muxtest::musicSignal(1);
    layer2::Layer2Kernels k = layer2::makeLayer2Kernels(CpuLevel::Plain);
    k.analyseBlock = analyseThrowingInFourthFrame;
    for (const bool ownThread : {false, true}) {
        SCOPED_TRACE(ownThread);
        RecordingHost host;
        EsStore es;
        int units = 0;
        Layer2Settings settings;
        settings.bitrateIndex = 10;
        settings.ownThread = ownThread;
        settings.kernels = &k;
        g_blocks = 0;
        Layer2Encoder enc(host);
        ASSERT_TRUE(enc.audioStart(settings, es, [&](const AudioUnit&) {
            ++units;
            return Status{};
        }));
        PcmStore pcm;
        ASSERT_TRUE(pcm.append(music.data(), 8 * Layer2Encoder::kFrameValues));
        bool thrown = false;
        try {
            for (int f = 0; f < 8; ++f) ASSERT_TRUE(enc.audioSubmitFrame(pcm));
            (void)enc.audioCollect();
        } catch (const std::bad_alloc&) {
            thrown = true;
        }
        EXPECT_TRUE(thrown);
        EXPECT_EQ(units, 3);
        EXPECT_FALSE(enc.running());
        EXPECT_FALSE(enc.audioCollect());
        enc.audioEnd();
        EXPECT_EQ(g_blocks.load(), 3 * 72 + 10);
    }
}

TEST(Layer2Encoder, AllocationTableFollowsTheBitRate) {
    EXPECT_EQ(layer2Sblimit(224), 30);
    EXPECT_EQ(layer2Sblimit(192), 30);
    EXPECT_EQ(layer2Sblimit(160), 27);
    EXPECT_EQ(layer2Sblimit(112), 27);
    EXPECT_EQ(layer2Sblimit(96), 8);
    EXPECT_EQ(layer2Sblimit(384), 30);
}

// Decoded by ffmpeg, our frames give back the signal; the quality is
// compared with twolame at the same bit rate.
TEST(Layer2Encoder, FfmpegDecodesAndQualityMatchesTwolame) {
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    ZEMBRA_REQUIRE_TOOL("ffprobe");
    const auto dir = muxtest::workDir("layer2");
    const auto pcm = muxtest::musicSignal(6);
    RecordingHost host;
    Coded c;
    encodeAll(pcm, 11, c, host);
    ASSERT_TRUE(host.boxes.empty());
    muxtest::writeFile(dir / "ours.mp2",
                       std::vector<std::uint8_t>(c.store.data(), c.store.data() + c.store.size()));
    const std::string probe = muxtest::runOutput(
        "ffprobe -v error -show_entries stream=codec_name,sample_rate,channels,bit_rate -of "
        "default=nw=1 " +
        (dir / "ours.mp2").string());
    EXPECT_NE(probe.find("codec_name=mp2"), std::string::npos) << probe;
    EXPECT_NE(probe.find("sample_rate=44100"), std::string::npos) << probe;
    EXPECT_NE(probe.find("channels=2"), std::string::npos) << probe;

    const std::string errors =
        muxtest::runOutput("ffmpeg -v error -nostdin -y -i " + (dir / "ours.mp2").string() +
                           " -f s16le " + (dir / "ours.raw").string() + " 2>&1");
    EXPECT_EQ(errors, "");
    const auto decoded = muxtest::readS16(dir / "ours.raw");
    EXPECT_NEAR(static_cast<double>(decoded.size()), static_cast<double>(c.units.size() * 2304), 0);
    int delay = 0;
    const double ours = muxtest::snrDb(pcm, decoded, 2000, &delay);
    std::printf("Layer II 224 kbit/s: our SNR %.2f dB (delay %d)\n", ours, delay);
    EXPECT_GT(ours, 15.0);

    if (!muxtest::haveTool("twolame")) {
        if (std::getenv("CI")) FAIL() << "twolame is missing";
        return;
    }
    muxtest::writeWav(dir / "in.wav", pcm);
    ASSERT_EQ(muxtest::run("twolame --quiet -b 224 " + (dir / "in.wav").string() + " " +
                           (dir / "twolame.mp2").string() + " >/dev/null 2>&1"),
              0);
    ASSERT_EQ(muxtest::run("ffmpeg -v error -nostdin -y -i " + (dir / "twolame.mp2").string() +
                           " -f s16le " + (dir / "twolame.raw").string()),
              0);
    const double theirs = muxtest::snrDb(pcm, muxtest::readS16(dir / "twolame.raw"));
    std::printf("Layer II 224 kbit/s: twolame SNR %.2f dB\n", theirs);
    EXPECT_GE(ours, theirs - 3.0);
}

}  // namespace
}  // namespace zembra

namespace zembra {
namespace {

// Tones in the middle of a band and across the edge between two bands come
// back clean at a high rate: the analysis window must match the decoders'
// synthesis window for the aliasing between neighbours to cancel.
TEST(Layer2Encoder, FilterBankRebuildsTonesAtBandEdges) {
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    const auto dir = muxtest::workDir("layer2");
    for (double f : {1000.0, 5000.0, 8300.0}) {
        std::vector<std::int16_t> pcm(2 * 44100 * 2);
        for (std::size_t i = 0; i < pcm.size() / 2; ++i)
            pcm[2 * i] = pcm[2 * i + 1] = static_cast<std::int16_t>(
                std::lround(10000 * std::sin(2 * M_PI * f * i / 44100.0)));
        testing::RecordingHost host;
        Coded c;
        encodeAll(pcm, 14, c, host);
        const auto mp2 = dir / "tone.mp2";
        muxtest::writeFile(
            mp2, std::vector<std::uint8_t>(c.store.data(), c.store.data() + c.store.size()));
        ASSERT_EQ(muxtest::run("ffmpeg -v error -nostdin -y -i " + mp2.string() + " -f s16le " +
                               (dir / "tone.raw").string()),
                  0);
        EXPECT_GT(muxtest::snrDb(pcm, muxtest::readS16(dir / "tone.raw")), 45.0) << f << " Hz";
    }
}

// Every level's filter bank gives the plain one's bits, for random values
// (signs, tiny and huge magnitudes) and for the real tables on a tone.
TEST(Layer2FilterBankKernel, EveryLevelGivesThePlainBits) {
    const layer2::Layer2Kernels plain = layer2::makeLayer2Kernels(CpuLevel::Plain);
    for (CpuLevel level : testing::simdLevels()) {
        SCOPED_TRACE(cpuLevelName(level));
        const layer2::Layer2Kernels simd = layer2::makeLayer2Kernels(level);
        auto t = std::make_unique<layer2::AnalysisTables>();
        std::mt19937_64 rng(11);
        std::uniform_real_distribution<double> unit(-1.0, 1.0);
        std::vector<double> x(512);
        double a[32], b[32];
        for (int round = 0; round < 200; ++round) {
            const double scale = std::ldexp(1.0, int(rng() % 80) - 40);
            for (double& w : t->window) w = unit(rng);
            for (auto& column : t->cosColumns)
                for (double& c : column) c = unit(rng);
            for (double& v : x) v = unit(rng) * scale;
            plain.analyseBlock(*t, x.data(), a);
            simd.analyseBlock(*t, x.data(), b);
            ASSERT_EQ(std::memcmp(a, b, sizeof a), 0) << "round " << round;
        }
        for (int n = 0; n < 512; ++n) t->window[n] = std::sin(0.0061 * n) * ((n / 64) & 1 ? -1 : 1);
        for (int i = 0; i < 64; ++i)
            for (int k = 0; k < 32; ++k)
                t->cosColumns[i][k] = std::cos((2 * k + 1) * (i - 16) * M_PI / 64.0);
        for (int i = 0; i < 512; ++i) x[size_t(i)] = 0.8 * std::sin(0.37 * i);
        plain.analyseBlock(*t, x.data(), a);
        simd.analyseBlock(*t, x.data(), b);
        EXPECT_EQ(std::memcmp(a, b, sizeof a), 0);
    }
}

// Every level's spectrum gives the plain one's bits: the same SMRs frame
// after frame (the tonality uses the two previous spectra too), for noise,
// a tone, silence and a loud square.
TEST(Layer2FilterBankKernel, PsychoModelGivesThePlainSmrAtEveryLevel) {
    const layer2::Layer2Kernels plainKernels = layer2::makeLayer2Kernels(CpuLevel::Plain);
    for (CpuLevel level : testing::simdLevels()) {
        SCOPED_TRACE(cpuLevelName(level));
        const layer2::Layer2Kernels simdKernels = layer2::makeLayer2Kernels(level);
        auto plain = std::make_unique<layer2::PsychoModel>();
        auto simd = std::make_unique<layer2::PsychoModel>();
        plain->setKernels(plainKernels);
        simd->setKernels(simdKernels);
        std::mt19937_64 rng(4);
        std::uniform_real_distribution<double> unit(-1.0, 1.0);
        std::vector<double> x(1024);
        for (int frame = 0; frame < 24; ++frame) {
            for (int i = 0; i < 1024; ++i) {
                const double t = frame * 1152 + i;
                switch (frame % 4) {
                    case 0:
                        x[size_t(i)] = unit(rng) * 0.3;
                        break;
                    case 1:
                        x[size_t(i)] = 0.7 * std::sin(0.0713 * t) + 0.01 * unit(rng);
                        break;
                    case 2:
                        x[size_t(i)] = 0;
                        break;
                    default:
                        x[size_t(i)] = (i / 37) % 2 ? 0.999 : -1.0;
                }
            }
            std::array<double, 32> a{}, b{};
            plain->analyse(x.data(), a);
            simd->analyse(x.data(), b);
            ASSERT_EQ(std::memcmp(a.data(), b.data(), sizeof(double) * 32), 0) << "frame " << frame;
        }
    }
}

}  // namespace
}  // namespace zembra
