// The rip: StartRip walks the checked rows, RipRun encodes one title in one
// or two passes, with size splitting, the progress monitor and cancel.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "app/encode_dlg.h"
#include "app/frame_feed.h"
#include "app/output_options.h"
#include "geometry/output_geometry.h"
#include "platform/paths.h"
#include "platform/ui_host.h"

namespace zembra {

namespace fs = std::filesystem;

namespace {

std::string hms(int seconds) {
    if (seconds < 0) seconds = 0;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
    return buffer;
}

bool hasExtensionNoCase(const std::string& path, const char* ext) {
    size_t dot = path.rfind('.');
    return dot != std::string::npos && equalsNoCase(path.substr(dot), ext);
}

}  // namespace

RipWriter* EncodeDlg::writer() const { return aviOutput() ? engines_.avi : engines_.mpeg; }

void EncodeDlg::setIdleState() {
    controls.controlsEnabled = true;
    for (ChoiceList* l :
         {&controls.indexList, &controls.audioList, &controls.subtitleList, &controls.angleList,
          &controls.formatList, &controls.zoomList, &controls.splitList})
        l->enabled = true;
    controls.splitSettingEnabled = settings_.output.splitMode == kSplitCustom;
    controls.removeEnabled = !rows_.empty();
    controls.ripEnabled = !rows_.empty();
    controls.ripButtonText = text("STR_MAIN_BUTTON_Rip");
    controls.progress = 100;
    notify();
}

void EncodeDlg::setRippingState() {
    controls.controlsEnabled = false;
    for (ChoiceList* l :
         {&controls.indexList, &controls.audioList, &controls.subtitleList, &controls.angleList,
          &controls.formatList, &controls.zoomList, &controls.splitList})
        l->enabled = false;
    controls.splitSettingEnabled = false;
    controls.removeEnabled = false;
    controls.ripEnabled = true;  // the button stays usable as "Cancel"
    controls.ripButtonText = text("STR_MAIN_BUTTON_CancelRip");
    notify();
}

void EncodeDlg::StartRip() {
    if (running_) {
        // A second press: the cancel request.
        requestCancel();
        return;
    }
    if (!prepareRip()) return;
    runRip();
    if (finishRip()) Shutdown();
}

bool EncodeDlg::prepareRip() {
    if (busy() || applyingItem_) return false;
    // The chosen format is applied again, as if just picked: only here, on
    // a real start, never on a cancel press that finds a rip running.
    applyFormatAgain();

    ripRows_.clear();
    for (size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].checked) ripRows_.push_back(int(i));
    rowsCompleted_ = 0;
    rowsAttempted_ = 0;
    if (ripRows_.empty()) return false;

    std::string folder = withTrailingSlash(controls.outputFolder);
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        host_.messageBox(BoxKind::Error, folder + text("STR_ERROR_106"));
        return false;
    }
    settings_.app.outputPath = folder;
    controls.outputFolder = folder;
    // A stop asked for in an earlier run must not end this one's scan.
    clearCancels();
    shutdownDue_ = false;
    closingLineShown_ = false;
    running_ = true;
    ripping_ = true;
    setRippingState();
    return true;
}

// Bit rates and a size the user changed in the current row's Properties
// after choosing its format are that row's choice, as every other row's
// are: the preset does not take them back.
void EncodeDlg::applyFormatAgain() {
    DVDProjectItem* item = current_ >= 0 ? items_[size_t(current_)].get() : nullptr;
    const DVDProjectItem::OwnChoices own = item ? item->own : DVDProjectItem::OwnChoices{};
    chooseFormat(controls.formatList.selected);
    if (!item) return;
    for (OutputSettings* out : {&item->output, &settings_.output}) {
        out->videoBitRate = own.videoBitRate.value_or(out->videoBitRate);
        out->audioBitRate = own.audioBitRate.value_or(out->audioBitRate);
        out->width = own.width.value_or(out->width);
        out->height = own.height.value_or(out->height);
    }
    item->own = own;
}

