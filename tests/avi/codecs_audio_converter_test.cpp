// Audio converters: what the drivers offer, choosing by name and bit rate,
// the writer's block arithmetic over their formats, conversion checked by
// ffmpeg, and drivers registered from outside.

#include <gtest/gtest.h>

#include <algorithm>
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

const AudioConverterDriver* driverNamed(const std::string& name) {
    for (const auto& d : audioConverterDrivers())
        if (d.name == name) return &d;
    return nullptr;
}

// The blocks the writer hands to the stream for n stereo sample frames.
long blocksFor(const WaveFormat& f, int n, int rate) {
    return long(double(f.avgBytesPerSec / f.blockAlign) * n / rate + 0.5);
}

std::vector<uint8_t> stereoTone(int frames, int rate) {
    std::vector<int16_t> pcm(size_t(frames) * 2);
    for (int i = 0; i < frames; ++i) {
        pcm[2 * size_t(i)] = int16_t(std::lround(9000 * std::sin(2 * kPi * 440.0 * i / rate)));
        pcm[2 * size_t(i) + 1] = int16_t(std::lround(4000 * std::sin(2 * kPi * 700.0 * i / rate)));
    }
    std::vector<uint8_t> bytes(pcm.size() * 2);
    std::memcpy(bytes.data(), pcm.data(), bytes.size());
    return bytes;
}

TEST(AudioConverters, OfferPcmAndMp3WithChooserLines) {
    ASSERT_NE(driverNamed("PCM"), nullptr);
    ASSERT_NE(driverNamed("MP3"), nullptr);
    auto pcm = driverNamed("PCM")->formats(48000);
    ASSERT_EQ(pcm.size(), 1u);
    EXPECT_EQ(pcm[0].tagName, "PCM");
    EXPECT_EQ(pcm[0].description, "48.000 kHz, 16 Bit, Stereo");
    EXPECT_EQ(pcm[0].format, pcmWaveFormat(48000));
    EXPECT_EQ(pcm[0].format.avgBytesPerSec, 192000u);

    Mp3Library::instance().load(192, 0, 3, 19500, -1);
    CODECS_REQUIRE_LAME();
    auto mp3 = driverNamed("MP3")->formats(44100);
    ASSERT_EQ(mp3.size(), 14u);
    auto it = std::find_if(mp3.begin(), mp3.end(), [](const AudioFormatChoice& c) {
        return c.format.avgBytesPerSec == 16000;
    });
    ASSERT_NE(it, mp3.end());
    EXPECT_EQ(it->tagName, "MPEG Layer-3");
    EXPECT_EQ(it->description, "128 kBit/s, 44.100 kHz, Stereo");
    EXPECT_EQ(it->format.formatTag, kWaveFormatMpegLayer3);
    EXPECT_EQ(it->format.blockAlign, 1);
    EXPECT_EQ(it->format.bytes().size(), 30u);
    EXPECT_TRUE(driverNamed("MP3")->formats(22050).empty());
}

TEST(AudioConverters, ChosenByNameAndNearestBitRate) {
    auto pcm = findAudioFormat("pcm", 128, 48000);
    ASSERT_TRUE(pcm.has_value());
    EXPECT_EQ(pcm->format, pcmWaveFormat(48000));
    EXPECT_FALSE(findAudioFormat("vorbis", 128, 44100).has_value());
    EXPECT_FALSE(findAudioFormat("", 128, 44100).has_value());

    Mp3Library::instance().load(192, 0, 3, 19500, -1);
    CODECS_REQUIRE_LAME();
    auto a = findAudioFormat("mp3", 130, 44100);
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(a->format.avgBytesPerSec, 16000u);
    auto b = findAudioFormat("MPEG LAYER-3", 200, 48000);
    ASSERT_TRUE(b.has_value());
    EXPECT_EQ(b->format.avgBytesPerSec, 24000u);
    EXPECT_EQ(b->format.samplesPerSec, 48000u);
    EXPECT_EQ(findAudioFormat("MP3", 9999, 44100)->format.avgBytesPerSec, 40000u);
    EXPECT_EQ(findAudioFormat("MP3", 0, 44100)->format.avgBytesPerSec, 4000u);
}

// The writer's block count per frame adds up to what the converter really
// makes: n for PCM, the MP3 bytes within a few frames (coder delay, padding).
TEST(AudioConverters, BlockArithmeticMatchesWhatConvertersMake) {
    Mp3Library::instance().load(192, 0, 3, 19500, -1);
    for (int rate : {44100, 48000}) {
        for (const std::string name : {"PCM", "MP3"}) {
            auto choice = findAudioFormat(name, 160, rate);
            if (!choice) continue;  // MP3 without LAME
            SCOPED_TRACE(name + " " + std::to_string(rate));
            auto conv = openAudioConverterFor(choice->format, rate);
            ASSERT_NE(conv, nullptr);
            const int perFrame = rate / 25, frames = 250;  // ten seconds at 25 fps
            std::vector<uint8_t> src = stereoTone(perFrame, rate), out;
            long blocks = 0;
            for (int f = 0; f < frames; ++f) {
                size_t used = 0;
                ASSERT_GE(conv->destinationSize(src.size()), 0u);
                size_t before = out.size();
                ASSERT_TRUE(conv->convert(src.data(), src.size(), out, used));
                EXPECT_EQ(used, src.size());
                EXPECT_LE(out.size() - before, conv->destinationSize(src.size()));
                blocks += blocksFor(choice->format, perFrame, rate);
            }
            ASSERT_TRUE(conv->flush(out));
            long made = long(out.size()) / choice->format.blockAlign;
            if (name == "PCM") {
                EXPECT_EQ(blocks, long(perFrame) * frames);
                EXPECT_EQ(made, blocks);
            } else {
                long frameBytes = 144000L * 160 / rate + 1;
                EXPECT_LE(std::labs(made - blocks), 3 * frameBytes) << made << " vs " << blocks;
            }
        }
    }
}

