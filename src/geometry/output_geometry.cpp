#include "geometry/output_geometry.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "geometry/scale_kernels.h"

namespace zembra {
namespace {

inline int truncInt(double v) { return int(std::trunc(v)); }

// VideoResize to the kernel of the (last) stage; 4 and 10 name no kernel of
// their own and get the two-pixel bilinear one.
ScaleKernel kernelFor(int videoResize) {
    switch (videoResize) {
        case 0:
            return ScaleKernel::Nearest;
        case 1:
        case 7:
            return ScaleKernel::Bilinear;
        case 3:
        case 9:
            return ScaleKernel::Bilinear3;
        case 5:
        case 11:
            return ScaleKernel::Bicubic;
        case 6:
        case 12:
            return ScaleKernel::Bicubic2;
        case 13:
            return ScaleKernel::Lanczos;
        default:
            return ScaleKernel::Bilinear2;  // 2, 8, and 4, 10
    }
}

}  // namespace

// A crop fraction from options.ini can be anything; outside a few picture
// sizes either way it means nothing more, and converting it to int unclamped
// would be undefined.
double saneCropFraction(double fraction) {
    return std::isfinite(fraction) ? std::clamp(fraction, -8.0, 8.0) : 0.0;
}

int cropToPixelsX(int sourceWidth, double fraction) {
    return (int(sourceWidth * saneCropFraction(fraction) + 1) / 4) * 4;
}

int cropToPixelsY(int sourceHeight, double fraction) {
    return (int(sourceHeight * saneCropFraction(fraction) + 1) / 2) * 2;
}

double zoomFactor(int ratio) {
    switch (ratio) {
        case 0:
            return 1.32;
        case 1:
            return 1.16;
        default:
            return 1.0;
    }
}

uint8_t bandLuma(bool filterOn, int gain, int offset) {
    if (!filterOn) return 16;
    return uint8_t(std::clamp(truncInt(gain * 16.0 / 128.0 + offset), 0, 255));
}

int OutputGeometry::chromaWidth(int width) const {
    return params_.chromaFormat == 3 ? width : (width + 1) / 2;
}
int OutputGeometry::chromaHeight(int height) const {
    return params_.chromaFormat == 1 ? (height + 1) / 2 : height;
}

Status OutputGeometry::prepare(const GeometryParams& params) {
    params_ = params;
    ready_ = false;
    copy_ = false;
    stages_.clear();
    if (params.width <= 0 || params.height <= 0 || params.width > kMaxOutputSide ||
        params.height > kMaxOutputSide)
        return Status::error("STR_ERROR_9");
    try {
        // A source too small to scale from (no picture seen yet, or a
        // broken header) leaves nothing to draw either.
        if (prepareStages(params)) return {};
        return Status::error("STR_ERROR_9");
    } catch (const std::bad_alloc&) {
        stages_.clear();
        return Status::error("STR_ERROR_55");
    }
}

bool OutputGeometry::prepareStages(const GeometryParams& params) {
    const int ws = params.sourceWidth, hs = params.sourceHeight;
    if (ws < 8 || hs < 4) return false;

    cx1_ = std::clamp(cropToPixelsX(ws, params.x1), 0, ws);
    cx2_ = std::clamp(cropToPixelsX(ws, params.x2), 0, ws);
    cy1_ = cropToPixelsY(hs, params.y1);
    cy2_ = cropToPixelsY(hs, params.y2);
    if (params.ratio == 4 && (cx2_ - cx1_ < 16 || cy2_ - cy1_ < 4 || cy1_ >= hs - 2 || cy2_ <= 2)) {
        // A crop with (almost) nothing of the picture in it: take the whole.
        cx1_ = 0, cx2_ = ws, cy1_ = 0, cy2_ = hs;
    }
    const bool custom = params.ratio == 4;
    const int wIn = custom ? cx2_ - cx1_ : ws;
    const int hIn = custom ? cy2_ - cy1_ : hs;

    if ((params.ratio == 3 || custom) && wIn == params.width && hIn == params.height) {
        copy_ = true;
        ready_ = true;
        return true;
    }

    const int resize = std::clamp(params.videoResize, 0, kVideoResizeCount - 1);
    const ScaleKernel kernel = kernelFor(resize);
    ScaleKernel chromaKernel = kernel;
    if (resize == 5) chromaKernel = ScaleKernel::Bilinear2;
    if (resize == 6) chromaKernel = ScaleKernel::Bilinear3;

    const int ratio = std::clamp(params.ratio, 0, 4);
    if (resize >= 7 && resize <= 12) {
        int wm = params.width + (wIn - params.width) / 2;
        if (resize == 8 || resize == 9 || resize == 12) wm &= ~3;
        if (resize == 10) wm &= ~7;
        const int hm = params.height + (hIn - params.height) / 2;
        if (wm >= 8 && hm >= 4) {
            stages_.resize(2);
            buildStage(stages_[0], ratio, ws, hs, wm, hm, cx1_, cx2_, cy1_, cy2_, kernel, kernel);
            buildStage(stages_[1], 3, wm, hm, params.width, params.height, 0, wm, 0, hm, kernel,
                       kernel);
            ready_ = true;
            return true;
        }
    }
    stages_.resize(1);
    buildStage(stages_[0], ratio, ws, hs, params.width, params.height, cx1_, cx2_, cy1_, cy2_,
               kernel, chromaKernel);
    ready_ = true;
    return true;
}

void OutputGeometry::buildStage(Stage& stage, int ratio, int inW, int inH, int outW, int outH,
                                int x1, int x2, int y1, int y2, ScaleKernel lumaKernel,
                                ScaleKernel chromaKernel) {
    stage.inWidth = inW;
    stage.inHeight = inH;
    stage.outWidth = outW;
    stage.outHeight = outH;
    const int fmt = params_.chromaFormat;
    for (int p = 0; p < 2; ++p) {
        ScalerDescription& d = stage.plane[p];
        const int planeW = p ? chromaWidth(inW) : inW;
        const int planeH = p ? chromaHeight(inH) : inH;
        const int wo = p ? chromaWidth(outW) : outW;
        const int ho = p ? chromaHeight(outH) : outH;
        d = ScalerDescription{};
        d.kernel = p ? chromaKernel : lumaKernel;
        d.outWidth = wo;
        d.outHeight = ho;
        d.top = 0;
        d.bottom = ho;
        int wi = planeW, hi = planeH;
        if (ratio <= 2) {
            const double k = zoomFactor(ratio);
            d.top = truncInt(ho * (k - 1) / 2);
            d.bottom = truncInt(ho * (3 - k) / 2);
            d.hStart = truncInt((wi - 3) * 65536.0 * (1.33333 - k) / 2) + 65537;
            d.hStep = truncInt((k - 0.333333) * 65536 * (wi - 3) / wo);
            d.vStep = truncInt((hi - 1) / (ho * (2 - k)) * 65536);
        } else {
            d.hStart = 65537;
            if (ratio == 4) {
                const bool halfW = p && fmt != 3, halfH = p && fmt == 1;
                int px1 = halfW ? x1 / 2 : x1, px2 = halfW ? x2 / 2 : x2;
                int py1 = halfH ? y1 / 2 : y1, py2 = halfH ? y2 / 2 : y2;
                wi = px2 - px1;
                hi = py2 - py1;
                if (py1 < 0) {
                    d.top = truncInt(double(-py1) / hi * ho);
                    py1 = 0;
                }
                if (py2 > planeH) {
                    d.bottom = ho - truncInt(double(py2 - planeH) / hi * ho);
                    py2 = planeH;
                }
                d.vStep =
                    d.bottom > d.top ? truncInt((py2 - py1 - 1) * 65536.0 / (d.bottom - d.top)) : 0;
                d.srcX = px1;
                d.srcY = py1;
                hi = py2 - py1;
            } else {
                d.vStep = truncInt((hi - 1) * 65536.0 / ho);
            }
            d.hStep = truncInt((wi - 3) * 65536.0 / wo);
        }
        d.inWidth = wi;
        d.inHeight = hi;
        d.top = std::clamp(d.top, 0, ho);
        d.bottom = std::clamp(d.bottom, d.top, ho);
        d.hStep = std::max(d.hStep, 0);
        d.vStep = std::max(d.vStep, 0);
        if (d.kernel == ScaleKernel::Lanczos) {
            // The same source region as the stepped kernels' but with its
            // edges on the outputs' edges: the banded zooms take the middle
            // (k - 1/3) of the width, the others the whole (cropped) width;
            // every zoom maps the rows onto [top, bottom).
            const bool banded = ratio <= 2;
            const double k = zoomFactor(ratio);
            const double left = banded ? wi * (1.33333 - k) / 2 : 0.0;
            const double span = banded ? wi * (k - 0.333333) : double(wi);
            // A custom crop is the edge: nothing outside it is sampled.
            const int cols = std::clamp(wi, 1, std::max(planeW - d.srcX, 1));
            const int rows = std::clamp(hi, 1, std::max(planeH - d.srcY, 1));
            stage.sincColumns[p] = lanczosTaps(banded ? planeW : cols, left, span, wo);
            stage.sincRows[p] = lanczosTaps(rows, 0.0, rows, d.bottom - d.top);
        }

        // Columns are kept inside the plane whatever the steps say.
        const int cols = std::max(planeW - d.srcX, 1);
        stage.column[p].resize(size_t(std::max(wo, 0)));
        stage.fraction[p].resize(size_t(std::max(wo, 0)));
        for (int x = 0; x < wo; ++x) {
            const int64_t w = int64_t(d.hStart) + int64_t(x) * d.hStep;
            stage.column[p][size_t(x)] = int(std::clamp<int64_t>(w >> 16, 0, cols - 1));
            stage.fraction[p][size_t(x)] = uint8_t((w >> 8) & 255);
        }
        const size_t n = size_t(std::max(wo, 0));
        std::vector<int> linearColumns(2 * n), cubicColumns(4 * n);
        std::vector<int16_t> linearWeights(2 * n), cubicWeights(4 * n);
        for (size_t x = 0; x < n; ++x) {
            const int c = stage.column[p][x], f = stage.fraction[p][x];
            const auto at = [&](int i) { return std::clamp(i, 0, cols - 1); };
            linearColumns[2 * x] = c;
            linearColumns[2 * x + 1] = at(c + 1);
            linearWeights[2 * x] = int16_t(256 - f);
            linearWeights[2 * x + 1] = int16_t(f);
            const int* bw = bsplineWeights(f);
            for (int k = 0; k < 4; ++k) {
                cubicColumns[4 * x + size_t(k)] = at(c - 1 + k);
                cubicWeights[4 * x + size_t(k)] = int16_t(bw[k]);
            }
        }
        stage.linear[p].build(2, wo, std::move(linearColumns), std::move(linearWeights));
        stage.cubic[p].build(4, wo, std::move(cubicColumns), std::move(cubicWeights));
    }
}

void OutputGeometry::scalePlane(const Stage& stage, int p, const uint8_t* src, int srcWidth,
                                int srcHeight, uint8_t* dst, uint8_t band) const {
    const ScalerDescription& d = stage.plane[p];
    const int wo = d.outWidth, ho = d.outHeight;
    if (wo <= 0 || ho <= 0) return;
    std::memset(dst, band, size_t(wo) * size_t(d.top));
    std::memset(dst + size_t(wo) * size_t(d.bottom), band, size_t(wo) * size_t(ho - d.bottom));

    const int rows = srcHeight - d.srcY, cols = srcWidth - d.srcX;
    if (rows <= 0 || cols <= 0) {
        std::memset(dst + size_t(wo) * size_t(d.top), band, size_t(wo) * size_t(d.bottom - d.top));
        return;
    }
    const uint8_t* base = src + size_t(d.srcY) * size_t(srcWidth) + size_t(d.srcX);
    const auto row = [&](int r) {
        return base + size_t(std::clamp(r, 0, rows - 1)) * size_t(srcWidth);
    };
    if (d.kernel == ScaleKernel::Lanczos) {
        scaleRowsSinc(stage, p, base, srcWidth, cols, dst + size_t(wo) * size_t(d.top));
        return;
    }
    const int* column = stage.column[p].data();
    const ScaleKernels& k = scaleKernels();
    // The vector kernels read 16 values from a pixel's first column.
    tmp_.resize(size_t(cols) + 16);
    uint16_t* tmp = tmp_.data();
    const bool bicubic = d.kernel == ScaleKernel::Bicubic || d.kernel == ScaleKernel::Bicubic2;

    for (int o = d.top; o < d.bottom; ++o) {
        const int64_t u = int64_t(o - d.top) * d.vStep;
        const int r = int(u >> 16);
        const int fy = int((u >> 8) & 255);
        uint8_t* out = dst + size_t(o) * size_t(wo);
        if (d.kernel == ScaleKernel::Nearest) {
            const uint8_t* s = row(r);
            for (int x = 0; x < wo; ++x) out[x] = s[column[x]];
            continue;
        }
        // Bicubic needs a row above and two below; elsewhere it falls back
        // to bilinear.
        if (bicubic && r >= 1 && r < rows - 2) {
            const uint8_t* taps[4] = {row(r - 1), row(r), row(r + 1), row(r + 2)};
            k.blend4(taps, bsplineWeights(fy), tmp, cols);
            k.horizontal(tmp, stage.cubic[p], out);
            continue;
        }
        k.blend2(row(r), row(r + 1), fy, tmp, cols);
        k.horizontal(tmp, stage.linear[p], out);
    }
}

// Rows [top, bottom) of a plane with the Lanczos kernel; `base` is the
// source start, rows `srcWidth` apart, `cols` of them usable.
void OutputGeometry::scaleRowsSinc(const Stage& stage, int p, const uint8_t* base, int srcWidth,
                                   int cols, uint8_t* dst) const {
    const SincTaps& v = stage.sincRows[p];
    const SincTaps& h = stage.sincColumns[p];
    const ScaleKernels& k = scaleKernels();
    // The horizontal pass reads a padded window from each pixel's first
    // column; the values past the plane meet zero weights.
    sincTmp_.assign(size_t(cols) + size_t(h.stride) + 8, 0);
    sincRowPointers_.resize(size_t(v.taps));
    for (int o = 0; o < v.count; ++o) {
        // Rows of zero weight add nothing to the sums: only the live ones
        // are read.
        const int lead = v.lead[size_t(o)], live = v.live[size_t(o)];
        const int from = v.first[size_t(o)] + lead;
        for (int t = 0; t < live; ++t)
            sincRowPointers_[size_t(t)] = base + size_t(from + t) * size_t(srcWidth);
        k.blendSinc(sincRowPointers_.data(),
                    v.weight.data() + size_t(o) * size_t(v.stride) + size_t(lead), live,
                    sincTmp_.data(), cols);
        k.horizontalSinc(sincTmp_.data(), h, dst + size_t(o) * size_t(h.count));
    }
}

bool OutputGeometry::passesThrough() const {
    const GeometryParams& p = params_;
    return ready_ && copy_ && p.width == p.sourceWidth && p.height == p.sourceHeight &&
           (p.ratio != 4 || (cx1_ == 0 && cy1_ == 0));
}

void OutputGeometry::apply(const uint8_t* const src[3], uint8_t* const dst[3]) const {
    if (!ready_) return;
    const uint8_t luma =
        bandLuma(params_.luminanceFilter, params_.luminanceGain, params_.luminanceOffset);
    const int ws = params_.sourceWidth, hs = params_.sourceHeight;
    const int wo = params_.width, ho = params_.height;

    if (copy_) {
        for (int p = 0; p < 3; ++p) {
            const bool c = p != 0;
            const int pw = c ? chromaWidth(ws) : ws, ph = c ? chromaHeight(hs) : hs;
            const int ow = c ? chromaWidth(wo) : wo, oh = c ? chromaHeight(ho) : ho;
            const bool halfW = c && params_.chromaFormat != 3,
                       halfH = c && params_.chromaFormat == 1;
            const int x1 = halfW ? cx1_ / 2 : cx1_;
            const int y1 = params_.ratio == 4 ? (halfH ? cy1_ / 2 : cy1_) : 0;
            const int x0 = params_.ratio == 4 ? x1 : 0;
            const uint8_t fill = c ? 128 : luma;
            const int n = std::clamp(std::min(ow, pw - x0), 0, ow);
            for (int o = 0; o < oh; ++o) {
                uint8_t* out = dst[p] + size_t(o) * size_t(ow);
                const int sr = y1 + o;
                if (sr < 0 || sr >= ph) {
                    std::memset(out, fill, size_t(ow));
                    continue;
                }
                std::memcpy(out, src[p] + size_t(sr) * size_t(pw) + size_t(x0), size_t(n));
                std::memset(out + n, fill, size_t(ow - n));
            }
        }
        return;
    }

    if (stages_.size() == 1) {
        for (int p = 0; p < 3; ++p) {
            const bool c = p != 0;
            scalePlane(stages_[0], c ? 1 : 0, src[p], c ? chromaWidth(ws) : ws,
                       c ? chromaHeight(hs) : hs, dst[p], c ? 128 : luma);
        }
        return;
    }
    const Stage& first = stages_[0];
    const int wm = first.outWidth, hm = first.outHeight;
    const size_t lumaSize = size_t(wm) * size_t(hm);
    const size_t chromaSize = size_t(chromaWidth(wm)) * size_t(chromaHeight(hm));
    mid_.resize(lumaSize + 2 * chromaSize);
    uint8_t* mid[3] = {mid_.data(), mid_.data() + lumaSize, mid_.data() + lumaSize + chromaSize};
    for (int p = 0; p < 3; ++p) {
        const bool c = p != 0;
        scalePlane(first, c ? 1 : 0, src[p], c ? chromaWidth(ws) : ws, c ? chromaHeight(hs) : hs,
                   mid[p], c ? 128 : luma);
        scalePlane(stages_[1], c ? 1 : 0, mid[p], c ? chromaWidth(wm) : wm,
                   c ? chromaHeight(hm) : hm, dst[p], c ? 128 : luma);
    }
}

}  // namespace zembra