void EncodeDlg::runRip() {
    if (!running_) return;
    const OutputSettings chosen = settings_.output;
    for (int row : ripRows_) {
        if (!ripping_) break;
        ++rowsAttempted_;
        DVDProjectItem& it = *items_[size_t(row)];
        const bool isIfo = hasExtensionNoCase(rows_[size_t(row)].sourcePath, ".ifo");
        // The row takes the current output choices but keeps its own size,
        // format and split values.
        OutputSettings merged = chosen;
        merged.width = it.output.width;
        merged.height = it.output.height;
        merged.mpegStream = it.output.mpegStream;
        merged.videoBitRate = it.output.videoBitRate;
        merged.audioBitRate = it.output.audioBitRate;
        merged.zoomMode = it.output.zoomMode;
        merged.vbvBufferSize = it.output.vbvBufferSize;
        merged.muxRate = it.output.muxRate;
        merged.splitSizeMB = it.output.splitSizeMB;
        merged.splitMode = it.output.splitMode;
        merged.formatIndex = it.output.formatIndex;
        it.output = merged;
        if (isIfo && engines_.source && engines_.source->isOpen()) engines_.source->closeDecoder();
        settings_.input = it.input;
        settings_.output = it.output;
        it.copyCatalogueTo(catalogue_);
        current_ = row;

        if (!openTitleForRipSafely(isIfo)) {
            runFailed_ = true;
            continue;
        }
        outputFile_ = settings_.app.outputPath + rows_[size_t(row)].outputName;
        settings_.output.maxFrames = computeMaxFrames(settings_.input);
        if (!ripping_) break;
        outputFile_ += aviOutput() ? ".avi" : ".mpg";
        runFailed_ = false;
        if (decoderOpen_) {
            RipRun();
            if (!runFailed_ && !cancelled()) ++rowsCompleted_;
        }
        it.input = settings_.input;
        it.output = settings_.output;
    }
    // Switched off once, after the last row: shutting down after the first
    // one would leave the others unripped.
    const bool cancelledRun = cancelled() || !ripping_;
    shutdownDue_ = settings_.input.shutDown && !cancelledRun && rowsAttempted_ > 0;
    if (cancelledRun && !closingLineShown_) controls.monitorLine.clear();
    // Still busy: the controls come back with finishRip, once this thread
    // has really let go of the engines.
    ripping_ = false;
    controls.ripEnabled = false;
    notify();
}

bool EncodeDlg::finishRip() {
    if (!running_) return false;
    running_ = false;
    setIdleState();
    redrawPreview();
    return shutdownDue_;
}

void EncodeDlg::raiseCancel() {
    requestCancels();
    ripping_ = false;
}

bool EncodeDlg::requestCancel() {
    if (!running_ || !ripping_) return false;
    if (!host_.ask("STR_ERROR_19")) return false;
    // The run may have ended while the question was open: nothing to stop.
    if (!ripping_) return false;
    raiseCancel();
    return true;
}

void EncodeDlg::cancelNow() {
    if (!running_ || !ripping_) return;
    raiseCancel();
}

// Out of memory while a title is scanned or opened fails that row only; the
// rip runs on the window's worker thread, which must not die of it.
bool EncodeDlg::openTitleForRipSafely(bool isIfo) {
    try {
        return openTitleForRip(isIfo);
    } catch (const std::bad_alloc&) {
        host_.error("STR_ERROR_55");
        decoderOpen_ = false;
        return false;
    }
}

