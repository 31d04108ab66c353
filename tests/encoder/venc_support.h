#pragma once
// Helpers of the video encoder tests: synthetic pictures, running the encoder
// into an elementary stream, and ffmpeg as the decoding oracle.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "encoder/encoder_params.h"
#include "encoder/kernels.h"
#include "encoder/video_encoder.h"
#include "support/recording_host.h"
#include "support/tools.h"

namespace zembra::venctest {

namespace fs = std::filesystem;

using ::zembra::testing::haveTool;

inline fs::path workDir(const std::string& name) {
    fs::path p = fs::path(ZEMBRA_BINARY_DIR) / "fixtures" / "venc" / name;
    fs::create_directories(p);
    return p;
}

inline std::string runOutput(const std::string& cmd) {
    std::string out;
    if (std::FILE* p = ::popen(cmd.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

inline std::vector<std::uint8_t> readFile(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(f), {});
}

inline void writeFile(const fs::path& p, const std::vector<std::uint8_t>& d) {
    std::ofstream f(p, std::ios::binary);
    f.write(reinterpret_cast<const char*>(d.data()), static_cast<std::streamsize>(d.size()));
}

// A 4:2:0 picture.
struct Picture {
    int w = 0, h = 0;
    std::vector<std::uint8_t> y, u, v;
};

// Moving textured content: a scrolling gradient, a moving box and noise, so
// motion search, intra and skipped macroblocks all occur.
inline Picture synthetic(int w, int h, int n, unsigned seed = 1) {
    Picture p{w, h, std::vector<std::uint8_t>(w * h), std::vector<std::uint8_t>(w * h / 4),
              std::vector<std::uint8_t>(w * h / 4)};
    unsigned r = seed * 2654435761u + static_cast<unsigned>(n) * 40503u;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            r = r * 1103515245u + 12345u;
            int v = 128 +
                    static_cast<int>(60 * std::sin((x + 2 * n) * 0.07) * std::cos((y + n) * 0.05)) +
                    static_cast<int>((r >> 16) % 9) - 4;
            int bx = (n * 3) % (w - 48), by = (n * 2) % (h - 48);
            if (x >= bx && x < bx + 48 && y >= by && y < by + 48)
                v = ((x - bx) ^ (y - by)) * 5 & 255;
            p.y[y * w + x] = static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
        }
    for (int y = 0; y < h / 2; ++y)
        for (int x = 0; x < w / 2; ++x) {
            p.u[y * (w / 2) + x] = static_cast<std::uint8_t>(128 + 40 * std::sin((x + n) * 0.1));
            p.v[y * (w / 2) + x] = static_cast<std::uint8_t>(128 + 40 * std::cos((y - n) * 0.1));
        }
    return p;
}

// Parameters as openMpeg fills them.
inline EncoderParams params(bool mpeg2, int w, int h, double fps, int kbps, int frames) {
    EncoderParams p;
    p.streamKind = mpeg2 ? 3 : 1;
    p.width = w;
    p.height = h;
    p.frameCount = frames;
    p.chromaCode = 1;
    p.cpuChoice = 0;
    p.simd = true;
    p.dctChoice = 0;
    matchFrameRate(fps, p.rate);
    p.frameRate = fps;
    p.bitRate = kbps * 1000.0;
    p.maxBitRate = 2600000;
    p.vbvSize = mpeg2 ? 112 : 20;
    p.quantMat = 0;
    p.motionSearch = 0;
    applyStreamTables(p);
    return p;
}

struct EncodeResult {
    std::vector<std::uint8_t> es;
    std::vector<VideoUnit> units;
    std::vector<PictureRecord> records;
    int underflows = 0, overflows = 0;
    int exchanged = 0;  // pictures whose lent buffers the encoder took
    int aliveAfterEnd = 0;  // shared pictures the encoder still kept after videoEnd
    bool changed = false;   // a shared picture's planes changed while it was kept
    bool ok = true;
};

// How the pictures reach the encoder: copied in; lent in buffers of their
// own that it may take; shared read-only, the encoder alone keeping them
// once handed over; or shared and copied in turn.
enum class Handover { Copied, Lent, Shared, Alternating };

// Feeds the pictures the way the MPEG writer does and codes what is left at
// the end.
inline EncodeResult encode(const EncoderParams& p, const std::vector<Picture>& pics,
                           const EncoderKernels& k, bool codeRest = true,
                           Handover handover = Handover::Copied) {
    testing::RecordingHost host;
    EsStore store;
    EncodeResult res;
    VideoEncoder enc(host);
    if (!enc.videoStart(p, k, store, [&](const VideoUnit& u) {
            res.units.push_back(u);
            return Status{};
        })) {
        res.ok = false;
        return res;
    }
    auto drain = [&] {
        res.es.insert(res.es.end(), store.data(), store.data() + store.size());
        store.clear();
    };
    int fed = 0;
    std::vector<std::weak_ptr<const Picture>> shared;
    const auto share = [&](const Picture& pic) {
        auto held = std::make_shared<const Picture>(pic);
        shared.push_back(held);
        const Picture& h = *held;
        return enc.videoPut(h.y.data(), h.u.data(), h.v.data(), nullptr, std::move(held)).ok();
    };
    for (const Picture& pic : pics) {
        if (handover == Handover::Shared || (handover == Handover::Alternating && fed % 2 == 0)) {
            if (!share(pic)) res.ok = false;
        } else if (handover == Handover::Lent) {
            std::vector<std::uint8_t> lent[3] = {pic.y, pic.u, pic.v};
            const std::uint8_t* y = lent[0].data();
            if (!enc.videoPut(y, lent[1].data(), lent[2].data(), lent)) res.ok = false;
            if (lent[0].data() != y) ++res.exchanged;
            for (int c = 0; c < 3; ++c)
                if (lent[c].size() != (c ? pic.u : pic.y).size()) res.ok = false;
        } else if (!enc.videoPut(pic.y.data(), pic.u.data(), pic.v.data())) {
            res.ok = false;
        }
        ++fed;
        if (fed == 1) {
            if (!enc.videoCodeNext()) res.ok = false;
        } else if ((fed - 1) % kAnchorDistance == 0) {
            for (int m = 0; m < kAnchorDistance; ++m)
                if (!enc.videoCodeNext()) res.ok = false;
        }
        drain();
    }
    if (codeRest && !enc.videoCodeRest()) res.ok = false;
    res.records = enc.pictures();
    res.underflows = enc.vbvUnderflows();
    res.overflows = enc.vbvOverflows();
    for (std::size_t n = 0, s = 0; n < pics.size() && s < shared.size(); ++n) {
        if (handover == Handover::Alternating && n % 2) continue;
        if (const auto kept = shared[s++].lock()) {
            if (kept->y != pics[n].y || kept->u != pics[n].u || kept->v != pics[n].v)
                res.changed = true;
        }
    }
    enc.videoEnd();
    for (const auto& w : shared) res.aliveAfterEnd += !w.expired();
    drain();
    if (!host.boxes.empty()) res.ok = false;
    return res;
}

struct Decoded {
    std::string errors;
    std::vector<Picture> pictures;
};

// ffmpeg's decoding of an elementary stream, one output picture per coded
// picture.
inline Decoded ffmpegDecode(const fs::path& es, int w, int h) {
    fs::path yuv = es;
    yuv += ".yuv";
    Decoded d;
    d.errors = runOutput("ffmpeg -nostdin -v error -y -i '" + es.string() +
                         "' -fps_mode passthrough -f rawvideo -pix_fmt yuv420p '" + yuv.string() +
                         "' 2>&1");
    auto raw = readFile(yuv);
    const std::size_t fs = static_cast<std::size_t>(w) * h * 3 / 2;
    for (std::size_t off = 0; off + fs <= raw.size(); off += fs) {
        Picture p{w, h, {}, {}, {}};
        p.y.assign(raw.begin() + off, raw.begin() + off + w * h);
        p.u.assign(raw.begin() + off + w * h, raw.begin() + off + w * h * 5 / 4);
        p.v.assign(raw.begin() + off + w * h * 5 / 4, raw.begin() + off + fs);
        d.pictures.push_back(std::move(p));
    }
    return d;
}

inline double psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    double se = 0;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        double d = double(a[i]) - b[i];
        se += d * d;
    }
    double mse = se / a.size();
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace zembra::venctest
