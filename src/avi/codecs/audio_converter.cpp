#include "avi/codecs/audio_converter.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "avi/codecs/mp3_library.h"

namespace zembra::avi {

namespace {

constexpr int kMp3Rates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};

// "44.100 kHz", as a format chooser writes rates.
std::string rateText(int rate) {
    char text[32];
    std::snprintf(text, sizeof text, "%d.%03d kHz", rate / 1000, rate % 1000);
    return text;
}

bool sameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(uint8_t(x)) == std::tolower(uint8_t(y));
           });
}

// Whole stereo sample frames of interleaved 16-bit PCM, copied so that an odd
// source address does no harm.
std::vector<int16_t> samplesOf(const uint8_t* src, size_t srcLen, size_t& used) {
    used = srcLen / 4 * 4;
    std::vector<int16_t> pcm(used / 2);
    if (used > 0) std::memcpy(pcm.data(), src, used);
    return pcm;
}

class PcmConverter : public AudioConverter {
public:
    bool convert(const uint8_t* src, size_t srcLen, std::vector<uint8_t>& out,
                 size_t& srcUsed) override {
        srcUsed = srcLen / 4 * 4;
        out.insert(out.end(), src, src + srcUsed);
        return true;
    }
    bool flush(std::vector<uint8_t>&) override { return true; }
    size_t destinationSize(size_t srcLen) override { return srcLen / 4 * 4; }
};

class Mp3Converter : public AudioConverter {
public:
    explicit Mp3Converter(std::unique_ptr<Mp3Encoder> encoder) : encoder_(std::move(encoder)) {}

    bool convert(const uint8_t* src, size_t srcLen, std::vector<uint8_t>& out,
                 size_t& srcUsed) override {
        std::vector<int16_t> pcm = samplesOf(src, srcLen, srcUsed);
        int frames = int(pcm.size() / 2);
        size_t start = out.size();
        out.resize(start + destinationSize(srcLen));
        int n = encoder_->encodeInterleaved(pcm.data(), frames, out.data() + start,
                                            int(out.size() - start));
        out.resize(start + size_t(std::max(n, 0)));
        if (n < 0) srcUsed = 0;
        return n >= 0;
    }
    bool flush(std::vector<uint8_t>& out) override {
        size_t start = out.size();
        out.resize(start + Mp3Encoder::kFlushBytes);
        int n = encoder_->flush(out.data() + start, Mp3Encoder::kFlushBytes);
        out.resize(start + size_t(std::max(n, 0)));
        return n >= 0;
    }
    size_t destinationSize(size_t srcLen) override {
        return srcLen / 4 * 5 / 4 + Mp3Encoder::kFlushBytes;
    }

private:
    std::unique_ptr<Mp3Encoder> encoder_;
};

AudioConverterDriver pcmDriver() {
    AudioConverterDriver d;
    d.name = "PCM";
    d.formats = [](int rate) {
        return std::vector<AudioFormatChoice>{
            {"PCM", rateText(rate) + ", 16 Bit, Stereo", pcmWaveFormat(rate)}};
    };
    d.open = [](const WaveFormat& dst, int rate) -> std::unique_ptr<AudioConverter> {
        if (!(dst == pcmWaveFormat(rate))) return nullptr;
        return std::make_unique<PcmConverter>();
    };
    return d;
}

// The MPEG Layer-3 format a converter writes at this rate and bit rate.
WaveFormat mp3ConverterFormat(int kbps, int rate) {
    WaveFormat w = mp3WaveFormat(kbps, rate);
    w.avgBytesPerSec = uint32_t(kbps) * 1000 / 8;
    // Bytes of one frame without padding; ISO padding (flags 0).
    uint32_t blockSize = 144000u * uint32_t(kbps) / uint32_t(rate);
    w.extra[2] = 0;
    w.extra[6] = uint8_t(blockSize);
    w.extra[7] = uint8_t(blockSize >> 8);
    return w;
}

AudioConverterDriver mp3Driver() {
    AudioConverterDriver d;
    d.name = "MP3";
    d.formats = [](int rate) {
        std::vector<AudioFormatChoice> list;
        if (!Mp3Library::instance().loaded() || (rate != 44100 && rate != 48000)) return list;
        for (int kbps : kMp3Rates)
            list.push_back({"MPEG Layer-3",
                            std::to_string(kbps) + " kBit/s, " + rateText(rate) + ", Stereo",
                            mp3ConverterFormat(kbps, rate)});
        return list;
    };
    d.open = [](const WaveFormat& dst, int rate) -> std::unique_ptr<AudioConverter> {
        if (dst.formatTag != kWaveFormatMpegLayer3) return nullptr;
        int kbps = int(dst.avgBytesPerSec * 8 / 1000);
        if (std::find(std::begin(kMp3Rates), std::end(kMp3Rates), kbps) == std::end(kMp3Rates) ||
            !(dst == mp3ConverterFormat(kbps, rate)))
            return nullptr;
        Mp3Library::Values v;
        v.bitRate = kbps;
        v.stereo = 1;   // joint stereo
        v.quality = 3;  // the MP3 settings' default
        v.lowpass = 0;  // LAME chooses for the bit rate
        v.highpass = -1;
        auto encoder = Mp3Library::instance().newEncoder(v, rate, nullptr);
        if (!encoder) return nullptr;
        return std::make_unique<Mp3Converter>(std::move(encoder));
    };
    return d;
}

}  // namespace

std::vector<AudioConverterDriver>& audioConverterDrivers() {
    static std::vector<AudioConverterDriver> drivers{pcmDriver(), mp3Driver()};
    return drivers;
}

void registerAudioConverter(AudioConverterDriver driver) {
    auto& drivers = audioConverterDrivers();
    for (auto& d : drivers) {
        if (sameText(d.name, driver.name)) {
            d = std::move(driver);
            return;
        }
    }
    drivers.push_back(std::move(driver));
}

std::optional<AudioFormatChoice> findAudioFormat(const std::string& name, int kbps, int rate) {
    std::optional<AudioFormatChoice> best;
    long bestDistance = 0;
    for (const auto& d : audioConverterDrivers()) {
        bool driverNamed = sameText(d.name, name);
        for (auto& choice : d.formats(rate)) {
            if (!driverNamed && !sameText(choice.tagName, name)) continue;
            long distance = std::labs(long(choice.format.avgBytesPerSec) * 8 / 1000 - kbps);
            if (!best || distance < bestDistance) {
                best = std::move(choice);
                bestDistance = distance;
            }
        }
    }
    return best;
}

std::unique_ptr<AudioConverter> openAudioConverterFor(const WaveFormat& dst, int rate) {
    for (const auto& d : audioConverterDrivers())
        if (auto converter = d.open(dst, rate)) return converter;
    return nullptr;
}

}  // namespace zembra::avi
