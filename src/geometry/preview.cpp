#include "geometry/preview.h"

#include <algorithm>
#include <cstdio>

namespace zembra {

PreviewPicture choosePreviewPicture(const PreviewState& s) {
    if (!s.decoderOpen || s.audioOnly) return PreviewPicture::None;
    if (s.ripping) {
        const int every = std::max(s.render, 1);
        return s.ripFrame % every == 0 ? PreviewPicture::RipFrame : PreviewPicture::None;
    }
    return s.plainRedraw ? PreviewPicture::Snapshot : PreviewPicture::QueuedFrame;
}

bool useSourceView(int ratio, bool& renderSourceFlag) {
    if (ratio != 4) renderSourceFlag = false;
    return renderSourceFlag;
}

std::string cropLabel(int x1, int y1, int x2, int y2) {
    char text[96];
    std::snprintf(text, sizeof text, "(%3d,%3d) (%3d,%3d) [%3d,%3d] ", x1, y1, x2, y2, x2 - x1,
                  y2 - y1);
    return text;
}

PreviewRect sourceViewRect(int areaWidth, int areaHeight, bool correct43, double aspectFactor) {
    PreviewRect r{2, 2, std::max(areaWidth - 2, 2), std::max(areaHeight - 2, 2)};
    if (correct43 || aspectFactor <= 0) return r;
    const int inner = r.right - r.left;
    const int band = std::min(int(inner * aspectFactor), r.bottom - r.top);
    r.top = (areaHeight - band) / 2;
    r.bottom = r.top + band;
    return r;
}

bool renderDestination(const OutputGeometry& geometry, const uint8_t* const frame[3],
                       PreviewImage& image) {
    if (!geometry.ready()) return false;
    const GeometryParams& p = geometry.params();
    image.width = p.width;
    image.height = p.height;
    image.chromaWidth = geometry.chromaWidth(p.width);
    image.chromaHeight = geometry.chromaHeight(p.height);
    image.y.resize(size_t(image.width) * size_t(image.height));
    image.cb.resize(size_t(image.chromaWidth) * size_t(image.chromaHeight));
    image.cr.resize(image.cb.size());
    uint8_t* out[3] = {image.y.data(), image.cb.data(), image.cr.data()};
    geometry.apply(frame, out);
    return true;
}

}  // namespace zembra