bool EncodeDlg::openTitleForRip(bool isIfo) {
    InputSettings& in = settings_.input;
    if (!isIfo) {
        // A VOB or MPEG file is scanned into a one-title catalogue now.
        if (engines_.source && engines_.source->isOpen()) engines_.source->closeDecoder();
        // The row's own file: the settings copied into its item when it was
        // added may still name the disc that was open then.
        const std::vector<std::string> files{rows_[size_t(current_)].sourcePath};
        controls.monitorLine = text("STR_MAIN_LABEL_MONITOR_ScaningInputStream");
        notify();
        if (!engines_.source) {
            decoderOpen_ = false;
            return false;
        }
        const Status scanned = engines_.source->scanVobFiles(files, in, catalogue_, &cancelReader);
        host_.show(scanned);
        if (!scanned) {
            decoderOpen_ = false;
            return false;
        }
        in.sourcePath.clear();
        in.vobFiles = files;
        in.titleIndex = 0;
        items_[size_t(current_)]->setCatalogue(catalogue_);
        refillSelectionLists();
    }
    // A chapter range reads only its chapters' cells. A range the title does
    // not have (kept from another title, or a VOB row whose files are its
    // chapters) fails the row: ripping the whole title instead would give a
    // file the user did not ask for.
    if (in.chapterFrom > 0 && !keepChaptersOfRow()) {
        decoderOpen_ = false;
        return false;
    }
    resolveStreamIds(in, catalogue_);
    decoderOpen_ = openDecoderOnCurrent();
    if (!isIfo) takeSnapshot(*items_[size_t(current_)]);
    settings_.output.width &= ~15;
    settings_.output.height &= ~15;
    if (settings_.output.width < 16) settings_.output.width = 16;
    if (settings_.output.height < 16) settings_.output.height = 16;
    const TitleRecord* title = catalogue_.title(in.titleIndex);
    in.duration = title ? title->duration : 0.0;
    startPosition_ = title && !title->cells.empty() ? title->cells.front().firstSector : 0;
    in.startSector = uint32_t(startPosition_);
    if (decoderOpen_ && engines_.source) host_.show(engines_.source->reseek(startPosition_));
    return decoderOpen_;
}

bool EncodeDlg::keepChaptersOfRow() {
    const InputSettings& in = settings_.input;
    TitleRecord* title = catalogue_.title(in.titleIndex);
    if (title && keepChapters(*title, in.chapterFrom, in.chapterTo)) return true;
    const int count = title ? title->chapterCount() : 0;
    host_.messageBox(BoxKind::Error,
                     text("STR_ERROR_ChapterRange") + " " + std::to_string(in.chapterFrom) + "-" +
                         std::to_string(in.chapterTo) + " (1-" + std::to_string(count) + ")");
    return false;
}

int EncodeDlg::RipRun() {
    // Called again while a run is active: the cancel request.
    if (!idle_) return requestCancel() ? 0 : 1;
    const InputSettings& in = settings_.input;
    OutputSettings& out = settings_.output;
    std::string name = fs::path(outputFile_).filename().string();
    if (name.compare(0, 4, "none") == 0 && !host_.ask("STR_ERROR_83")) {
        runFailed_ = true;  // nothing written: this row is not done
        return 0;
    }

    const bool mpeg = !aviOutput();
    auto refuse = [&](const char* key) {
        host_.error(key);
        runFailed_ = true;
        return 0;
    };
    if (in.downSampling == 2 && mpeg) return refuse("STR_ERROR_20");
    if (in.downSampling == 2 && !mpeg && out.aviAudio) return refuse("STR_ERROR_21");
    if (in.downSampling == 4 && mpeg) return refuse("STR_ERROR_78");
    if (!decoderOpen_ || !engines_.source) return refuse("STR_ERROR_23");
    if (out.splitMode >= 1 && out.splitMode <= 5 && out.twoPass && !mpeg)
        return refuse("STR_ERROR_82");
    // YU12 has no conversion for the AVI compressors.
    if (!mpeg && out.aviVideo && out.exportYuv == 2) return refuse("STR_ERROR_44");
    RipWriter* w = writer();
    if (!w) return refuse(mpeg ? "STR_ERROR_1002" : "STR_ERROR_34");

    idle_ = false;
    // Within a rip the flags were cleared by prepareRip and are raised only
    // by a stop, which must hold: clearing them here could lose a press
    // made while this title was being opened.
    if (!running_) clearCancels();
    std::error_code ec;
    fs::path folder = fs::path(outputFile_).parent_path();
    if (!folder.empty()) fs::create_directories(folder, ec);

    const int passCount = (!mpeg && out.aviVideo && out.twoPass) ? 2 : 1;
    startTick_ = engines_.tick();
    updateInterval_ = 5;
    int total = 0;
    writerOk_ = false;
    try {
        // Only pictures the geometry made are written: grey pictures in
        // their place would pass for a rip.
        const bool drawsPictures = mpeg || out.aviVideo;
        if (!drawsPictures || prepareGeometry()) {
            for (int p = 0; p < 3; ++p) planes_[p].assign(outputPlaneSize(p, drawsPictures), 0);
            planesHoldPicture_ = true;
            runPasses(*w, passCount, drawsPictures, total);
        } else {
            runFailed_ = true;
        }
    } catch (const std::bad_alloc&) {
        // Out of memory ends this row, not the program or the window's worker.
        host_.error("STR_ERROR_55");
        runFailed_ = true;
        closeAfterFailure(*w);
    }

    w->endRun();
    // A title shorter than one output frame (a navigation dummy of one
    // picture, ripped at a lower rate) gives a file without a picture:
    // written, but not a rip.
    if (total == 0 && !runFailed_ && !cancelled()) {
        host_.error("STR_ERROR_NoOutputFrame");
        runFailed_ = true;
    }
    reportSkippedSectors();
    reportUndecodedSound(mpeg || out.aviAudio);
    engines_.source->setPrefill(0);
    for (auto& p : planes_) std::vector<uint8_t>().swap(p);
    lastPicture_ = FrameRecord{};

    const int perPass = total / passCount;
    const int shown = perPass ? perPass - 1 : 0;
    char line[256];
    std::snprintf(line, sizeof line, "%s %d %s", text("STR_MAIN_LABEL_MONITOR_None").c_str(), shown,
                  text("STR_MAIN_LABEL_MONITOR_Frames").c_str());
    uint32_t elapsedMs = engines_.tick() - startTick_;
    controls.monitorLine = std::string(line) + text("STR_MAIN_LABEL_MONITOR_TotalEncodingTime") +
                           hms(int(elapsedMs / 1000));
    if (out.maxFrames != 0) controls.progress = int(int64_t(perPass) * 100 / out.maxFrames);
    host_.setStatus(controls.monitorLine);
    if (out.maxFrames != 0) host_.setProgress(controls.progress, 100);
    closingLineShown_ = true;

    writerOk_ = false;
    idle_ = true;
    notify();
    return 0;
}

