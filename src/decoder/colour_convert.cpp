#include "decoder/colour_convert.h"

#include <algorithm>
#include <cstring>

#include "decoder/frame_kernels.h"
#include "platform/ui_host.h"

namespace zembra {
namespace {

int chromaWidthOf(int width, int chromaFormat) {
    return chromaFormat == 3 ? width : (width + 1) / 2;
}
int chromaHeightOf(int height, int chromaFormat) {
    return chromaFormat == 1 ? (height + 1) / 2 : height;
}

// c[i] then (c[i] + c[i + 1]) >> 1; the last pair repeats the last sample.
void upsampleRow(const uint8_t* c, int cw, uint8_t* out, int width) {
    for (int x = 0; x < width; ++x) {
        const int i = x >> 1;
        if (x % 2 == 0 || i + 1 >= cw)
            out[x] = c[i < cw ? i : cw - 1];
        else
            out[x] = uint8_t((c[i] + c[i + 1]) >> 1);
    }
}

std::vector<uint8_t> convertRgb(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width,
                                int height, int chromaFormat, bool alphaByte) {
    if (width <= 0 || height <= 0) return {};
    const int bpp = alphaByte ? 4 : 3;
    const size_t stride = size_t(width) * size_t(bpp);
    std::vector<uint8_t> out(stride * size_t(height) + (alphaByte ? 0 : 4), 0);
    const std::vector<uint8_t> fullCb = upsampleChroma(cb, width, height, chromaFormat);
    const std::vector<uint8_t> fullCr = upsampleChroma(cr, width, height, chromaFormat);
    const FrameKernels& k = frameKernels();
    for (int row = 0; row < height; ++row) {
        const size_t at = size_t(row) * size_t(width);
        // Bottom-up: the first stored row is the bottom picture row.
        uint8_t* dst = out.data() + stride * size_t(height - 1 - row);
        if (alphaByte)
            k.yuvToBgra(y + at, &fullCb[at], &fullCr[at], dst, width, 16);
        else
            k.yuvToBgr(y + at, &fullCb[at], &fullCr[at], dst, width, 0);
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
            upsampleRow(src, cw, out, width);
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

bool convertForExport(ExportFormat format, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                      int width, int height, int idctVariant, int chromaFormat, UiHost& host,
                      std::vector<uint8_t>& out) {
    switch (format) {
        case ExportFormat::Rgb32:
            out = convertToRgb32(y, cb, cr, width, height, chromaFormat);
            return true;
        case ExportFormat::Rgb24:
            out = convertToRgb24(y, cb, cr, width, height, chromaFormat);
            return true;
        case ExportFormat::Yuy2:
            out = convertToYuy2(y, cb, cr, width, height, idctVariant, chromaFormat);
            return true;
        case ExportFormat::Yv12:
            break;
    }
    out.clear();
    host.error("STR_ERROR_508");
    return false;
}

}  // namespace zembra
