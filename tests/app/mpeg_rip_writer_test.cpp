#include "app/mpeg_rip_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/dialogs/settings_dialogs.h"
#include "app/settings_store.h"
#include "encoder/mpeg_writer.h"
#include "support/recording_host.h"

namespace zembra {
namespace {

namespace fs = std::filesystem;

struct VcdPass {
    ApplicationSettings app;
    InputSettings input;
    OutputSettings output;
    WriterOpen open;
    explicit VcdPass(const fs::path& file) {
        input.frameRate = 2;  // 25 fps
        output.mpegStream = 0;
        output.width = 352;
        output.height = 288;
        output.maxFrames = 40;
        output.videoBitRate = 1150;
        output.audioBitRate = 11;
        output.vbvBufferSize = 20;
        output.muxRate = 1.4;
        output.overwrite = true;
        output.cpu = 3;
        open.fileName = file.string();
        open.app = &app;
        open.input = &input;
        open.output = &output;
        open.chromaFormat = 1;
    }
};

std::vector<unsigned char> readAll(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}

TEST(MpegRipWriter, PassesTheSettingsAsOpenMpegTakesThem) {
    VcdPass pass("/tmp/x.mpg");
    pass.output.pulldown = true;
    pass.output.quantMatrix = 1;
    pass.output.adaptiveQuant = 3;
    pass.input.frameRate = 0;
    const MpegOpenArgs a = MpegRipWriter::openArgs(pass.open);
    EXPECT_EQ(a.outputPath, "/tmp/x.mpg");
    EXPECT_DOUBLE_EQ(a.muxRateFactor, 1.014);
    EXPECT_NEAR(a.frameRate, 23.976, 0.001);
    EXPECT_EQ(a.vbv, 20);
    EXPECT_EQ(a.videoKbps, 1150);
    EXPECT_EQ(a.audioBitRate, 11);
    EXPECT_TRUE(a.pulldown);
    EXPECT_EQ(a.quantMat, 1);
    EXPECT_EQ(a.adaptiveQuant, 3);
    EXPECT_TRUE(a.overwrite);
}

// Frames through the seam make a complete program stream; a cancel makes
// the next frame fail with the piece already finished.
TEST(MpegRipWriter, WritesAndCancelsIntoCompleteFiles) {
    const fs::path dir = fs::path(ZEMBRA_BINARY_DIR) / "fixtures" / "mpeg_rip_writer";
    fs::create_directories(dir);
    for (bool cancelled : {false, true}) {
        const fs::path file = dir / (cancelled ? "cancel.mpg" : "whole.mpg");
        VcdPass pass(file);
        testing::RecordingHost host;
        MpegRipWriter w(host);
        CancelToken cancel;
        w.setCancel(&cancel);
        ASSERT_TRUE(w.open(pass.open));
        std::vector<uint8_t> y(352 * 288, 90), c(352 * 288 / 4, 128);
        const uint8_t* planes[3] = {y.data(), c.data(), c.data()};
        std::vector<int16_t> pcm(3528, 0);
        bool ok = true;
        for (int f = 0; f < 30 && ok; ++f) {
            if (cancelled && f == 20) cancel.request();
            y[static_cast<size_t>(f) * 100] = 200;
            ok = w.writeFrame(planes, pcm.data(), static_cast<int>(pcm.size()));
        }
        EXPECT_EQ(ok, !cancelled);
        EXPECT_GT(w.sizeMB(), 0.0);
        if (ok) {
            EXPECT_TRUE(w.close());
        }
        const auto bytes = readAll(file);
        ASSERT_GT(bytes.size(), 2324u);
        EXPECT_EQ(bytes.size() % 2324, 0u);
        EXPECT_EQ(bytes[3], 0xBA);
        EXPECT_EQ(bytes[bytes.size() - 1], 0xB9);
        EXPECT_TRUE(host.boxes.empty());
    }
}

// The Threads setting reaches the encoder and changes no byte of the file.
TEST(MpegRipWriter, WritesTheSameBytesAtAnyThreadCount) {
    const fs::path dir = fs::path(ZEMBRA_BINARY_DIR) / "fixtures" / "mpeg_rip_writer";
    fs::create_directories(dir);
    std::vector<unsigned char> first;
    for (int threads : {1, 4, 0}) {
        SCOPED_TRACE(threads);
        const fs::path file = dir / ("threads" + std::to_string(threads) + ".mpg");
        VcdPass pass(file);
        pass.app.threads = threads;
        EXPECT_EQ(MpegRipWriter::openArgs(pass.open).threads, threadCount(pass.app));
        testing::RecordingHost host;
        MpegRipWriter w(host);
        ASSERT_TRUE(w.open(pass.open));
        std::vector<uint8_t> y(352 * 288), c(352 * 288 / 4, 128);
        const uint8_t* planes[3] = {y.data(), c.data(), c.data()};
        std::vector<int16_t> pcm(3528);
        for (int f = 0; f < 40; ++f) {
            for (size_t i = 0; i < y.size(); ++i)
                y[i] = static_cast<uint8_t>((i % 352 + 3 * f) ^ (i / 352 + f));
            for (size_t i = 0; i < pcm.size(); ++i)
                pcm[i] =
                    static_cast<int16_t>((static_cast<int>(i) * 37 + f * 1000) % 20000 - 10000);
            ASSERT_TRUE(w.writeFrame(planes, pcm.data(), static_cast<int>(pcm.size())));
        }
        ASSERT_TRUE(w.close());
        const auto bytes = readAll(file);
        if (first.empty())
            first = bytes;
        else
            EXPECT_TRUE(bytes == first);
    }
    EXPECT_GT(first.size(), 2324u);
}

// bitrate_index of the first Layer II frame of a program stream: the first
// audio packet starts with a frame (sync FFF, MPEG-1, layer II, no CRC).
int firstLayer2BitrateIndex(const std::vector<unsigned char>& b) {
    const unsigned char audioPacket[] = {0, 0, 1, 0xC0};
    auto at = std::search(b.begin(), b.end(), std::begin(audioPacket), std::end(audioPacket));
    const unsigned char sync[] = {0xFF, 0xFD};
    at = std::search(at, b.end(), std::begin(sync), std::end(sync));
    return at + 2 < b.end() ? at[2] >> 4 : -1;
}

// The properties dialog shows the AudioBitRate setting as a rate of its list;
// the sound written must carry that rate (VCD presets: entry 10, 224 kbit/s).
TEST(MpegRipWriter, WritesTheSoundAtTheRateTheListShows) {
    const fs::path dir = fs::path(ZEMBRA_BINARY_DIR) / "fixtures" / "mpeg_rip_writer";
    fs::create_directories(dir);
    // ISO/IEC 11172-3 Layer II rates by bitrate_index.
    const int layer2Kbps[15] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};
    for (int entry : {0, 9, 10, 13}) {
        const fs::path file = dir / ("rate" + std::to_string(entry) + ".mpg");
        VcdPass pass(file);
        pass.output.audioBitRate = entry;
        pass.output.maxFrames = 5;
        testing::RecordingHost host;
        MpegRipWriter w(host);
        ASSERT_TRUE(w.open(pass.open));
        std::vector<uint8_t> y(352 * 288, 90), c(352 * 288 / 4, 128);
        const uint8_t* planes[3] = {y.data(), c.data(), c.data()};
        std::vector<int16_t> pcm(3528, 1000);
        for (int f = 0; f < 5; ++f) ASSERT_TRUE(w.writeFrame(planes, pcm.data(), 3528));
        ASSERT_TRUE(w.close());
        const int index = firstLayer2BitrateIndex(readAll(file));
        ASSERT_GT(index, 0) << entry;
        EXPECT_EQ(layer2Kbps[index], CfTabPropertiesDlg::kAudioBitRates[entry]) << entry;
    }
}

// An overlapping split repeats frames: the rip loop raises the frame limit
// by as many, and the writer must take them instead of stopping the title.
TEST(MpegRipWriter, RaisedFrameLimitTakesTheRepeatedFrames) {
    const fs::path dir = fs::path(ZEMBRA_BINARY_DIR) / "fixtures" / "mpeg_rip_writer";
    fs::create_directories(dir);
    VcdPass pass(dir / "overlap.mpg");
    pass.output.maxFrames = 10;
    testing::RecordingHost host;
    MpegRipWriter w(host);
    ASSERT_TRUE(w.open(pass.open));
    std::vector<uint8_t> y(352 * 288, 90), c(352 * 288 / 4, 128);
    const uint8_t* planes[3] = {y.data(), c.data(), c.data()};
    std::vector<int16_t> pcm(3528, 0);
    for (int f = 0; f < 6; ++f) ASSERT_TRUE(w.writeFrame(planes, pcm.data(), 3528));
    ASSERT_TRUE(w.nextPiece());
    w.extendFrameLimit(4);
    for (int f = 6; f < 14; ++f) ASSERT_TRUE(w.writeFrame(planes, pcm.data(), 3528)) << f;
    EXPECT_FALSE(w.writeFrame(planes, pcm.data(), 3528));
    EXPECT_TRUE(fs::exists(dir / "overlap_02.mpg"));
}

}  // namespace
}  // namespace zembra
