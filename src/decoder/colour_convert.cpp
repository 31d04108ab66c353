#include "decoder/colour_convert.h"

#include <algorithm>
#include <cstring>

#include "decoder/frame_kernels.h"

namespace zembra {
namespace {

int chromaWidthOf(int width, int chromaFormat) {
    return chromaFormat == 3 ? width : (width + 1) / 2;
}
int chromaHeightOf(int height, int chromaFormat) {
    return chromaFormat == 1 ? (height + 1) / 2 : height;
}

std::vector<uint8_t> convertRgb(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width,
                                int height, int chromaFormat, bool alphaByte) {
    if (width <= 0 || height <= 0) return {};
    const int bpp = alphaByte ? 4 : 3;
    const size_t stride = size_t(width) * size_t(bpp);
    std::vector<uint8_t> out(stride * size_t(height) + (alphaByte ? 0 : 4), 0);
    const FrameKernels& k = frameKernels();
    const int cw = chromaWidthOf(width, chromaFormat), ch = chromaHeightOf(height, chromaFormat);
    const size_t w = size_t(width);
    // Full-width chroma rows: the current chroma row, the next one, and the
    // row between them for 4:2:0.
    std::vector<uint8_t> rows(6 * w);
    uint8_t* cur[2] = {&rows[0], &rows[w]};
    uint8_t* next[2] = {&rows[2 * w], &rows[3 * w]};
    uint8_t* mid[2] = {&rows[4 * w], &rows[5 * w]};
    const uint8_t* planes[2] = {cb, cr};
    const auto horizontal = [&](int crow, uint8_t* const dst[2]) {
        for (int p = 0; p < 2; ++p) {
            const uint8_t* src = planes[p] + size_t(crow) * size_t(cw);
            if (chromaFormat == 3)
                std::memcpy(dst[p], src, w);
            else
                k.upsampleRow(src, dst[p], width);
        }
    };
    int loaded = -1;  // chroma row now in cur
    for (int row = 0; row < height; ++row) {
        const uint8_t* fcb;
        const uint8_t* fcr;
        if (chromaFormat != 1) {
            horizontal(row, cur);
            fcb = cur[0], fcr = cur[1];
        } else {
            const int crow = std::min(row / 2, ch - 1);
            if (loaded != crow) {
                if (loaded == crow - 1 && loaded >= 0) {
                    std::swap(cur[0], next[0]);
                    std::swap(cur[1], next[1]);
                } else {
                    horizontal(crow, cur);
                }
                loaded = crow;
            }
            if (row % 2 == 0 || row + 1 >= height || crow + 1 >= ch) {
                // Chroma rows on the even rows; the last row repeats the one above.
                fcb = cur[0], fcr = cur[1];
            } else {
                horizontal(crow + 1, next);
                k.averageRows(cur[0], next[0], mid[0], width);
                k.averageRows(cur[1], next[1], mid[1], width);
                fcb = mid[0], fcr = mid[1];
            }
        }
        const size_t at = size_t(row) * w;
        // Bottom-up: the first stored row is the bottom picture row.
        uint8_t* dst = out.data() + stride * size_t(height - 1 - row);
        if (alphaByte)
            k.yuvToBgra(y + at, fcb, fcr, dst, width, 16);
        else
            k.yuvToBgr(y + at, fcb, fcr, dst, width, 0);
    }
    return out;
}

}  // namespace

std::vector<uint8_t> upsampleChroma(const uint8_t* c, int width, int height, int chromaFormat) {
    const int cw = chromaWidthOf(width, chromaFormat), ch = chromaHeightOf(height, chromaFormat);
    const size_t w = size_t(width);
    std::vector<uint8_t> full(w * size_t(height));
    if (width <= 0 || height <= 0) return full;
    const auto horizontal = [&](int crow, uint8_t* out) {
        const uint8_t* src = c + size_t(crow) * size_t(cw);
        if (chromaFormat == 3)
            std::memcpy(out, src, w);
        else
            frameKernels().upsampleRow(src, out, width);
    };
    if (chromaFormat != 1) {
        for (int row = 0; row < height; ++row) horizontal(row, &full[w * size_t(row)]);
        return full;
    }
    // Chroma rows on the even rows, the odd ones between them averaged.
    for (int row = 0; row < height; row += 2)
        horizontal(std::min(row / 2, ch - 1), &full[w * size_t(row)]);
    const FrameKernels& k = frameKernels();
    for (int row = 1; row < height; row += 2) {
        uint8_t* d = &full[w * size_t(row)];
        if (row + 1 < height)
            k.averageRows(d - w, d + w, d, width);
        else
            std::memcpy(d, d - w, w);
    }
    return full;
}

std::vector<uint8_t> convertToRgb32(const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                                    int width, int height, int chromaFormat) {
    return convertRgb(y, cb, cr, width, height, chromaFormat, true);
}

std::vector<uint8_t> convertToRgb24(const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                                    int width, int height, int chromaFormat) {
    return convertRgb(y, cb, cr, width, height, chromaFormat, false);
}

std::vector<uint8_t> convertToYuy2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                                   int width, int height, int idctVariant, int chromaFormat) {
    if (width <= 0 || height <= 0) return {};
    const int cw = chromaWidthOf(width, chromaFormat), ch = chromaHeightOf(height, chromaFormat);
    const int step = chromaFormat == 3 ? 2 : 1;  // 4:4:4 keeps every second sample
    const int pairs = (width + 1) / 2;
    std::vector<uint8_t> out(size_t(width) * size_t(height) * 2 +
                             (width % 2 ? 2 * size_t(height) : 0));
    std::vector<uint8_t> rowCb(static_cast<size_t>(pairs)), rowCr(static_cast<size_t>(pairs));
    const int roundUp = idctVariant == 2 ? 1 : 0;

    const auto chromaRow = [&](const uint8_t* plane, int row, uint8_t* dst) {
        const auto sample = [&](int crow, int i) {
            const int ci = std::min(i * step, cw - 1);
            return int(plane[size_t(crow) * size_t(cw) + size_t(ci)]);
        };
        if (chromaFormat != 1) {
            for (int i = 0; i < pairs; ++i) dst[i] = uint8_t(sample(row, i));
            return;
        }
        const int crow = row / 2;
        const bool between = row % 2 == 1 && crow + 1 < ch && row + 1 < height;
        for (int i = 0; i < pairs; ++i) {
            if (between)
                dst[i] = uint8_t((sample(crow, i) + sample(crow + 1, i) + roundUp) >> 1);
            else
                dst[i] = uint8_t(sample(std::min(crow, ch - 1), i));
        }
    };

    uint8_t* d = out.data();
    for (int row = 0; row < height; ++row) {
        chromaRow(cb, row, rowCb.data());
        chromaRow(cr, row, rowCr.data());
        const uint8_t* ly = y + size_t(row) * size_t(width);
        for (int i = 0; i < pairs; ++i) {
            const int x = 2 * i;
            *d++ = ly[x];
            *d++ = rowCb[size_t(i)];
            *d++ = x + 1 < width ? ly[x + 1] : ly[x];
            *d++ = rowCr[size_t(i)];
        }
    }
    return out;
}

Status convertForExport(ExportFormat format, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                        int width, int height, int idctVariant, int chromaFormat,
                        std::vector<uint8_t>& out) {
    switch (format) {
        case ExportFormat::Rgb32:
            out = convertToRgb32(y, cb, cr, width, height, chromaFormat);
            return {};
        case ExportFormat::Rgb24:
            out = convertToRgb24(y, cb, cr, width, height, chromaFormat);
            return {};
        case ExportFormat::Yuy2:
            out = convertToYuy2(y, cb, cr, width, height, idctVariant, chromaFormat);
            return {};
        case ExportFormat::Yv12:
            break;
    }
    out.clear();
    return Status::error("STR_ERROR_508");
}

}  // namespace zembra
