#include "app/engines/avi_rip_writer.h"

#include <climits>

#include "avi/avi_writer.h"
#include "decoder/colour_convert.h"
#include "decoder/idct.h"
#include "platform/ui_host.h"

namespace zembra {

AviRipWriter::AviRipWriter(UiHost& host)
    : host_(host), writer_(std::make_unique<avi::AviWriter>(host)) {}

AviRipWriter::~AviRipWriter() { (void)writer_->closeAvi(); }

void AviRipWriter::setCancel(const CancelToken* flag) { writer_->setCancelFlag(flag); }

bool AviRipWriter::open(const WriterOpen& p) {
    params_ = p;
    const ApplicationSettings& app = *p.app;
    const InputSettings& in = *p.input;
    const OutputSettings& out = *p.output;
    frameLimit_ = out.maxFrames;
    limitReached_ = false;
    // MP3, WAV and the converters take the rate of the PCM as it comes; the
    // DownSampling rate stands in while that is not known yet.
    const int modeRate = in.downSampling == 4 ? 48000 : 44100;
    writer_->setAudioOutputRate(p.audioRate > 0 ? p.audioRate : modeRate);
    if (p.audioMode == avi::kAudioMp3)
        writer_->chooseAudioCodec(avi::kAudioMp3, app.mp3BitRate, app.mp3ChannelMode,
                                  app.mp3Quality, app.mp3Lowpass, app.mp3Highpass);
    if (p.passCount > 1 && p.passIndex == 0) {
        if (!stats_.create()) {
            host_.error("STR_ERROR_54");
            return false;
        }
    }
    writer_->setStatsFile(p.passCount > 1 ? stats_.path() : std::string());
    // Xvid's own threads only split its motion search; beside a single-
    // threaded rip loop they cost more than they give (a 30 s title at
    // 352x288 and at 720x576 ripped 5 to 7 % slower with two than with one
    // on a two-core machine). So they are used only when asked for by
    // number, not by the one-per-core default.
    writer_->setCompressorThreads(app.threads > 1 ? app.threads : 1);
    writer_->setSoundThread(threadCount(app) > 1);
    const std::vector<uint8_t>& state = p.passIndex == 0 ? out.pass1State : out.pass2State;
    // The frame limit is kept here so that an overlapping split can extend
    // it after the writer was opened.
    const Status opened = writer_->openAvi(
        p.fileName, INT_MAX, out.width, out.height, FrameRateTable::fps(in.frameRate),
        out.overwrite, p.audioMode, out.aviVideo, out.exportYuv, p.passIndex,
        uint32_t(out.compressorType), uint32_t(out.compressorHandler), state);
    host_.show(opened);
    open_ = opened.ok();
    return open_;
}

bool AviRipWriter::writeFrame(const FramePlanes& frame, const int16_t* pcm, int pcmValues) {
    const uint8_t* const* planes = frame.plane;
    if (!open_) return false;
    // A limit of 0 means the title's length is unknown: no limit then.
    if (frameLimit_ > 0 && writer_->framesWritten() >= frameLimit_) {
        // The title's end, a normal stop, provided the file could be
        // completed.
        limitReached_ = close();
        return false;
    }
    const OutputSettings& out = *params_.output;
    const uint8_t* bits = nullptr;
    if (out.aviVideo) {
        static const ExportFormat kFormats[4] = {ExportFormat::Rgb32, ExportFormat::Rgb24,
                                                 ExportFormat::Yv12, ExportFormat::Yuy2};
        const ExportFormat format = kFormats[out.exportYuv & 3];
        IdctVariant variant = IdctVariant::Ap922;
        (void)idctVariantFromSetting(params_.input->idct, variant);
        const Status converted =
            convertForExport(format, planes[0], planes[1], planes[2], out.width, out.height,
                             int(variant), params_.chromaFormat, picture_);
        if (!converted) {
            host_.show(converted);
            (void)close();
            return false;
        }
        bits = picture_.data();
    }
    const Status written = writer_->writeAviFrame(bits, pcm, pcmValues);
    host_.show(written);
    open_ = written.ok();
    return open_;
}

double AviRipWriter::sizeMB() { return writer_->getAviSizeMB(); }

bool AviRipWriter::nextPiece() {
    const Status next = writer_->nextAviPiece();
    host_.show(next);
    open_ = next.ok();
    return open_;
}

bool AviRipWriter::close() {
    bool ok = true;
    if (open_ || writer_->isOpen()) ok = writer_->closeAvi().ok();
    open_ = false;
    return ok;
}

void AviRipWriter::endRun() { stats_.remove(); }

void AviRipWriter::extendFrameLimit(int frames) {
    if (frameLimit_ > 0) frameLimit_ += frames;
}

}  // namespace zembra