TEST(AudioConverters, PcmTakesWholeSampleFramesOnly) {
    auto conv = openAudioConverterFor(pcmWaveFormat(44100), 44100);
    ASSERT_NE(conv, nullptr);
    std::vector<uint8_t> src{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, out;
    size_t used = 0;
    ASSERT_TRUE(conv->convert(src.data(), src.size(), out, used));
    EXPECT_EQ(used, 8u);
    EXPECT_EQ(out, std::vector<uint8_t>(src.begin(), src.begin() + 8));
    EXPECT_EQ(openAudioConverterFor(pcmWaveFormat(48000), 44100), nullptr);
}

TEST(AudioConverters, Mp3ConverterOutputDecodesToTheWholeInput) {
    Mp3Library::instance().load(192, 0, 3, 19500, -1);
    CODECS_REQUIRE_LAME();
    CODECS_REQUIRE_FFMPEG();
    testing::TempDir dir;
    auto choice = findAudioFormat("MP3", 128, 44100);
    ASSERT_TRUE(choice.has_value());
    auto conv = openAudioConverterFor(choice->format, 44100);
    ASSERT_NE(conv, nullptr);
    // Not this driver's formats: another rate, a bit rate MP3 lacks.
    EXPECT_EQ(openAudioConverterFor(choice->format, 48000), nullptr);
    WaveFormat odd = choice->format;
    odd.avgBytesPerSec = 16250;
    EXPECT_EQ(openAudioConverterFor(odd, 44100), nullptr);

    // Pieces of odd length from an odd address: the remainder comes first
    // in the next piece, as a caller that keeps unused bytes would do.
    const int n = 44100 * 3 + 77;
    std::vector<uint8_t> tone = stereoTone(n, 44100);
    // One pad byte in front puts the samples at an odd address.
    std::vector<uint8_t> src(1, 0), out;
    src.insert(src.end(), tone.begin(), tone.end());
    size_t at = 1, end = src.size();
    while (at < end) {
        size_t len = std::min<size_t>(7057, end - at), used = 0;
        ASSERT_TRUE(conv->convert(src.data() + at, len, out, used));
        EXPECT_EQ(used, len / 4 * 4);
        if (used == 0) break;
        at += used;
    }
    EXPECT_EQ(at, end);
    ASSERT_TRUE(conv->flush(out));

    std::string path = (dir / "conv.mp3").string();
    testing::writeBytes(path, out);
    std::string raw = codecRun("ffmpeg -v error -nostdin -i " + path + " -f s16le -ac 2 -");
    long frames = long(raw.size() / 4);
    EXPECT_GE(frames, n + 576 + 529);
    EXPECT_LE(frames, n + 576 + 529 + 1152);
    std::string probe = codecRun(
        "ffprobe -v error -show_entries stream=codec_name,sample_rate,bit_rate -of csv=p=0 " +
        path);
    EXPECT_EQ(probe, "mp3,44100,128000\n");
}

// The application adds its own Layer II encoder this way.
TEST(AudioConverters, RegisteredDriverIsChosenOpenedAndReplacedByName) {
    struct Silent : AudioConverter {
        bool convert(const uint8_t*, size_t srcLen, std::vector<uint8_t>&, size_t& used) override {
            used = srcLen;
            return true;
        }
        bool flush(std::vector<uint8_t>&) override { return true; }
        size_t destinationSize(size_t) override { return 0; }
    };
    auto layer2 = [](std::vector<int> rates) {
        AudioConverterDriver d;
        d.name = "MPEG Layer II";
        d.formats = [rates](int rate) {
            std::vector<AudioFormatChoice> list;
            for (int kbps : rates) {
                WaveFormat w = pcmWaveFormat(rate);
                w.formatTag = kWaveFormatMpeg;
                w.avgBytesPerSec = uint32_t(kbps * 125);
                w.blockAlign = 1;
                list.push_back({"MPEG Layer-2", std::to_string(kbps) + " kBit/s", w});
            }
            return list;
        };
        d.open = [](const WaveFormat& dst, int) -> std::unique_ptr<AudioConverter> {
            if (dst.formatTag != kWaveFormatMpeg) return nullptr;
            return std::make_unique<Silent>();
        };
        return d;
    };
    const size_t before = audioConverterDrivers().size();
    registerAudioConverter(layer2({192, 224}));
    registerAudioConverter(layer2({128, 192, 224, 256}));  // same name: replaces
    EXPECT_EQ(audioConverterDrivers().size(), before + 1);

    auto byName = findAudioFormat("mpeg layer ii", 250, 44100);
    ASSERT_TRUE(byName.has_value());
    EXPECT_EQ(byName->format.avgBytesPerSec, 256u * 125);
    auto byTag = findAudioFormat("MPEG Layer-2", 100, 48000);
    ASSERT_TRUE(byTag.has_value());
    EXPECT_EQ(byTag->format.avgBytesPerSec, 128u * 125);
    EXPECT_NE(openAudioConverterFor(byTag->format, 48000), nullptr);

    auto& drivers = audioConverterDrivers();
    drivers.erase(
        std::remove_if(drivers.begin(), drivers.end(),
                       [](const AudioConverterDriver& d) { return d.name == "MPEG Layer II"; }),
        drivers.end());
}

}  // namespace
}  // namespace zembra::avi