bool EncodeDlg::prepareGeometry() {
    GeometryParams gp = geometryParams(settings_.input, settings_.output);
    gp.sourceWidth = facts_.width;
    gp.sourceHeight = facts_.height;
    gp.chromaFormat = facts_.chromaFormat;
    const Status prepared = geometry_->prepare(gp);
    host_.show(prepared);
    return prepared.ok();
}

// Frames made ahead on a producer thread when Threads allows more than one.
// Not when an overlapping split may seek the source back at the frame where
// a piece fills: that seek must find the source just past that frame.
int EncodeDlg::feedDepth() const {
    const OutputSettings& out = settings_.output;
    const bool seeksBack = out.splitMode != 0 && settings_.input.splitOverlap != 0;
    if (threadCount(settings_.app) <= 1 || seeksBack || !engines_.source->relay()) return 0;
    return FrameFeed::kFramesAhead;
}

// The output picture of a frame, through the geometry; a frame without one
// leaves the last picture in place.
bool EncodeDlg::drawPicture(const FrameRecord& frame, uint8_t* const planes[3]) const {
    if (frame.empty()) return false;
    const uint8_t* src[3] = {frame.y, frame.cb, frame.cr};
    geometry_->apply(src, planes);
    return true;
}

// Bytes of output plane p; the chroma planes as the geometry draws them
// when there are pictures.
size_t EncodeDlg::outputPlaneSize(int plane, bool drawsPictures) const {
    const OutputSettings& out = settings_.output;
    if (plane == 0 || !drawsPictures) return size_t(out.width) * size_t(out.height);
    return size_t(geometry_->chromaWidth(out.width)) * size_t(geometry_->chromaHeight(out.height));
}

// Whether the frame's output picture is its source picture, the frame
// queue's planes at the output size, which the geometry would only copy.
bool EncodeDlg::passesThrough(const FrameRecord& frame) const {
    const OutputSettings& out = settings_.output;
    return frame.planes && geometry_->passesThrough() &&
           frame.planes->layout == PlaneLayout::make(out.width, out.height, facts_.chromaFormat);
}

