// Speed of the MPEG output path.
//   bench_mux layer2 SECONDS          Layer II coding of a music-like signal
//   bench_mux svcd IN.y4m IN.wav OUT  the SVCD PAL preset through the MPEG writer
// Prints one line "<what> <seconds> s <rate>" for bench/mux.sh.

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "encoder/layer2/layer2_encoder.h"
#include "encoder/mpeg_writer.h"
#include "platform/ui_host.h"

namespace {

class BenchHost : public zembra::UiHost {
public:
    zembra::BoxAnswer messageBox(zembra::BoxKind, const std::string& text) override {
        std::fprintf(stderr, "box: %s\n", text.c_str());
        return zembra::BoxAnswer::Yes;
    }
    void pumpMessages() override {}
    void setStatus(const std::string&) override {}
    void setProgress(int, int) override {}
};

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int benchLayer2(int seconds) {
    BenchHost host;
    zembra::EsStore es;
    zembra::Layer2Encoder enc(host);
    if (!enc.audioStart({}, es, [](const zembra::AudioUnit&) { return true; })) return 1;
    std::vector<std::int16_t> chunk(3528);
    zembra::PcmStore pcm;
    const double t0 = now();
    long pairs = 0;
    for (int f = 0; f < seconds * 25; ++f) {
        for (std::size_t i = 0; i < chunk.size(); i += 2, ++pairs) {
            const double t = pairs / 44100.0;
            chunk[i] = static_cast<std::int16_t>(9000 * std::sin(2 * M_PI * 440 * t) +
                                                 3000 * std::sin(2 * M_PI * 3100 * t));
            chunk[i + 1] = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 660 * t));
        }
        if (!pcm.append(chunk.data(), chunk.size())) return 1;
        while (pcm.size() > 2304)
            if (!enc.audioEncodeFrame(pcm)) return 1;
        es.clear();
    }
    const double dt = now() - t0;
    std::printf("layer2 %.3f s %.1f x realtime\n", dt, seconds / dt);
    return 0;
}

int benchSvcd(const char* y4mPath, const char* wavPath, const char* outPath) {
    std::ifstream y4m(y4mPath, std::ios::binary);
    std::string header;
    std::getline(y4m, header);
    int w = 0, h = 0;
    for (std::size_t p = 0; p < header.size(); ++p) {
        if (header[p] == 'W') w = std::atoi(header.c_str() + p + 1);
        if (header[p] == 'H') h = std::atoi(header.c_str() + p + 1);
        while (p < header.size() && header[p] != ' ') ++p;
    }
    std::ifstream wav(wavPath, std::ios::binary);
    std::vector<char> wavBytes((std::istreambuf_iterator<char>(wav)), {});
    if (w <= 0 || h <= 0 || wavBytes.size() < 44) return 1;
    const auto* samples = reinterpret_cast<const std::int16_t*>(wavBytes.data() + 44);
    const std::size_t sampleCount = (wavBytes.size() - 44) / 2;

    BenchHost host;
    zembra::MpegWriter writer(host);
    zembra::MpegOpenArgs a;
    a.outputPath = outPath;
    a.mpegStream = 1;
    a.frameCount = 1 << 30;
    a.width = w;
    a.height = h;
    a.vbv = 112;
    a.videoKbps = 2000;
    a.maxVideoKbps = 2600;
    a.overwrite = true;
    a.cpu = 0;
    if (!writer.openMpeg(a)) return 1;
    std::vector<std::uint8_t> frame(static_cast<std::size_t>(w * h * 3 / 2));
    std::string tag;
    const double t0 = now();
    int frames = 0;
    std::size_t at = 0;
    while (std::getline(y4m, tag) && tag.rfind("FRAME", 0) == 0) {
        if (!y4m.read(reinterpret_cast<char*>(frame.data()),
                      static_cast<std::streamsize>(frame.size())))
            break;
        const std::size_t n = std::min<std::size_t>(3528, sampleCount - at);
        if (!writer.writeMpegFrame(frame.data(), frame.data() + w * h, frame.data() + w * h * 5 / 4,
                                   samples + at, static_cast<int>(n)))
            return 1;
        at += n;
        ++frames;
    }
    writer.closeMpeg();
    const double dt = now() - t0;
    std::printf("svcd %.3f s %.2f fps (%d frames)\n", dt, frames / dt, frames);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "layer2") == 0) return benchLayer2(std::atoi(argv[2]));
    if (argc >= 5 && std::strcmp(argv[1], "svcd") == 0) return benchSvcd(argv[2], argv[3], argv[4]);
    std::fprintf(stderr, "usage: bench_mux layer2 SECONDS | svcd IN.y4m IN.wav OUT.mpg\n");
    return 2;
}
