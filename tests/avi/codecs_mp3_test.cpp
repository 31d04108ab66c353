// The LAME binding: the stream's format record, encoders that ffmpeg decodes
// to the right length once flushed, and a machine without the library.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "avi/codecs/audio_converter.h"
#include "avi/codecs/mp3_library.h"
#include "codecs_test_support.h"
#include "support/temp_dir.h"

namespace zembra::avi {
namespace {

using testing::codecRun;

constexpr double kPi = 3.14159265358979323846;

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24);
}
uint16_t le16(const std::vector<uint8_t>& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }

// Left: 440 Hz at amplitude 8000; right: 1000 Hz at 3000.
void tone(std::vector<int16_t>& left, std::vector<int16_t>& right, int n, int rate) {
    left.resize(size_t(n));
    right.resize(size_t(n));
    for (int i = 0; i < n; ++i) {
        left[size_t(i)] = int16_t(std::lround(8000 * std::sin(2 * kPi * 440 * i / rate)));
        right[size_t(i)] = int16_t(std::lround(3000 * std::sin(2 * kPi * 1000 * i / rate)));
    }
}

// Decodes an MP3 file with ffmpeg into interleaved 16-bit stereo.
std::vector<int16_t> decodeMp3(const std::string& path) {
    std::string raw = codecRun("ffmpeg -v error -nostdin -i " + path + " -f s16le -ac 2 -");
    std::vector<int16_t> pcm(raw.size() / 2);
    std::memcpy(pcm.data(), raw.data(), pcm.size() * 2);
    return pcm;
}

double rms(const std::vector<int16_t>& pcm, int channel, size_t from, size_t to) {
    double s = 0;
    for (size_t i = from; i < to; ++i) s += double(pcm[2 * i + channel]) * pcm[2 * i + channel];
    return std::sqrt(s / double(to - from));
}

TEST(Mp3WaveFormat, IsTheThirtyByteLayer3Record) {
    WaveFormat w = mp3WaveFormat(192, 48000);
    std::vector<uint8_t> b = w.bytes();
    ASSERT_EQ(b.size(), 30u);
    EXPECT_EQ(le16(b, 0), 0x55);    // WAVE_FORMAT_MPEGLAYER3
    EXPECT_EQ(le16(b, 2), 2);       // channels
    EXPECT_EQ(le32(b, 4), 48000u);  // rate
    EXPECT_EQ(le32(b, 8), 24000u);  // 192 / 8 * 1000 bytes per second
    EXPECT_EQ(le16(b, 12), 1);      // block align
    EXPECT_EQ(le16(b, 14), 0);      // bits per sample
    EXPECT_EQ(le16(b, 16), 12);     // cbSize
    EXPECT_EQ(le16(b, 18), 1);      // wID MPEG
    EXPECT_EQ(le32(b, 20), 2u);     // fdwFlags padding off
    EXPECT_EQ(le16(b, 24), 731);    // nBlockSize
    EXPECT_EQ(le16(b, 26), 1);      // nFramesPerBlock
    EXPECT_EQ(le16(b, 28), 0);      // nCodecDelay
    EXPECT_EQ(WaveFormat::fromBytes(b.data(), b.size()), w);
    EXPECT_EQ(mp3WaveFormat(112, 44100).avgBytesPerSec, 14000u);
    EXPECT_FALSE(WaveFormat::fromBytes(b.data(), 29).has_value());  // cbSize runs past the end
}

TEST(Mp3Library, LoadsKeepsTheValuesAndNamesItsVersion) {
    Mp3Library& lame = Mp3Library::instance();
    lame.load(160, 1, 2, 18000, -1);
    CODECS_REQUIRE_LAME();
    Mp3Library::Values v = lame.values();
    EXPECT_EQ(v.bitRate, 160);
    EXPECT_EQ(v.stereo, 1);
    EXPECT_EQ(v.quality, 2);
    EXPECT_EQ(v.lowpass, 18000);
    EXPECT_EQ(v.highpass, -1);
    std::string version = lame.versionText();
    ASSERT_FALSE(version.empty());
    EXPECT_TRUE(std::isdigit(uint8_t(version[0]))) << version;
    EXPECT_NE(version.find('.'), std::string::npos) << version;
}