// A producer that runs ahead draws the pictures too, so the geometry's work
// runs beside the encoder's; a geometry that would only copy them has
// nothing to draw.
PictureStage EncodeDlg::pictureStage(bool drawsPictures) const {
    PictureStage stage;
    if (!drawsPictures || geometry_->passesThrough() || engines_.source->getRunMode() == 3)
        return stage;
    stage.make = [this](const FrameRecord& frame, uint8_t* const planes[3]) {
        return drawPicture(frame, planes);
    };
    for (int p = 0; p < 3; ++p) stage.planeSize[p] = outputPlaneSize(p, true);
    return stage;
}

void EncodeDlg::runPasses(RipWriter& w, int passCount, bool drawsPictures, int& total) {
    bool passOpenFailed = false;
    for (int pass = 0; pass < passCount && !passOpenFailed; ++pass) {
        int passFrames = 0;
        skippedReached_ = SIZE_MAX;
        if (!openPass(pass, passCount)) {
            passOpenFailed = true;
            runFailed_ = true;
        }
        if (decoderOpen_ && writerOk_) {
            // A writer stops at the title's frame count: the frame after it
            // is the last the loop takes, so the source goes no further.
            const int maxFrames = settings_.output.maxFrames;
            const int64_t cap = maxFrames > 0 ? int64_t(maxFrames) + 1 : FrameFeed::kUnlimited;
            FrameFeed feed(*engines_.source, engines_.source->relay(), feedDepth(), cap,
                           pictureStage(drawsPictures));
            feed_ = &feed;
            try {
                runPass(w, feed, pass, passCount, drawsPictures, total, passFrames);
            } catch (...) {
                feed_ = nullptr;
                throw;
            }
            feed_ = nullptr;
            feed.stop();
            if (feed.runsAhead()) skippedReached_ = feed.skippedSectorsTaken();
        }
        if (cancelled()) runFailed_ = true;
        if (writerOk_ && !w.close()) runFailed_ = true;
        // A row that failed already said why (and its writer may have
        // removed a stub it made).
        if (pass == passCount - 1 && passFrames > 0 && !runFailed_) checkOutputKept();
    }
}

void EncodeDlg::runPass(RipWriter& w, FrameFeed& feed, int pass, int passCount, bool drawsPictures,
                        int& total, int& passFrames) {
    const OutputSettings& out = settings_.output;
    const bool audioOnly = engines_.source->getRunMode() == 3;
    while (decoderOpen_ && writerOk_) {
        FrameRecord frame;
        int width = 0, height = 0, pcmValues = 0;
        const int16_t* pcm = nullptr;
        decoderOpen_ = feed.next(frame, width, height, pcm, pcmValues) != 0;
        if (!decoderOpen_) {
            if (!cancelled()) noteSourceEnd();
            break;
        }
        const bool pictures = drawsPictures && !audioOnly;
        const bool drawn = pictures && !frame.empty();
        if (pictures && passesThrough(drawn ? frame : lastPicture_)) {
            // The source picture is the output picture: written as it lies.
            if (drawn) lastPicture_ = frame;
            const FramePlanes source(lastPicture_);
            if (drawn) drawRipFrame(source.plane, total);
            writerOk_ = w.writeFrame(source, pcm, pcmValues);
            planesHoldPicture_ = false;
        } else {
            if (drawn) {
                takeOrDrawPicture(feed, frame);
                lastPicture_ = frame;
            } else if (pictures && !planesHoldPicture_) {
                // The planes do not hold the picture this frame repeats:
                // the writer took them, or it was written as it lay.
                takeOrDrawPicture(feed, lastPicture_);
            }
            const uint8_t* const cdst[3] = {planes_[0].data(), planes_[1].data(),
                                            planes_[2].data()};
            // Shown before the writer may take the planes away.
            if (drawn) drawRipFrame(cdst, total);
            writerOk_ = w.writeFrame(FramePlanes(cdst, planes_), pcm, pcmValues);
            planesHoldPicture_ = planes_[0].data() == cdst[0];
        }
        if (!writerOk_ && !w.frameLimitReached()) runFailed_ = true;
        if (out.splitMode != 0 && writerOk_) SplitCheck(splitLimitMB(out));
        ProgressMonitor(total, passFrames, pass, passCount);
        if (total % updateInterval_ == 0) host_.pumpMessages();
        ++total;
        ++passFrames;
    }
}

