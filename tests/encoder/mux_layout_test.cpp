#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <random>

#include "encoder/layer2/layer2_encoder.h"
#include "encoder/mux/multiplexer.h"
#include "mux_support.h"
#include "support/recording_host.h"

namespace zembra {
namespace {

using muxtest::checkProgramStream;
using testing::RecordingHost;
namespace fs = std::filesystem;

// A made-up picture: a sequence and GOP header before I pictures, the
// picture header with its temporal reference and type, for SVCD I pictures
// the scan user data placeholders, then filler that holds no start code.
std::vector<std::uint8_t> fakePicture(int type, int tref, int size, bool scanData) {
    std::vector<std::uint8_t> b;
    if (type == 1) {
        b.insert(b.end(), {0, 0, 1, 0xB3, 0x16, 0x01, 0x20, 0x23, 0xFF, 0xFF, 0xE0, 0x18});
        b.insert(b.end(), {0, 0, 1, 0xB8, 0x00, 0x08, 0x00, 0x40});
    }
    b.insert(b.end(), {0, 0, 1, 0x00, static_cast<std::uint8_t>(tref >> 2),
                       static_cast<std::uint8_t>((tref & 3) << 6 | type << 3), 0xFF, 0xF8});
    if (scanData && type == 1) {
        b.insert(b.end(), {0, 0, 1, 0xB2, 0x10, 0x0E});
        for (int i = 0; i < 4; ++i) b.insert(b.end(), {0x00, 0x80, 0x80});
    }
    while (static_cast<int>(b.size()) < size)
        b.push_back(static_cast<std::uint8_t>(0x55 + b.size() % 7));
    b.resize(static_cast<std::size_t>(size));
    return b;
}

struct MuxRun {
    fs::path path;
    std::vector<std::uint8_t> video;  // what went into the video store
    std::size_t audioBytes = 0;       // sizes of the audio units
    int iPictures = 0;
    std::string diagnostics;
    std::uint64_t bytesWritten = 0;
    unsigned underflows = 0;
};

// Feeds pictures and audio the way the MPEG writer does: one picture, the
// audio frames its samples complete, a pump; at the end the sequence end
// code, the last zero-padded audio frame and the drain.
void runMux(MuxLayout layout, int pictures, const fs::path& path, RecordingHost& host, MuxRun& out,
            int iSize = 15000, int gop = 15) {
    Multiplexer mux(host);
    MuxSettings ms;
    ms.layout = layout;
    ms.outputPath = path.string();
    ms.videoBitRate = layout == MuxLayout::Vcd ? 1150000 : 2500000;
    ms.audioBitrateIndex = 11;
    ms.muxRateFactor = 1.014;
    ms.frameRate = 25;
    mux.reset(ms);
    out.path = path;
    Layer2Encoder audio(host);
    Layer2Settings as;
    as.layout = layout;
    ASSERT_TRUE(audio.audioStart(as, mux.audioStore(), [&](const AudioUnit& u) {
        out.audioBytes += static_cast<std::size_t>(u.size);
        return mux.pushAudioUnit(u);
    }));
    PcmStore pcm;
    std::vector<std::int16_t> frameSamples(3528, 0);
    const double T = 27000000.0 / 25;
    for (int k = 0; k < pictures; ++k) {
        // coding order of N = gop, M = 3 with a closed first GOP
        int display, type;
        if (k == 0) {
            display = 0;
            type = 1;
        } else if ((k - 1) % 3 == 0) {
            display = std::min(k + 2, pictures - 1);
            type = display % gop == 0 ? 1 : 2;
        } else {
            display = k - 1;
            type = 3;
        }
        const int gopStart = display / gop * gop;
        const int size = type == 1 ? iSize : type == 2 ? 6000 : 3000;
        auto bytes = fakePicture(type, display - gopStart, size, layout == MuxLayout::Svcd);
        ASSERT_TRUE(mux.videoStore().append(bytes.data(), bytes.size()));
        out.video.insert(out.video.end(), bytes.begin(), bytes.end());
        if (type == 1) ++out.iPictures;
        VideoUnit u;
        u.size = size;
        u.type = mpeg::PictureType(type);
        u.dts = clockFromTicks(k * T, layout);
        u.pts = clockFromTicks((display + 1) * T, layout);
        ASSERT_TRUE(mux.pushVideoUnit(u));
        ASSERT_TRUE(pcm.append(frameSamples.data(), frameSamples.size()));
        while (pcm.size() > 2304) ASSERT_TRUE(audio.audioEncodeFrame(pcm));
        ASSERT_TRUE(mux.muxPump());
    }
    const std::uint8_t end[4] = {0, 0, 1, 0xB7};
    ASSERT_TRUE(mux.videoStore().append(end, 4));
    out.video.insert(out.video.end(), end, end + 4);
    while (pcm.size() > 0) ASSERT_TRUE(audio.audioEncodeFrame(pcm, true));
    audio.audioEnd();
    ASSERT_TRUE(mux.muxDrain());
    out.diagnostics = mux.diagnostics();
    out.bytesWritten = mux.bytesWritten();
    out.underflows = mux.videoUnderflows() + mux.audioUnderflows();
}

TEST(Multiplexer, DerivedValuesOfTheVcdExample) {
    RecordingHost host;
    Multiplexer mux(host);
    MuxSettings ms;
    ms.outputPath = (muxtest::workDir("derived") / "x.mpg").string();
    ms.muxRateFactor = 1.014;
    mux.reset(ms);
    const Status started = mux.muxStart();  // nothing queued yet
    EXPECT_EQ(started.key(), "STR_ERROR_343");
    EXPECT_EQ(mux.muxRateField(), 3529);
    EXPECT_EQ(mux.sectorsPerSecond(), 75);
    EXPECT_EQ(mux.videoPayload(), 2294);
    EXPECT_EQ(mux.audioPayload(), 2279);
}

TEST(Multiplexer, VcdFileFollowsTheLayoutSectorBySector) {
    RecordingHost host;
    MuxRun r;
    runMux(MuxLayout::Vcd, 200, muxtest::workDir("vcd") / "fake.mpg", host, r);
    EXPECT_TRUE(host.boxes.empty()) << host.boxes[0].text;
    const auto file = muxtest::readFile(r.path);
    EXPECT_EQ(file.size(), r.bytesWritten);
    const auto rep = checkProgramStream(file, MuxLayout::Vcd);
    ASSERT_EQ(rep.error, "");
    EXPECT_GT(file.size(), Multiplexer::kCacheSize);  // the cache was written more than once

    // Sector 0: system header with the video entry only, padding of 2291.
    EXPECT_EQ(rep.systemHeaderSectors, (std::vector<int>{0, 1}));
    EXPECT_EQ(file[12 + 6 + 3] >> 2, 0);    // audio_bound 0
    EXPECT_EQ(file[12 + 6 + 4] & 0x1F, 1);  // video_bound 1
    EXPECT_EQ(file[12 + 12], 0xE0);
    EXPECT_EQ(muxtest::u16at(file, 12 + 15 + 4), 2291);
    // Sector 1: the audio entry only, padding of 2271 and 20 zero bytes.
    const std::size_t s1 = 2324;
    EXPECT_EQ(file[s1 + 12 + 6 + 3] >> 2, 1);
    EXPECT_EQ(file[s1 + 12 + 6 + 4] & 0x1F, 0);
    EXPECT_EQ(file[s1 + 12 + 12], 0xC0);
    EXPECT_EQ(muxtest::u16at(file, s1 + 12 + 15 + 4), 2271);
    for (std::size_t i = 2 * 2324 - 20; i < 2 * 2324; ++i) ASSERT_EQ(file[i], 0);
    // Sector 3 is closed to video.
    EXPECT_TRUE(std::find(rep.videoSectors.begin(), rep.videoSectors.end(), 3) ==
                rep.videoSectors.end());

    // Every byte of both stores came out, in order, the sequence end code
    // with the last picture.
    EXPECT_EQ(rep.payload.at(0xE0), r.video);
    const auto& a = rep.payload.at(0xC0);
    EXPECT_EQ(a.size(), r.audioBytes);
    EXPECT_EQ(a[0], 0xFF);
    EXPECT_NE(r.diagnostics.find("packets written"), std::string::npos);
    // The streams stay well inside the mux rate: every unit arrives in time.
    EXPECT_EQ(r.underflows, 0u) << r.diagnostics;
}

TEST(Multiplexer, SvcdIPicturesStartPacketsAndGetScanOffsets) {
    RecordingHost host;
    MuxRun r;
    runMux(MuxLayout::Svcd, 150, muxtest::workDir("svcd") / "fake.mpg", host, r, 30000, 12);
    EXPECT_TRUE(host.boxes.empty()) << host.boxes[0].text;
    const auto file = muxtest::readFile(r.path);
    const auto rep = checkProgramStream(file, MuxLayout::Svcd);
    ASSERT_EQ(rep.error, "");
    EXPECT_EQ(rep.systemHeaderSectors, (std::vector<int>{0}));
    EXPECT_EQ(rep.pstdVideo, 1);
    EXPECT_EQ(rep.pstdAudio, 1);
    ASSERT_EQ(static_cast<int>(rep.videoPacketStartsWithI.size()), r.iPictures);
    EXPECT_FALSE(fs::exists(r.path.string() + "svcd"));  // the list file is gone
    // The scan's progress reaches the status line and the bar, as a rip's does.
    EXPECT_EQ(host.statuses.back(), "Scan offset done");
    EXPECT_NE(
        std::find(host.statuses.begin(), host.statuses.end(), "Computing SVCD scan offsets :  0 %"),
        host.statuses.end());
    EXPECT_EQ(host.progressRange, 100);
    EXPECT_GT(host.progressPosition, 50);

    // Every I picture's user data now holds the addresses of its
    // neighbours: previous, next, back and forward by the jump distance.
    const auto& iSectors = rep.videoPacketStartsWithI;
    const int n = static_cast<int>(iSectors.size());
    const int jump = 15;  // ceil(7 * 25 / 12)
    auto addr = [&](int q) {
        const int s = iSectors[static_cast<std::size_t>(q)];
        auto bcd = [](int v) { return (v / 10) << 4 | (v % 10); };
        return std::vector<int>{bcd(s / 4500), bcd(s % 4500 / 75) + 0x80, bcd(s % 75) + 0x80};
    };
    const std::vector<int> none{0xFF, 0xFF, 0xFF};
    int q = 0;
    for (std::size_t i = 0; i + 18 <= file.size(); ++i) {
        if (!(file[i] == 0 && file[i + 1] == 0 && file[i + 2] == 1 && file[i + 3] == 0xB2))
            continue;
        ASSERT_LT(q, n);
        std::vector<int> got(file.begin() + static_cast<long>(i) + 6,
                             file.begin() + static_cast<long>(i) + 18);
        std::vector<int> want;
        for (const auto& part :
             {q > 0 ? addr(q - 1) : none, q + 1 < n ? addr(q + 1) : none,
              addr(q < jump ? 0 : q - jump), addr(q >= n - jump - 1 ? n - 1 : q + jump)})
            want.insert(want.end(), part.begin(), part.end());
        EXPECT_EQ(got, want) << "I picture " << q;
        ++q;
    }
    EXPECT_EQ(q, n);
}

TEST(Multiplexer, SingleIPictureScanOffsetsPointAtItself) {
    RecordingHost host;
    MuxRun r;
    runMux(MuxLayout::Svcd, 1, muxtest::workDir("svcd1") / "one.mpg", host, r);
    const auto file = muxtest::readFile(r.path);
    const auto rep = checkProgramStream(file, MuxLayout::Svcd);
    ASSERT_EQ(rep.error, "");
    ASSERT_EQ(rep.videoPacketStartsWithI.size(), 1u);
    const int s = rep.videoPacketStartsWithI[0];
    for (std::size_t i = 0; i + 18 <= file.size(); ++i) {
        if (file[i] == 0 && file[i + 1] == 0 && file[i + 2] == 1 && file[i + 3] == 0xB2) {
            const std::uint8_t own[3] = {
                0x00, static_cast<std::uint8_t>(0x80 + s / 75),
                static_cast<std::uint8_t>(0x80 + (s % 75 / 10 * 16 + s % 10))};
            for (int k = 0; k < 6; ++k) EXPECT_EQ(file[i + 6 + k], 0xFF);
            for (int part = 0; part < 2; ++part)
                for (int k = 0; k < 3; ++k) EXPECT_EQ(file[i + 12 + 3 * part + k], own[k]);
        }
    }
}

// A unit leaving 6 free bytes in its packet is closed with stuffing; 7 free
// bytes become a padding packet of length 1.
TEST(Multiplexer, ShortPacketsTakeStuffingOrAPaddingPacket) {
    for (int freeBytes : {6, 7}) {
        RecordingHost host;
        Multiplexer mux(host);
        MuxSettings ms;
        ms.outputPath =
            (muxtest::workDir("short") / ("f" + std::to_string(freeBytes) + ".mpg")).string();
        ms.muxRateFactor = 1.014;
        mux.reset(ms);
        auto pic = fakePicture(1, 0, 2294 - freeBytes, false);
        ASSERT_TRUE(mux.videoStore().append(pic.data(), pic.size()));
        ASSERT_TRUE(
            mux.pushVideoUnit({static_cast<int>(pic.size()), mpeg::PictureType::I, {}, {}}));
        std::vector<std::uint8_t> frame(731, 0);
        frame[0] = 0xFF;
        ASSERT_TRUE(mux.audioStore().append(frame.data(), frame.size()));
        ASSERT_TRUE(mux.pushAudioUnit({731, {}}));
        ASSERT_TRUE(mux.muxDrain());
        const auto file = muxtest::readFile(ms.outputPath);
        const auto rep = checkProgramStream(file, MuxLayout::Vcd);
        ASSERT_EQ(rep.error, "");
        ASSERT_EQ(rep.videoSectors.size(), 1u);
        const std::size_t s = static_cast<std::size_t>(rep.videoSectors[0]) * 2324 + 12;
        const int length = muxtest::u16at(file, s + 4);
        if (freeBytes == 6) {
            EXPECT_EQ(length, 2306);
            for (int k = 0; k < 6; ++k) EXPECT_EQ(file[s + 6 + k], 0xFF);
        } else {
            EXPECT_EQ(length, 2306 - 7);
            const std::size_t pad = s + 6 + length;
            EXPECT_EQ(file[pad + 3], 0xBE);
            EXPECT_EQ(muxtest::u16at(file, pad + 4), 1);
            EXPECT_EQ(file[pad + 6], 0x0F);
        }
        EXPECT_EQ(rep.payload.at(0xE0), pic);
    }
}

// Each failure comes back from the call it happens in, once; the
// multiplexer shows nothing itself.
TEST(Multiplexer, FailuresAreReported) {
    RecordingHost host;
    Multiplexer mux(host);
    MuxSettings ms;
    ms.outputPath = "/nonexistent-folder/out.mpg";
    mux.reset(ms);
    ASSERT_TRUE(mux.pushAudioUnit({731, {}}));
    ASSERT_TRUE(mux.pushVideoUnit({100, mpeg::PictureType::I, {}, {}}));
    Status failure = mux.muxPump();
    EXPECT_EQ(failure.kind(), BoxKind::Warning);
    EXPECT_EQ(host.message(failure), host.text("STR_ERROR_357") + " " + ms.outputPath);
    failure = mux.muxPump();
    EXPECT_FALSE(failure.ok());
    EXPECT_FALSE(failure.hasMessage());
    EXPECT_FALSE(mux.muxDrain().hasMessage());

    ms.layout = MuxLayout::Svcd;
    mux.reset(ms);
    ASSERT_TRUE(mux.pushAudioUnit({731, {}}));
    failure = mux.muxPump();
    EXPECT_EQ(host.message(failure), host.text("STR_ERROR_356") + " " + ms.outputPath + "svcd");

    ms.layout = MuxLayout::Vcd;
    ms.outputPath = (muxtest::workDir("fail") / "novideo.mpg").string();
    mux.reset(ms);
    ASSERT_TRUE(mux.pushAudioUnit({731, {}}));
    failure = mux.muxPump();
    EXPECT_EQ(failure.kind(), BoxKind::Error);
    EXPECT_EQ(failure.key(), "STR_ERROR_344");

    mux.reset(ms);
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(mux.pushVideoUnit({10, mpeg::PictureType::P, {}, {}}));
    EXPECT_EQ(mux.pushVideoUnit({10, mpeg::PictureType::P, {}, {}}).key(), "STR_ERROR_100");
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(mux.pushAudioUnit({10, {}}));
    EXPECT_EQ(mux.pushAudioUnit({10, {}}).key(), "STR_ERROR_101");
    EXPECT_TRUE(host.boxes.empty());
}

// An hour of VCD (about 600 MB): every sector still in layout, nothing
// late, nothing lost. Set ZEMBRA_LONG_TESTS to run it.
TEST(Multiplexer, LongVcdStaysInLayoutAndInTime) {
    if (!std::getenv("ZEMBRA_LONG_TESTS")) GTEST_SKIP() << "set ZEMBRA_LONG_TESTS";
    RecordingHost host;
    MuxRun r;
    runMux(MuxLayout::Vcd, 25 * 3600, muxtest::workDir("long") / "hour.mpg", host, r);
    EXPECT_TRUE(host.boxes.empty());
    const auto file = muxtest::readFile(r.path);
    const auto rep = checkProgramStream(file, MuxLayout::Vcd);
    ASSERT_EQ(rep.error, "");
    EXPECT_EQ(rep.payload.at(0xE0), r.video);
    EXPECT_EQ(rep.payload.at(0xC0).size(), r.audioBytes);
    EXPECT_EQ(r.underflows, 0u);
    std::printf("one hour of VCD: %zu bytes, %d sectors\n", file.size(), rep.sectors);
    fs::remove(r.path);
}

TEST(ClockStamp, ConvertsBothWays) {
    const double t = 27000000.0 * 3600 * 20 + 1234.0;  // past 2^32 ticks of 90 kHz
    ClockStamp s = clockFromTicks(t, MuxLayout::Svcd);
    EXPECT_EQ(s.bit32, 1);
    EXPECT_EQ(s.ext, static_cast<int>(static_cast<long long>(t) % 300));
    EXPECT_DOUBLE_EQ(clockTicks(s), t);
    ClockStamp v = clockFromTicks(t, MuxLayout::Vcd);
    EXPECT_EQ(v.ext, 0);
    EXPECT_DOUBLE_EQ(clockTicks(v), std::floor(t / 300) * 300);
}

// The store hands out its bytes in order through any mix of appends and
// takes (the taken front is dropped only now and then), and its capacity
// counts the stored bytes alone.
TEST(EsStore, BytesComeOutInOrderAndCapacityCountsWhatIsStored) {
    EsStore store;
    std::deque<std::uint8_t> model;
    std::mt19937 rng(7);
    std::uint8_t next = 0;
    std::vector<std::uint8_t> in, out;
    for (int round = 0; round < 4000; ++round) {
        in.resize(rng() % 9000);
        for (auto& b : in) b = next++;
        ASSERT_TRUE(store.append(in.data(), in.size()));
        model.insert(model.end(), in.begin(), in.end());
        // Take a little less than comes in on average, so the store grows
        // towards its capacity while its front keeps moving.
        out.assign(rng() % 8600, 0);
        const std::size_t n = store.take(out.data(), out.size());
        ASSERT_EQ(n, std::min(out.size(), model.size()));
        for (std::size_t i = 0; i < n; ++i, model.pop_front()) ASSERT_EQ(out[i], model.front());
        ASSERT_EQ(store.size(), model.size());
        if (!model.empty()) {
            ASSERT_EQ(*store.data(), model.front());
        }
        if (store.size() > EsStore::kCapacity - 20000) break;
    }
    // Fill to the byte: exactly full fits, one more overflows and empties.
    in.assign(EsStore::kCapacity - store.size(), 1);
    ASSERT_TRUE(store.append(in.data(), in.size()));
    EXPECT_EQ(store.size(), EsStore::kCapacity);
    EXPECT_FALSE(store.append(in.data(), 1));
    EXPECT_TRUE(store.overflowed());
    EXPECT_EQ(store.size(), 0u);
    EXPECT_EQ(store.take(out.data(), 1), 0u);
    store.clear();
    EXPECT_TRUE(store.append(in.data(), 3));
    EXPECT_EQ(store.take(out.data(), 10), 3u);
}

}  // namespace
}  // namespace zembra
