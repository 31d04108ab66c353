// Speed of the MPEG output path.
//   bench_mux layer2 SECONDS          Layer II coding of a music-like signal
//   bench_mux svcd IN.y4m IN.wav OUT  the SVCD PAL preset through the MPEG writer
//   bench_mux video IN.y4m KBPS MOTION OUT.m2v
//                                     the video encoder alone (SVCD settings)
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

#include "encoder/encoder_params.h"
#include "encoder/layer2/layer2_encoder.h"
#include "encoder/mpeg_writer.h"
#include "encoder/video_encoder.h"
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
    if (!enc.audioStart({}, es, [](const zembra::AudioUnit&) { return zembra::Status{}; }))
        return 1;
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

// Width and height from a YUV4MPEG2 header line.
void y4mSize(const std::string& header, int& w, int& h) {
    w = h = 0;
    for (std::size_t p = 0; p < header.size(); ++p) {
        if (header[p] == 'W') w = std::atoi(header.c_str() + p + 1);
        if (header[p] == 'H') h = std::atoi(header.c_str() + p + 1);
        while (p < header.size() && header[p] != ' ') ++p;
    }
}

// The video encoder's threads, from THREADS (default 1: no workers).
int threadsWanted() {
    const char* t = std::getenv("THREADS");
    return t ? std::max(1, std::atoi(t)) : 1;
}

// The pictures alone through the video encoder at the SVCD settings (MPEG-2,
// VBV 112, N = 15, M = 3), fed as the MPEG writer feeds them.
int benchVideo(const char* y4mPath, int kbps, int motion, const char* outPath) {
    std::ifstream y4m(y4mPath, std::ios::binary);
    std::string header;
    std::getline(y4m, header);
    int w, h;
    y4mSize(header, w, h);
    if (w <= 0 || h <= 0) return 1;
    // Pictures are read one at a time as the encoder takes them, as ffmpeg
    // reads its input; the count comes from the file size.
    const std::size_t frameBytes = static_cast<std::size_t>(w * h * 3 / 2);
    const auto start = y4m.tellg();
    y4m.seekg(0, std::ios::end);
    const auto count =
        static_cast<int>((y4m.tellg() - start) / static_cast<std::streamoff>(frameBytes + 6));
    y4m.seekg(start);
    std::string tag;
    std::vector<std::uint8_t> frame(frameBytes);
    zembra::EncoderParams p;
    p.streamKind = 3;
    p.width = w;
    p.height = h;
    p.frameCount = count;
    p.cpuChoice = 0;
    p.simd = true;
    zembra::matchFrameRate(25, p.rate);
    p.frameRate = 25;
    p.bitRate = kbps * 1000.0;
    p.vbvSize = 112;
    // QM=1 picks the flat non-intra matrix (the one ffmpeg uses).
    p.quantMat = std::getenv("QM") ? std::atoi(std::getenv("QM")) : 0;
    p.motionSearch = motion;
    p.threads = threadsWanted();
    zembra::applyStreamTables(p);
    BenchHost host;
    zembra::EsStore store;
    zembra::VideoEncoder enc(host);
    std::FILE* out = std::fopen(outPath, "wb");
    if (!out) return 1;
    const double t0 = now();
    if (!enc.videoStart(p, zembra::makeKernels(zembra::cpuLevel()), store,
                        [](const zembra::VideoUnit&) { return zembra::Status{}; }))
        return 1;
    int fed = 0;
    auto drain = [&] {
        std::fwrite(store.data(), 1, store.size(), out);
        store.clear();
    };
    while (std::getline(y4m, tag) && tag.rfind("FRAME", 0) == 0 &&
           y4m.read(reinterpret_cast<char*>(frame.data()),
                    static_cast<std::streamsize>(frame.size()))) {
        const std::uint8_t* f = frame.data();
        if (!enc.videoPut(f, f + w * h, f + w * h * 5 / 4)) return 1;
        ++fed;
        if (fed == 1) {
            if (!enc.videoCodeNext()) return 1;
        } else if ((fed - 1) % zembra::kAnchorDistance == 0) {
            for (int m = 0; m < zembra::kAnchorDistance; ++m)
                if (!enc.videoCodeNext()) return 1;
        }
        drain();
    }
    if (!enc.videoCodeRest()) return 1;
    enc.videoEnd();
    drain();
    const double dt = now() - t0;
    std::fclose(out);
    std::printf("video %.3f s %.2f fps (%d frames)\n", dt, fed / dt, fed);
    return 0;
}

int benchSvcd(const char* y4mPath, const char* wavPath, const char* outPath) {
    std::ifstream y4m(y4mPath, std::ios::binary);
    std::string header;
    std::getline(y4m, header);
    int w, h;
    y4mSize(header, w, h);
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
    a.threads = threadsWanted();
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
    (void)writer.closeMpeg();
    const double dt = now() - t0;
    std::printf("svcd %.3f s %.2f fps (%d frames)\n", dt, frames / dt, frames);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "layer2") == 0) return benchLayer2(std::atoi(argv[2]));
    if (argc >= 5 && std::strcmp(argv[1], "svcd") == 0) return benchSvcd(argv[2], argv[3], argv[4]);
    if (argc >= 6 && std::strcmp(argv[1], "video") == 0)
        return benchVideo(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), argv[5]);
    std::fprintf(stderr,
                 "usage: bench_mux layer2 SECONDS | svcd IN.y4m IN.wav OUT.mpg |\n"
                 "       video IN.y4m KBPS MOTION OUT.m2v\n"
                 "THREADS=N sets the video encoder's threads (default 1).\n");
    return 2;
}