// The output picture of `frame` into the planes: the one the producer made,
// or drawn here. Before the first picture the planes are black, as they
// start.
void EncodeDlg::takeOrDrawPicture(FrameFeed& feed, const FrameRecord& frame) {
    planesHoldPicture_ = true;
    if (feed.takePicture(planes_)) return;
    uint8_t* const dst[3] = {planes_[0].data(), planes_[1].data(), planes_[2].data()};
    if (!drawPicture(frame, dst))
        for (auto& p : planes_) std::fill(p.begin(), p.end(), uint8_t(0));
}

// Linux goes on taking writes to a file that was removed, or whose folder
// was, until it is closed: only its absence afterwards tells that the rip
// kept nothing.
void EncodeDlg::checkOutputKept() {
    std::error_code ec;
    if (fs::exists(outputFile_, ec)) return;
    host_.messageBox(BoxKind::Error, outputFile_ + " " + text("STR_ERROR_OutputRemoved"));
    runFailed_ = true;
}

// The piece being written when memory ran out is finished if it can be, so
// what it holds stays readable.
void EncodeDlg::closeAfterFailure(RipWriter& w) {
    if (!writerOk_) return;
    writerOk_ = false;
    try {
        (void)w.close();
    } catch (const std::bad_alloc&) {
    }
}

bool EncodeDlg::restartAt(int64_t sector) {
    const Status restarted = engines_.source->reseek(sector);
    host_.show(restarted);
    return restarted.ok();
}

bool EncodeDlg::openPass(int passIndex, int passCount) {
    if (cancelled()) return false;
    RipSource& src = *engines_.source;
    if (!src.isOpen()) {
        const Status reopened = src.reopenDecoder();
        host_.show(reopened);
        if (!reopened) return false;
    }
    const OutputSettings& out = settings_.output;
    WriterOpen params;
    params.fileName = outputFile_;
    params.app = &settings_.app;
    params.input = &settings_.input;
    params.output = &out;
    params.chromaFormat = facts_.chromaFormat;
    params.passIndex = passIndex;
    params.passCount = passCount;
    bool decoderOk = true;
    if (aviOutput()) {
        params.audioMode = (passCount == 1 || passIndex == 1) ? out.aviAudio : 0;
        const bool audio = params.audioMode != 0;
        int mode = 0;
        if (!out.aviVideo && audio)
            mode = 3;
        else if (out.aviVideo && !audio)
            mode = 2;
        else if (out.aviVideo && audio)
            mode = 1;
        // Decoding starts before the writer opens: the sound's rate is known
        // only from the stream (a 44.1 kHz stream is not resampled to 48).
        if (mode) {
            src.setRunMode(mode);
            decoderOk = restartAt(startPosition_);
        }
        params.audioRate = src.audioSampleRate();
        writerOk_ = engines_.avi->open(params);
    } else {
        writerOk_ = engines_.mpeg->open(params);
        src.setRunMode(1);
        decoderOk = restartAt(startPosition_);
    }
    src.setPrefill(1);
    pieceStart_ = startPosition_;
    decoderOpen_ = decoderOk;
    return writerOk_ && decoderOk;
}

// A title whose source gave out before its end is not ripped, though the
// file keeps what was read: a read error was already shown by the decoder,
// files cut short are said here.
// Sectors skipped over read errors leave gaps in the output, which is
// still written: said with how many and where, without failing the row.
void EncodeDlg::reportSkippedSectors() {
    std::vector<SkippedSectors> skipped = engines_.source->skippedSectors();
    if (skipped.size() > skippedReached_) skipped.resize(skippedReached_);
    if (skipped.empty()) return;
    host_.messageBox(BoxKind::Warning,
                     skippedSectorsText(skipped, text("STR_ERROR_SectorsSkipped")));
}

// A DTS track is listed but has no decoder: the row's sound is silence,
// which the user should not find out by listening.
void EncodeDlg::reportUndecodedSound(bool soundWritten) {
    if (soundWritten && settings_.input.audioFormat == kAudioCodingDts)
        host_.messageBox(BoxKind::Warning, text("STR_ERROR_SoundNotDecoded"));
}