// Frame-sized pieces through encode(), then flush(): ffmpeg gets every input
// sample back (plus the coder's delay and the last frame's padding), both
// channels where they belong, at the bit rate and sample rate asked for.
TEST(Mp3Encoder, FlushedStreamDecodesToTheWholeInput) {
    CODECS_REQUIRE_LAME();
    CODECS_REQUIRE_FFMPEG();
    testing::TempDir dir;
    for (int rate : {44100, 48000}) {
        SCOPED_TRACE(rate);
        std::vector<std::string> lameSaid;
        Mp3Library::Values v{128, 0, 3, 19500, -1};
        auto enc = Mp3Library::instance().newEncoder(v, rate, &lameSaid);
        ASSERT_NE(enc, nullptr);
        EXPECT_EQ(enc->sampleRate(), rate);
        const int perFrame = rate / 25;     // one 25 fps video frame
        const int n = perFrame * 57 + 311;  // not a whole number of MP3 frames
        std::vector<int16_t> left, right;
        tone(left, right, n, rate);
        std::vector<uint8_t> stream, buffer(16384);
        for (int at = 0; at < n; at += perFrame) {
            int count = std::min(perFrame, n - at);
            int got = enc->encode(left.data() + at, right.data() + at, count, buffer.data(),
                                  int(buffer.size()));
            ASSERT_GE(got, 0);
            stream.insert(stream.end(), buffer.begin(), buffer.begin() + got);
        }
        const size_t unflushed = stream.size();
        int tail = enc->flush(buffer.data(), Mp3Encoder::kFlushBytes);
        ASSERT_GT(tail, 0) << "the encoder held back its last frames";
        stream.insert(stream.end(), buffer.begin(), buffer.begin() + tail);
        const int delay = enc->encoderDelay();
        EXPECT_TRUE(lameSaid.empty());
        EXPECT_TRUE(enc->takeMessages().empty());

        std::string path = (dir / ("tone" + std::to_string(rate) + ".mp3")).string();
        testing::writeBytes(path, stream);
        std::vector<int16_t> pcm = decodeMp3(path);
        const long frames = long(pcm.size() / 2);
        // Decoded: the encoder delay plus the decoder's 529 samples, the
        // input, then at most one frame of padding.
        EXPECT_GE(frames, n + delay);
        EXPECT_LE(frames, n + delay + 529 + 1152);
        std::printf("rate %d: %d samples in, %ld decoded (delay %d), %zu bytes held back\n", rate,
                    n, frames, delay, stream.size() - unflushed);

        // The last 50 ms of the input are there, left and right apart.
        size_t end = size_t(n + delay + 529), from = end - size_t(rate / 20);
        ASSERT_LE(end, size_t(frames));
        EXPECT_NEAR(rms(pcm, 0, from, end), 8000 / std::sqrt(2.0), 300);
        EXPECT_NEAR(rms(pcm, 1, from, end), 3000 / std::sqrt(2.0), 300);

        // Without the flush the tail is missing.
        std::string cut = (dir / "cut.mp3").string();
        testing::writeBytes(cut,
                            std::vector<uint8_t>(stream.begin(), stream.begin() + long(unflushed)));
        EXPECT_LT(long(decodeMp3(cut).size() / 2), n);

        std::string probe = codecRun(
            "ffprobe -v error -show_entries stream=codec_name,sample_rate,"
            "channels,bit_rate -of csv=p=0 " +
            path);
        EXPECT_EQ(probe, "mp3," + std::to_string(rate) + ",2,128000\n");
    }
}

TEST(Mp3Encoder, KeyNumbersAndRefusedSettings) {
    CODECS_REQUIRE_LAME();
    Mp3Library::Values v;
    auto enc = Mp3Library::instance().newEncoder(v, 44100, nullptr);
    ASSERT_NE(enc, nullptr);
    EXPECT_TRUE(enc->setVar(6, 98));  // no LAME counterpart: accepted
    EXPECT_TRUE(enc->setVar(36, 1));
    EXPECT_FALSE(enc->setVar(40, 0));  // no such key
    EXPECT_FALSE(enc->setVar(-1, 0));

    // An output rate MP3 does not have (LAME would quietly make 16000 Hz):
    // the encoder is refused.
    EXPECT_EQ(Mp3Library::instance().newEncoder(v, 12345, nullptr), nullptr);
    std::vector<uint8_t> out(16);
    std::vector<int16_t> pcm(2 * 1152);
    EXPECT_LT(enc->encode(pcm.data(), pcm.data(), 1152, nullptr, 0), 0);
    EXPECT_EQ(enc->encode(pcm.data(), pcm.data(), 0, out.data(), int(out.size())), 0);
}

TEST(Mp3Library, WithoutTheLibraryNothingLoadsAndNoMp3IsOffered) {
    Mp3Library& lame = Mp3Library::instance();
    lame.setLibraryName("libzembra-no-such-mp3lame.so.0");
    lame.load(192, 0, 3, 19500, -1);
    EXPECT_FALSE(lame.loaded());
    EXPECT_EQ(lame.versionText(), "");
    std::vector<std::string> lameSaid;
    EXPECT_EQ(lame.newEncoder(44100, &lameSaid), nullptr);
    EXPECT_FALSE(findAudioFormat("MP3", 128, 44100).has_value());
    for (const auto& d : audioConverterDrivers()) {
        if (d.name == "MP3") {
            EXPECT_TRUE(d.formats(44100).empty());
        }
    }
    EXPECT_TRUE(findAudioFormat("PCM", 0, 44100).has_value());
    EXPECT_TRUE(lameSaid.empty());  // the writer tells the user, not the binding
    lame.setLibraryName("");
}

}  // namespace
}  // namespace zembra::avi
