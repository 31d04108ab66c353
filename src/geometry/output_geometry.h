#pragma once
// The output-geometry step of the rip and of the preview: crops the decoded
// picture, adds letterbox bands, cuts pan-scan sides and resamples to the
// output Width x Height with the kernel chosen by VideoResize.

#include <cstdint>
#include <string>
#include <vector>

#include "encoder/encoder_params.h"
#include "geometry/scale_kernels.h"
#include "platform/status.h"

namespace zembra {

// The output sizes the program works with: at least one macroblock, at most
// what an MPEG-2 sequence header can state (no output format carries more;
// MPEG-1 and some AVI compressors carry less and refuse it when opened).
inline constexpr int kMinOutputSide = 16;
inline constexpr int kMaxOutputSide = kMaxMpeg2Side;

// VideoResize choices: 0-6 one kernel, 7-12 the same in two stages, 13 the
// centred Lanczos kernel.
inline constexpr int kVideoResizeCount = 14;

struct GeometryParams {
    int width = 352;  // output size
    int height = 288;
    int ratio = 0;        // 0 LetterBox, 1 Medium, 2 PanScale, 3 Full, 4 Custom
    int videoResize = 2;  // 0..13
    double x1 = 0.0, x2 = 1.0, y1 = 0.0, y2 = 1.0;  // crop, fractions of the source
    int sourceWidth = 720;
    int sourceHeight = 576;
    int chromaFormat = 1;  // 1 4:2:0, 2 4:2:2, 3 4:4:4
    bool luminanceFilter = false;
    int luminanceGain = 128;
    int luminanceOffset = 0;
};

// Resampling kernels (what the VideoResize values select).
enum class ScaleKernel {
    Nearest = 0,
    Bilinear = 1,
    Bilinear2 = 2,
    Bilinear3 = 3,
    Bicubic = 5,
    Bicubic2 = 6,
    Lanczos = 13
};

// One plane's scaler: output rows [top, bottom) carry picture, the rest is
// band; positions and steps are 16.16 fixed point.
struct ScalerDescription {
    int top = 0, bottom = 0;
    int outWidth = 0, outHeight = 0;
    int inWidth = 0, inHeight = 0;
    int hStart = 0, hStep = 0, vStep = 0;
    int srcX = 0, srcY = 0;  // source start offset in the input plane
    ScaleKernel kernel = ScaleKernel::Bilinear2;
};

// Crop fractions to source pixels: x on multiples of 4, y on multiples of 2.
int cropToPixelsX(int sourceWidth, double fraction);
int cropToPixelsY(int sourceHeight, double fraction);
// Vertical factor k of the banded zoom modes (0..2).
double zoomFactor(int ratio);
// Luma of the bands (16, or following the luminance filter when it is on).
uint8_t bandLuma(bool filterOn, int gain, int offset);

class OutputGeometry {
public:
    // Geometry preparation. Not done ("Invalid output Dimension.") for an
    // output size of 0 or above kMaxOutputSide or a source too small to
    // scale from, nor (out of memory) when the scaler's tables cannot be
    // allocated; no scaler is built then.
    Status prepare(const GeometryParams& params);
    bool ready() const { return ready_; }
    bool copyPath() const { return copy_; }
    // apply() makes output planes identical to the source planes: the
    // copy path at the source's own size, nothing cropped away.
    bool passesThrough() const;
    int stageCount() const { return int(stages_.size()); }
    const ScalerDescription& luma(int stage = 0) const { return stages_[size_t(stage)].plane[0]; }
    const ScalerDescription& chroma(int stage = 0) const { return stages_[size_t(stage)].plane[1]; }
    const GeometryParams& params() const { return params_; }
    // Crop rectangle in source pixels (x1, y1, x2, y2).
    int cropX1() const { return cx1_; }
    int cropX2() const { return cx2_; }
    int cropY1() const { return cy1_; }
    int cropY2() const { return cy2_; }

    // Frame geometry: source planes at the source size (rows packed at the
    // plane width) into output planes at Width x Height.
    void apply(const uint8_t* const src[3], uint8_t* const dst[3]) const;

    // Plane sizes for a picture size with this geometry's chroma format.
    int chromaWidth(int width) const;
    int chromaHeight(int height) const;

private:
    struct Stage {
        int inWidth = 0, inHeight = 0, outWidth = 0, outHeight = 0;
        ScalerDescription plane[2];
        std::vector<int> column[2];        // source column of each output pixel
        std::vector<uint8_t> fraction[2];  // its 8-bit fraction
        // The same as ready-made taps (columns kept inside the plane).
        HorizontalTaps linear[2];
        HorizontalTaps cubic[2];
        // The Lanczos kernel's taps, on a grid centred on the picture.
        SincTaps sincColumns[2];
        SincTaps sincRows[2];
    };
    bool prepareStages(const GeometryParams& params);
    void buildStage(Stage& stage, int ratio, int inW, int inH, int outW, int outH, int x1, int x2,
                    int y1, int y2, ScaleKernel lumaKernel, ScaleKernel chromaKernel);
    void scalePlane(const Stage& stage, int p, const uint8_t* src, int srcWidth, int srcHeight,
                    uint8_t* dst, uint8_t band) const;
    void scaleRowsSinc(const Stage& stage, int p, const uint8_t* base, int srcWidth, int cols,
                       uint8_t* dst) const;

    GeometryParams params_;
    bool ready_ = false;
    bool copy_ = false;
    int cx1_ = 0, cx2_ = 0, cy1_ = 0, cy2_ = 0;
    std::vector<Stage> stages_;
    mutable std::vector<uint8_t> mid_;  // planes between the two stages
    mutable std::vector<uint16_t> tmp_;
    mutable std::vector<int16_t> sincTmp_;
    mutable std::vector<const uint8_t*> sincRowPointers_;
};

}  // namespace zembra
