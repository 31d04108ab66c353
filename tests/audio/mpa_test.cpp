#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "audio/audio_decoder.h"
#include "audio/mpa_decoder.h"
#include "oracle.h"

namespace zembra {
namespace {

using testing::ffmpegFixture;
using testing::readBytes;
using testing::readSamples;
using testing::snrDb;
using testing::toDouble;

struct MpaDecoded {
    std::vector<int16_t> pcm;
    int frames = 0;
    int rate = 0;
};

MpaDecoded decodeMpa(const std::vector<uint8_t>& stream, size_t piece = 2011) {
    MpaDecoded d;
    MpaDecoder dec;
    dec.start();
    int16_t out[MpaDecoder::kMaxFrameSamples * 2];
    for (size_t pos = 0; pos < stream.size(); pos += piece) {
        const uint8_t* p = stream.data() + pos;
        size_t len = std::min(piece, stream.size() - pos);
        while (len > 0) {
            int n = dec.decodeNext(p, len, out, d.rate);
            d.pcm.insert(d.pcm.end(), out, out + 2 * n);
        }
    }
    d.frames = dec.framesDecoded();
    return d;
}

std::string mp2Fixture(int channels, int rate, const char* bitrate) {
    char name[64], args[512];
    std::snprintf(name, sizeof name, "mp2_%d_%d_%s.mp2", channels, rate, bitrate);
    std::snprintf(args, sizeof args,
                  "-f lavfi -i 'aevalsrc=0.4*sin(2*PI*440*t)+0.2*sin(2*PI*5000*t):d=3:s=%d' "
                  "-f lavfi -i anoisesrc=d=3:a=0.25:c=pink:r=%d -filter_complex "
                  "\"[0][1]amerge=inputs=2\" -ac %d -ar %d -c:a mp2 -b:a %s",
                  rate, rate, channels, rate, bitrate);
    return ffmpegFixture(name, args);
}

// ffmpeg's float decoder of the same stream, in the stream's own channels.
std::vector<double> reference(const std::string& in) {
    std::string out = ffmpegFixture(std::filesystem::path(in).stem().string() + "_ref.f32",
                                    "-c:a mp2float -i '" + in + "' -f f32le -c:a pcm_f32le");
    return toDouble(readSamples<float>(out), 32768.0);
}

TEST(MpaHeader, ValidityAndFrameLengths) {
    MpaHeader h;
    ASSERT_TRUE(parseMpaHeader(0xFFFDE400u, h));  // MPEG-1 Layer II 384 kbit/s 48 kHz stereo
    EXPECT_EQ(h.layer, 2);
    EXPECT_EQ(h.bitrate, 384);
    EXPECT_EQ(h.sampleRate, 48000);
    EXPECT_EQ(h.frameBytes(), 1152);
    EXPECT_EQ(h.samplesPerFrame(), 1152);
    ASSERT_TRUE(parseMpaHeader(0xFFFD8200u, h));  // 128 kbit/s 44.1 kHz, padded
    EXPECT_EQ(h.frameBytes(), 144000 * 128 / 44100 + 1);
    ASSERT_TRUE(parseMpaHeader(0xFFFFE400u, h));  // Layer I 448 kbit/s 48 kHz
    EXPECT_EQ(h.layer, 1);
    EXPECT_EQ(h.frameBytes(), 4 * (12000 * 448 / 48000));
    EXPECT_EQ(h.channels(), 2);
    // Half-rate Layer II keeps 1152 samples a frame; half-rate Layer III has 576.
    ASSERT_TRUE(parseMpaHeader(0xFFF5A404u, h));
    EXPECT_EQ(h.version, 2);
    EXPECT_EQ(h.sampleRate, 24000);
    EXPECT_EQ(h.frameBytes(), 576);
    ASSERT_TRUE(parseMpaHeader(0xFFF3A404u, h));
    EXPECT_EQ(h.layer, 3);
    EXPECT_EQ(h.frameBytes(), 288);

    EXPECT_FALSE(parseMpaHeader(0xFFF9C400u, h));  // layer code 0
    EXPECT_FALSE(parseMpaHeader(0xFFFDF400u, h));  // bitrate index 15
    EXPECT_FALSE(parseMpaHeader(0xFFFDCC00u, h));  // sampling code 3
    EXPECT_FALSE(parseMpaHeader(0xFFEDC400u, h));  // sync bits
}

TEST(MpaProbe, FirstValidHeaderText) {
    std::vector<uint8_t> bytes = {0x00, 0xFF, 0xF9, 0x12, 0xFF, 0xFD, 0xC4, 0xC0, 0x00};
    std::string text;
    ASSERT_TRUE(AudioDecoder::mpaProbe(bytes.data(), bytes.size(), text));
    EXPECT_EQ(text, "48000Hz Mono");
    bytes = {0xFF, 0xFD, 0x90, 0x00};
    ASSERT_TRUE(AudioDecoder::mpaProbe(bytes.data(), bytes.size(), text));
    EXPECT_EQ(text, "44100Hz Stereo");
    EXPECT_FALSE(AudioDecoder::mpaProbe(bytes.data(), 3, text));
}

TEST(MpaOracle, LayerTwoStereoMatchesFfmpeg) {
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    // Each allocation table: high rate at 48 and 44.1 kHz, low rate at 48 and
    // 32 kHz, and the half-rate extension.
    struct Case {
        int rate;
        const char* bitrate;
    } cases[] = {{48000, "384k"}, {44100, "256k"}, {48000, "64k"}, {32000, "64k"}, {24000, "96k"}};
    for (const Case& c : cases) {
        std::string in = mp2Fixture(2, c.rate, c.bitrate);
        ASSERT_FALSE(in.empty());
        MpaDecoded ours = decodeMpa(readBytes(in));
        auto ref = reference(in);
        EXPECT_EQ(ours.rate, c.rate);
        ASSERT_EQ(ours.pcm.size(), ref.size()) << c.rate << " " << c.bitrate;
        double snr = snrDb(toDouble(ours.pcm), ref);
        std::printf("MP2 stereo %d Hz %s: SNR %.2f dB\n", c.rate, c.bitrate, snr);
        EXPECT_GE(snr, 70.0) << c.rate << " " << c.bitrate;
    }
}

TEST(MpaOracle, MonoGoesToBothChannels) {
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    std::string in = mp2Fixture(1, 48000, "192k");
    ASSERT_FALSE(in.empty());
    MpaDecoded ours = decodeMpa(readBytes(in));
    auto ref = reference(in);
    std::vector<double> left;
    for (size_t i = 0; i < ours.pcm.size(); i += 2) {
        ASSERT_EQ(ours.pcm[i], ours.pcm[i + 1]);
        left.push_back(ours.pcm[i]);
    }
    ASSERT_EQ(left.size(), ref.size());
    double snr = snrDb(left, ref, 1);
    std::printf("MP2 mono: SNR %.2f dB\n", snr);
    EXPECT_GE(snr, 70.0);
}

TEST(MpaOracle, LayerThreeGivesNoSamples) {
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    std::string in = ffmpegFixture(
        "layer3.mp3", "-f lavfi -i sine=f=440:d=2 -ar 48000 -c:a libmp3lame -b:a 128k");
    if (in.empty()) GTEST_SKIP() << "no MP3 encoder in this ffmpeg";
    auto bytes = readBytes(in);
    std::string text;
    ASSERT_TRUE(AudioDecoder::mpaProbe(bytes.data(), bytes.size(), text));  // frames are there
    EXPECT_EQ(text, "48000Hz Mono");
    MpaDecoded ours = decodeMpa(bytes);
    EXPECT_EQ(ours.frames, 0);
    EXPECT_TRUE(ours.pcm.empty());
}

TEST(MpaLayerOne, SilentFramesDecodeTo384Samples) {
    // Hand-made Layer I frames, 32 kbit/s at 32 kHz (48 bytes), all
    // allocations zero: 384 silent stereo samples each.
    std::vector<uint8_t> stream;
    for (int f = 0; f < 3; ++f) {
        std::vector<uint8_t> frame(48, 0);
        frame[0] = 0xFF, frame[1] = 0xFF, frame[2] = 0x18, frame[3] = 0x00;
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    MpaDecoded d = decodeMpa(stream, 7);
    EXPECT_EQ(d.frames, 3);
    EXPECT_EQ(d.rate, 32000);
    ASSERT_EQ(d.pcm.size(), 3u * 384 * 2);
    for (int16_t s : d.pcm) ASSERT_EQ(s, 0);
}

TEST(MpaDamage, GarbageNeverCrashes) {
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    std::string in = mp2Fixture(2, 48000, "384k");
    ASSERT_FALSE(in.empty());
    auto good = readBytes(in);
    MpaDecoded clean = decodeMpa(good);
    uint32_t seed = 3;
    auto noisy = good;
    for (size_t i = 0; i < noisy.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        if ((seed >> 24) < 4) noisy[i] = uint8_t(seed >> 8);
    }
    MpaDecoded d = decodeMpa(noisy);
    EXPECT_GT(d.frames, 0);
    for (int k = 0; k < 20; ++k) {
        std::vector<uint8_t> junk(good.begin(), good.begin() + 3000);
        for (auto& b : junk) {
            seed = seed * 1664525u + 1013904223u;
            if ((seed >> 28) == 0)
                b = 0xFF;
            else if ((seed >> 28) < 6)
                b = uint8_t(seed >> 8);
        }
        decodeMpa(junk, 13);
    }
    EXPECT_EQ(clean.frames, int(good.size() / 1152));
}

}  // namespace
}  // namespace zembra
