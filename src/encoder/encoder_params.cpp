#include "encoder/encoder_params.h"

#include <cmath>

namespace zembra {

bool matchFrameRate(double rate, FrameRateInfo& out) {
    struct Row {
        double nominal, exact;
        int code, format, colour;
    };
    static const Row rows[] = {{23.97, 24000.0 / 1001, 1, 2, 4},
                               {24.0, 24.0, 2, 2, 4},
                               {25.0, 25.0, 3, 1, 5},
                               {29.97, 30000.0 / 1001, 4, 2, 4},
                               {30.0, 30.0, 5, 2, 4}};
    for (const Row& r : rows) {
        if (std::fabs(rate - r.nominal) <= 0.01) {
            out = {r.exact, r.code, r.format, r.colour};
            return true;
        }
    }
    return false;
}

int fCodeFor(int v, bool mpeg2, bool vertical) {
    if (v < 8) return 1;
    if (v < 16) return 2;
    if (v < 32) return 3;
    if (v < 64) return 4;
    if (!mpeg2) return 4;
    if (vertical) return 5;
    if (v < 128) return 5;
    if (v < 256) return 6;
    return 7;
}

std::array<std::uint8_t, 64> defaultNonIntraMatrix() {
    std::array<std::uint8_t, 64> m{};
    for (int i = 0; i < 8; ++i) {
        for (int j = 0; j < 8; ++j) {
            int c = 16 + i + j;
            int v = c;
            if (c == 26)
                v = 27;
            else if (c == 27)
                v = 28;
            else if (c == 28)
                v = 30;
            else if (c == 29)
                v = 31;
            else if (c == 30)
                v = 33;
            m[i * 8 + j] = static_cast<std::uint8_t>(v);
        }
    }
    return m;
}

std::array<std::uint8_t, 64> bestIntraMatrix() {
    std::array<std::uint8_t, 64> m = mpeg::kDefaultIntraMatrix;
    // Entry 0 weighs no coefficient (the DC has its own precision).
    for (int i = 1; i < 64; ++i) m[i] = static_cast<std::uint8_t>((m[i] + 16 + 1) / 2);
    return m;
}

namespace {

// Every preset but DVD High Quality codes below this many bits a pixel; at
// higher rates the quantiser sits near its floor and Best keeps the standard
// intra weights and DC precision, which measured better there (sources coded
// with them keep their grid).
constexpr double kBestLowRateBitsPerPixel = 0.6;

bool bestAtLowRate(const EncoderParams& p) {
    const double pixelsPerSecond = static_cast<double>(p.width) * p.height * p.rate.rate;
    return pixelsPerSecond > 0 && p.bitRate / pixelsPerSecond < kBestLowRateBitsPerPixel;
}

// Best's matrices for the "Default" choice. Flat weights spend the bits
// where the error is measured: the non-intra matrix is MPEG's flat one, which
// needs no transmitting, and at low rates the intra matrix goes halfway to
// flat.
void chooseBestMatrices(EncoderParams& p) {
    p.nonIntraMatrix.fill(16);
    p.loadNonIntra = false;
    if (bestAtLowRate(p)) {
        p.intraMatrix = bestIntraMatrix();
        p.loadIntra = true;
    }
}

}  // namespace

void applyStreamTables(EncoderParams& p) {
    p.mpeg2 = p.streamKind == 3;
    if (p.mpeg2) {
        p.aspectRatio = 2;
        p.constrainedParameters = 0;
        p.progressiveSequence = 0;
        p.progressiveFrame = 0;
        // At low rates Best's DC bits buy more as AC levels.
        p.intraDcPrecision = p.motionSearch == kBestMotionSearch && bestAtLowRate(p) ? 0 : 1;
        p.svcdLayout = true;
    } else {
        p.aspectRatio = 8;
        p.constrainedParameters = 1;
        p.progressiveSequence = 1;
        p.progressiveFrame = 1;
        p.intraDcPrecision = 0;
        p.svcdLayout = false;
    }
    p.profileLevel = 0x48;
    p.chromaFormat = 1;
    p.matrixCoefficients = 5;
    p.lowDelay = 0;
    p.intraMatrix = mpeg::kDefaultIntraMatrix;
    p.loadIntra = false;
    if (p.quantMat == 0 && p.motionSearch == kBestMotionSearch) {
        chooseBestMatrices(p);
    } else if (p.quantMat == 0) {
        p.nonIntraMatrix = defaultNonIntraMatrix();
        p.loadNonIntra = true;
    } else {
        p.nonIntraMatrix.fill(16);
        p.loadNonIntra = false;
    }
    const int M = kAnchorDistance;
    // Best searches from predicted vectors, so a wide range costs it little
    // time; it needs the range for motion of a pixel or two per picture
    // beyond what level 3's window finds.
    p.searchRange = p.motionSearch == kBestMotionSearch ? 16 : 3 * p.motionSearch + 3;
    p.pRange = M * p.searchRange;
    p.bForwardRange[0] = 0;
    p.bForwardRange[1] = p.searchRange;
    p.bForwardRange[2] = 2 * p.searchRange;
    p.bBackwardRange = (p.searchRange / 2) * (M - 1);
    // Horizontal and vertical ranges are equal; the vertical code is the
    // tighter one, so use it for both to keep every vector codable.
    auto code = [&](int v) {
        int h = fCodeFor(v, p.mpeg2, false), w = fCodeFor(v, p.mpeg2, true);
        return h > w ? h : w;
    };
    p.pFcode = code(p.pRange);
    for (int k = 0; k < 3; ++k) p.bForwardFcode[k] = code(p.bForwardRange[k]);
    p.bBackwardFcode = code(p.bBackwardRange);
}

}  // namespace zembra
