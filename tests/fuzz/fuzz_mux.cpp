// Multiplexer fed with arbitrary unit sizes, picture types and stamp
// jitter: every output must still be whole 2324-byte sectors ending with
// the end code, and no unit byte may be lost.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "encoder/mux/multiplexer.h"
#include "support/quiet_host.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zembra;
    if (size < 1) return 0;
    zembra::testing::QuietHost host(zembra::BoxAnswer::Ok);
    Multiplexer mux(host);
    MuxSettings ms;
    ms.layout = data[0] & 1 ? MuxLayout::Svcd : MuxLayout::Vcd;
    ms.outputPath = "/tmp/fuzz_mux_" + std::to_string(::getpid()) + ".mpg";
    ms.videoBitRate = 1150000 + (data[0] >> 1) * 20000.0;
    ms.muxRateFactor = 1.014;
    mux.reset(ms);
    const double T = 27000000.0 / 25;
    std::vector<std::uint8_t> filler(65536, 0x55);
    long videoBytes = 0, audioBytes = 0;
    int audioFrames = 0;
    bool ok = true;
    std::size_t k = 0;
    for (std::size_t at = 1; at + 4 <= size && k < 300 && ok; at += 4, ++k) {
        VideoUnit u;
        u.type = static_cast<mpeg::PictureType>(1 + data[at] % 3);
        u.size = (data[at + 1] << 8 | data[at + 2]) % 40000;
        const double dts = k * T + (data[at + 3] & 15) * 3000.0;
        u.dts = clockFromTicks(dts, ms.layout);
        u.pts = clockFromTicks(dts + (data[at + 3] >> 4) % 4 * T, ms.layout);
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(u.size), 0x55);
        if (!mux.videoStore().append(bytes.data(), bytes.size())) break;
        if (!mux.pushVideoUnit(u)) break;
        videoBytes += u.size;
        while (audioFrames * 1152 / 44.1 < (k + 1) * 40.0) {
            AudioUnit a;
            a.size = 731;
            a.pts = clockFromTicks(audioFrames * 1152 / 44.1 * 27000 + T, ms.layout);
            if (!mux.audioStore().append(filler.data(), 731) || !mux.pushAudioUnit(a)) break;
            audioBytes += 731;
            ++audioFrames;
        }
        ok = mux.muxPump().ok();
    }
    if (ok) ok = mux.muxDrain().ok();
    if (ok) {
        std::FILE* f = std::fopen(ms.outputPath.c_str(), "rb");
        if (f) {
            std::fseek(f, 0, SEEK_END);
            const long n = std::ftell(f);
            std::fclose(f);
            if (n % 2324 != 0 || static_cast<std::uint64_t>(n) != mux.bytesWritten()) std::abort();
            // Every unit byte must be in the file, beside the headers.
            if (n < videoBytes + audioBytes) std::abort();
        }
    }
    std::remove(ms.outputPath.c_str());
    std::remove((ms.outputPath + "svcd").c_str());
    return 0;
}
