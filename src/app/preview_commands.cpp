// The preview area of the main window and the display commands of the
// Setting > Crop menu. Outside a rip the picture is the current row's
// snapshot (the first queued frame of its title, kept when the row was
// opened) drawn through the output geometry, or with the Custom zoom and
// Render Source the whole source frame with the crop rectangle over it.
// During a rip every Render-th produced frame is handed over as it is.

#include <algorithm>

#include "app/encode_dlg.h"
#include "app/output_options.h"
#include "geometry/output_geometry.h"
#include "geometry/preview.h"
#include "platform/ui_host.h"

namespace zembra {

namespace {

PreviewImage copyOfSource(const FrameRecord& source) {
    const PlaneLayout& layout = source.planes->layout;
    PreviewImage image;
    image.width = layout.width;
    image.height = layout.height;
    image.chromaWidth = layout.chromaWidth;
    image.chromaHeight = layout.chromaHeight;
    image.y.assign(source.y, source.y + layout.planeSize(0));
    image.cb.assign(source.cb, source.cb + layout.planeSize(1));
    image.cr.assign(source.cr, source.cr + layout.planeSize(2));
    return image;
}

}  // namespace

void EncodeDlg::takeSnapshot(DVDProjectItem& item) {
    if (!engines_.source || !decoderOpen_) return;
    FrameRecord frame;
    int width = 0, height = 0;
    if (engines_.source->peekFrame(frame, width, height) && !frame.empty()) item.snapshot = frame;
}

bool EncodeDlg::previewOf(const FrameRecord& source, PreviewFrame& frame) {
    if (source.empty()) return false;
    const PlaneLayout& layout = source.planes->layout;
    OutputSettings& out = settings_.output;
    const bool sourceView = useSourceView(out.zoomMode, out.renderSource);
    if (sourceView) {
        frame.sourceView = true;
        frame.image = copyOfSource(source);
        const int areaWidth = previewAreaWidth_ > 0 ? previewAreaWidth_ : out.width;
        const int areaHeight = previewAreaHeight_ > 0 ? previewAreaHeight_ : out.height;
        frame.area = sourceViewRect(areaWidth, areaHeight, out.correct43, out.previewAspect);
        const CropPixels crop = cropToPixels(out, layout.width, layout.height);
        frame.cropX1 = crop.x1;
        frame.cropY1 = crop.y1;
        frame.cropX2 = crop.x2;
        frame.cropY2 = crop.y2;
        if (out.showResolution) frame.label = cropLabel(crop.x1, crop.y1, crop.x2, crop.y2);
        return true;
    }
    GeometryParams params = geometryParams(settings_.input, out);
    params.sourceWidth = layout.width;
    params.sourceHeight = layout.height;
    params.chromaFormat = layout.chromaFormat;
    if (!previewGeometry_->prepare(params)) return false;
    const uint8_t* const planes[3] = {source.y, source.cb, source.cr};
    return renderDestination(*previewGeometry_, planes, frame.image);
}

void EncodeDlg::redrawPreview() {
    // While a rip runs the preview belongs to it.
    if (!view_ || running_ || !hasCurrentItem()) return;
    PreviewFrame frame;
    if (previewOf(items_[size_t(current_)]->snapshot, frame)) view_->drawPreview(frame);
}

// Called by the rip with the planes just produced by the frame geometry.
void EncodeDlg::drawRipFrame(const uint8_t* const planes[3], int total) {
    const OutputSettings& out = settings_.output;
    if (!view_ || out.renderInterval == 0) return;
    PreviewState state;
    state.decoderOpen = true;
    state.ripping = true;
    state.ripFrame = total;
    state.render = out.renderInterval;
    if (choosePreviewPicture(state) != PreviewPicture::RipFrame) return;
    PreviewFrame frame;
    PreviewImage& image = frame.image;
    image.width = out.width;
    image.height = out.height;
    image.chromaWidth = geometry_->chromaWidth(out.width);
    image.chromaHeight = geometry_->chromaHeight(out.height);
    const size_t luma = size_t(image.width) * size_t(image.height);
    const size_t chroma = size_t(image.chromaWidth) * size_t(image.chromaHeight);
    image.y.assign(planes[0], planes[0] + luma);
    image.cb.assign(planes[1], planes[1] + chroma);
    image.cr.assign(planes[2], planes[2] + chroma);
    view_->drawPreview(frame);
}

void EncodeDlg::storeOutputInCurrent() {
    if (hasCurrentItem()) items_[size_t(current_)]->setOutputSettings(settings_.output);
}

// The Crop menu's display choices belong to the row as well, and show at once.
void EncodeDlg::cropDisplayChanged() {
    storeOutputInCurrent();
    redrawPreview();
    notify();
}

void EncodeDlg::toggleCorrect43() {
    if (busy()) return;
    settings_.output.correct43 = !settings_.output.correct43;
    cropDisplayChanged();
}

void EncodeDlg::toggleShowResolution() {
    if (busy()) return;
    settings_.output.showResolution = !settings_.output.showResolution;
    cropDisplayChanged();
}

void EncodeDlg::setRenderSource(bool source) {
    if (busy()) return;
    settings_.output.renderSource = source && settings_.output.zoomMode == kZoomCustom;
    cropDisplayChanged();
}

bool EncodeDlg::adjustOutputResolution(int mode) {
    if (busy() || mode < 0 || mode > 2) return false;
    const int sourceWidth = settings_.input.sourceWidth;
    const int sourceHeight = settings_.input.sourceHeight;
    // The proposals are made from the source size: nothing to propose
    // before a title was opened.
    if (sourceWidth <= 0 || sourceHeight <= 0) {
        host_.error("STR_ERROR_23");
        return false;
    }
    const bool applied = zembra::adjustOutputResolution(host_, AdjustMode(mode), settings_.output,
                                                        sourceWidth, sourceHeight);
    if (applied) {
        storeOutputInCurrent();
        redrawPreview();
        notify();
    }
    return applied;
}

void EncodeDlg::setPreviewArea(int width, int height) {
    previewAreaWidth_ = std::max(width, 0);
    previewAreaHeight_ = std::max(height, 0);
}

}  // namespace zembra
