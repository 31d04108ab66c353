// The Layer II converter in the AVI writer's converter list: found by name and
// bit rate, 44.1 kHz only, and its output is whole Layer II frames that ffmpeg
// decodes back to the sound that went in.

#include "app/layer2_converter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "support/tools.h"

namespace zembra {
namespace {

namespace fs = std::filesystem;

std::vector<int16_t> tones(int pairs) {
    std::vector<int16_t> pcm(2 * static_cast<size_t>(pairs));
    for (int i = 0; i < pairs; ++i) {
        const double t = i / 44100.0;
        pcm[2 * i] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440 * t) +
                                          2000 * std::sin(2 * M_PI * 2500 * t));
        pcm[2 * i + 1] = static_cast<int16_t>(7000 * std::sin(2 * M_PI * 660 * t));
    }
    return pcm;
}

TEST(Layer2Converter, OffersStereoRatesAt44100Only) {
    registerLayer2Converter();
    registerLayer2Converter();  // a second registration replaces the first
    int drivers = 0;
    for (const auto& d : avi::audioConverterDrivers()) drivers += d.name == "MPEG Layer II";
    EXPECT_EQ(drivers, 1);
    auto f = avi::findAudioFormat("MPEG Layer II", 220, 44100);
    ASSERT_TRUE(f.has_value());
    EXPECT_EQ(f->format.formatTag, avi::kWaveFormatMpeg);
    EXPECT_EQ(f->format.avgBytesPerSec, 28000u);  // 224 kbit/s, the nearest
    ASSERT_EQ(f->format.extra.size(), 22u);
    EXPECT_EQ(f->format.extra[0], 2);  // layer II
    EXPECT_TRUE(avi::findAudioFormat("mpeg layer-2", 128, 44100).has_value());
    EXPECT_FALSE(avi::findAudioFormat("MPEG Layer II", 224, 48000).has_value());
    EXPECT_EQ(avi::openAudioConverterFor(f->format, 48000), nullptr);
    avi::WaveFormat odd = f->format;
    odd.avgBytesPerSec = 1000;
    EXPECT_EQ(layer2ConverterDriver().open(odd, 44100), nullptr);
}

TEST(Layer2Converter, CodesWholeFramesThatDecodeBackToTheInput) {
    registerLayer2Converter();
    auto f = avi::findAudioFormat("MPEG Layer II", 224, 44100);
    ASSERT_TRUE(f.has_value());
    auto conv = avi::openAudioConverterFor(f->format, 44100);
    ASSERT_NE(conv, nullptr);
    const int pairs = 44100 * 2 + 500;  // not a whole number of frames
    const std::vector<int16_t> pcm = tones(pairs);
    const auto* bytes = reinterpret_cast<const uint8_t*>(pcm.data());
    const size_t total = pcm.size() * 2;
    std::vector<uint8_t> out;
    // Uneven pieces, some not whole sample pairs (the rest is offered again),
    // one larger than the encoder's PCM store.
    const size_t pieces[] = {6, 4000, 250000, 1, 77777};
    size_t at = 0;
    for (int k = 0; at < total; ++k) {
        const size_t n = std::min(pieces[k % 5], total - at);
        const size_t room = conv->destinationSize(n);
        const size_t before = out.size();
        size_t used = 0;
        ASSERT_TRUE(conv->convert(bytes + at, n, out, used));
        EXPECT_EQ(used, n / 4 * 4);
        EXPECT_LE(out.size() - before, room);
        at += used;
    }
    ASSERT_TRUE(conv->flush(out));
    // Frames of 731 or 732 bytes, one more for the samples past the last whole frame.
    const int frames = (pairs + 1151) / 1152;
    size_t pos = 0;
    int seen = 0;
    while (pos + 4 <= out.size()) {
        ASSERT_EQ(out[pos], 0xFF) << "frame " << seen;
        ASSERT_EQ(out[pos + 1] & 0xFE, 0xFC) << "frame " << seen;  // MPEG-1 layer II
        const int padding = (out[pos + 2] >> 1) & 1;
        pos += 731 + static_cast<size_t>(padding);
        ++seen;
    }
    EXPECT_EQ(pos, out.size());
    EXPECT_EQ(seen, frames);

    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    const fs::path dir = fs::path(ZEMBRA_BINARY_DIR) / "fixtures" / "layer2_converter";
    fs::create_directories(dir);
    {
        std::ofstream mp2(dir / "out.mp2", std::ios::binary);
        mp2.write(reinterpret_cast<const char*>(out.data()), std::streamsize(out.size()));
    }
    const std::string cmd = "ffmpeg -nostdin -v error -y -i '" + (dir / "out.mp2").string() +
                            "' -f s16le '" + (dir / "out.raw").string() + "' 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::ifstream raw(dir / "out.raw", std::ios::binary);
    std::vector<char> dec((std::istreambuf_iterator<char>(raw)), {});
    const auto* d = reinterpret_cast<const int16_t*>(dec.data());
    const size_t n = dec.size() / 2;
    EXPECT_EQ(n, static_cast<size_t>(frames) * 2304);
    // The decoder's output lags the input by the filter banks' delay; find it
    // and measure the signal-to-noise ratio.
    double best = -100;
    for (int delay = 400; delay < 600; ++delay) {
        double sig = 0, noise = 0;
        for (int i = 2000; i < 80000; ++i) {
            const double a = pcm[2 * i], b = d[2 * (i + delay)];
            sig += a * a;
            noise += (a - b) * (a - b);
        }
        best = std::max(best, 10 * std::log10(sig / std::max(noise, 1.0)));
    }
    EXPECT_GT(best, 20.0);
    std::printf("Layer II converter at 224 kbit/s: SNR %.1f dB\n", best);
}

}  // namespace
}  // namespace zembra