std::string EncodeDlg::skippedSectorsText(const std::vector<SkippedSectors>& skipped,
                                          const std::string& caption) {
    if (skipped.empty()) return {};
    uint64_t sectors = 0;
    std::string times;
    for (const SkippedSectors& s : skipped) {
        sectors += s.count;
        times += (times.empty() ? "" : ", ") + hms(int(s.seconds));
    }
    return caption + " " + std::to_string(sectors) + " (" + times + ")";
}

void EncodeDlg::noteSourceEnd() {
    const RipSource::End end = engines_.source->howEnded();
    if (end == RipSource::End::Title) return;
    runFailed_ = true;
    if (end == RipSource::End::FilesShort) host_.warning("STR_ERROR_SourceEndedEarly");
}

void EncodeDlg::SplitCheck(int limitMB) {
    RipWriter* w = writer();
    double size = w->sizeMB();
    if (limitMB - 0.1 < size) {
        writerOk_ = w->nextPiece();
        // The next piece could not be made: the title is not all written.
        if (!writerOk_) runFailed_ = true;
    }
    const InputSettings& in = settings_.input;
    if (in.splitOverlap == 0 || !writerOk_ || limitMB - 0.1 >= size) return;
    RipSource& src = *engines_.source;
    int64_t sector = src.getCurrentSector();
    if (sector == -1) return;
    int64_t position = sector - startPosition_;
    int t = src.currentTimeSeconds();
    if (t <= 0) return;
    int64_t back = int64_t(double(position) / t * (in.splitOverlap + 2));
    // A piece shorter than the overlap would start each next piece at or
    // before its own start: the rip would write pieces without end.
    if (position - back > 0 && startPosition_ + position - back > pieceStart_) {
        if (restartAt(startPosition_ + position - back)) {
            pieceStart_ = startPosition_ + position - back;
            src.setPrefill(1);
            // The frames the new piece repeats must not count toward the
            // frame limit, or the title's last seconds would be cut off.
            double fps = FrameRateTable::fps(in.frameRate);
            w->extendFrameLimit(int(std::ceil((in.splitOverlap + 3) * fps)));
        }
    }
}

void EncodeDlg::ProgressMonitor(int total, int, int, int passCount) {
    if (!writerOk_ || !decoderOpen_) return;
    if (total % updateInterval_ != 0) return;
    const OutputSettings& out = settings_.output;
    uint32_t elapsed = engines_.tick() - startTick_;
    double fps = elapsed ? total * 1000.0 / elapsed : 0.0;
    if (total != 0) updateInterval_ = std::max(5, int(2 * fps));
    int remaining = fps > 0 ? int((double(passCount) * out.maxFrames - total) / fps) : 0;
    int size = int(writer()->sizeMB());
    char part[128];
    std::string line = text("STR_MAIN_LABEL_MONITOR_UsedSize");
    std::snprintf(part, sizeof part, " : %d %s,  ", size,
                  text("STR_MAIN_LABEL_MONITOR_MB").c_str());
    line += part;
    line += text("STR_MAIN_LABEL_MONITOR_RemainTime");
    std::snprintf(part, sizeof part, " : %s,  ", hms(remaining).c_str());
    line += part;
    line += text("STR_MAIN_LABEL_MONITOR_Time");
    std::snprintf(part, sizeof part, " : %s ", hms(int(elapsed / 1000)).c_str());
    line += part;
    controls.monitorLine = line;
    // Buffering shows its own line for a while, then puts this one back.
    if (feed_)
        feed_->setIdleStatus(controls.monitorLine);
    else
        engines_.source->setIdleStatus(controls.monitorLine);
    if (out.maxFrames != 0)
        controls.progress = int(int64_t(total) * 100 / (int64_t(passCount) * out.maxFrames));
    host_.setStatus(controls.monitorLine);
    host_.setProgress(controls.progress, 100);
    notify();
}

void EncodeDlg::Shutdown() {
    if (!engines_.shutdown()) host_.error("STR_ERROR_77");
}

}  // namespace zembra
