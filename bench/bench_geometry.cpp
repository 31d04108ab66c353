// Per-frame cost of the output geometry and of the RGB24 conversion on
// 720x576 4:2:0 frames read from a raw file (or a built-in pattern).
// Usage: bench_geometry [FILE.yuv] [FRAMES]
// Prints one line per case: "<case> <ms per frame>".

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "decoder/colour_convert.h"
#include "geometry/output_geometry.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Case {
    const char* name;
    int ratio, resize, width, height;
};

}  // namespace

int main(int argc, char** argv) {
    const int ws = 720, hs = 576;
    const size_t frameBytes = size_t(ws) * hs * 3 / 2;
    int frames = argc > 2 ? std::atoi(argv[2]) : 200;
    std::vector<uint8_t> input;
    if (argc > 1) {
        std::FILE* f = std::fopen(argv[1], "rb");
        if (!f) {
            std::fprintf(stderr, "cannot read %s\n", argv[1]);
            return 1;
        }
        input.resize(frameBytes * size_t(frames));
        frames = int(std::fread(input.data(), frameBytes, size_t(frames), f));
        std::fclose(f);
        input.resize(frameBytes * size_t(frames));
    } else {
        input.resize(frameBytes * size_t(frames));
        for (size_t i = 0; i < input.size(); ++i) input[i] = uint8_t((i * 7 + i / 720) & 255);
    }
    if (frames <= 0) return 1;

    const Case cases[] = {{"bilinear_352x288", 3, 2, 352, 288},
                          {"bicubic_352x288", 3, 5, 352, 288},
                          {"bilinear_letterbox_480x576", 0, 2, 480, 576},
                          {"bilinear_letterbox_720x576", 0, 2, 720, 576},
                          {"bicubic_letterbox_720x576", 0, 5, 720, 576},
                          {"bilinear_full_480x576", 3, 2, 480, 576},
                          {"full_720x576", 3, 2, 720, 576}};
    for (const Case& c : cases) {
        zembra::GeometryParams p;
        p.width = c.width, p.height = c.height, p.ratio = c.ratio, p.videoResize = c.resize;
        p.sourceWidth = ws, p.sourceHeight = hs;
        zembra::OutputGeometry g;
        if (!g.prepare(p)) return 1;
        const size_t ls = size_t(c.width) * c.height, cs = ls / 4;
        std::vector<uint8_t> out(ls + 2 * cs);
        uint8_t* dst[3] = {out.data(), out.data() + ls, out.data() + ls + cs};
        const auto start = Clock::now();
        for (int i = 0; i < frames; ++i) {
            const uint8_t* f = input.data() + frameBytes * size_t(i);
            const uint8_t* src[3] = {f, f + ws * hs, f + ws * hs * 5 / 4};
            g.apply(src, dst);
        }
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        std::printf("%s %.4f\n", c.name, ms / frames);
    }
    size_t sink = 0;
    const auto start = Clock::now();
    for (int i = 0; i < frames; ++i) {
        const uint8_t* f = input.data() + frameBytes * size_t(i);
        auto rgb = zembra::convertToRgb24(f, f + ws * hs, f + ws * hs * 5 / 4, ws, hs);
        sink += rgb[size_t(i) % rgb.size()];
    }
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::printf("rgb24_720x576 %.4f\n", ms / frames);
    return sink == 1 ? 2 : 0;
}
