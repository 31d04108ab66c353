#include "encoder/mpeg_writer.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "encoder/layer2/layer2_encoder.h"
#include "encoder/mux/multiplexer.h"
#include "encoder/mux/video_stream_file.h"
#include "encoder/video_encoder.h"
#include "platform/job_reporter.h"

namespace zembra {

MpegWriter::MpegWriter(JobReporter& reporter, const CancelToken* cancel)
    : reporter_(reporter),
      cancel_(cancel),
      video_(std::make_unique<VideoEncoder>(reporter)),
      audio_(std::make_unique<Layer2Encoder>(reporter)),
      mux_(std::make_unique<Multiplexer>(reporter)),
      videoFile_(std::make_unique<VideoStreamFile>()),
      pcm_(std::make_unique<PcmStore>()) {}

MpegWriter::~MpegWriter() {
    if (open_) (void)closeMpeg();
}

std::string MpegWriter::pieceName(const std::string& base, int n, const char* extension) {
    std::string stem = base;
    // Only a dot in the file's own name starts an extension, not one in a
    // folder's ("/a.b/film" is the film of the folder a.b).
    const std::size_t dot = stem.rfind('.');
    const std::size_t separator = stem.find_last_of("/\\");
    if (dot != std::string::npos && (separator == std::string::npos || dot > separator))
        stem.resize(dot);
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "_%02d.%s", n, extension);
    return stem + suffix;
}

int MpegWriter::picturesCoded() const { return video_->picturesCoded(); }

static bool fileExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

Status MpegWriter::openMpeg(const MpegOpenArgs& a) {
    if (open_) (void)closeMpeg();
    EncoderParams p;
    if (!a.overwrite && fileExists(a.outputPath) &&
        !reporter_.confirm(Status::question("STR_ERROR_406").leadBy(a.outputPath + " ")))
        return Status::failed();
    p.outputPath = a.outputPath;
    p.basePath = a.outputPath;
    p.overwrite = a.overwrite;
    p.frameCount = a.frameCount;
    p.width = a.width;
    p.height = a.height;
    p.chromaCode = a.chromaCode;
    p.motionSearch = std::clamp(a.motionSearch, 0, kMotionSearchLevels - 1);
    p.adaptiveQuant = std::clamp(a.adaptiveQuant, 0, kAdaptiveQuantLevels - 1) /
                      static_cast<double>(kAdaptiveQuantLevels - 1);
    p.paddMin = a.paddMin;
    p.paddMax = a.paddMax;
    p.muxRateFactor = a.muxRateFactor;
    if (a.chromaCode != 1 && a.chromaCode != 3) return Status::error("STR_ERROR_348");
    if (a.width <= 0 || a.height <= 0 || a.width % 16 || a.height % 16)
        return Status::error("STR_ERROR_349");
    // A larger side would not fit its field in the sequence header: the
    // stream would state another size than it holds.
    const int maxSide = a.mpegStream == 1 ? kMaxMpeg2Side : kMaxMpeg1Side;
    if (a.width > maxSide || a.height > maxSide) return Status::error("STR_ERROR_OutputTooLarge");
    // MPEG-2 states a side as 12 low bits and 2 high ones; a multiple of 4096
    // would leave the low field 0, which the standard forbids and decoders
    // read as a picture of no size.
    if (a.mpegStream == 1 && (a.width % 4096 == 0 || a.height % 4096 == 0))
        return Status::error("STR_ERROR_OutputSide4096");
    const CpuLevel level = cpuLevel();
    p.cpuChoice = a.cpu;
    switch (a.cpu) {
        case 0:
            kernels_ = makeKernels(level);
            break;
        case 1:  // no x86-64 processor reports 3DNow
            return Status::error("STR_ERROR_350");
        case 2:
            return Status::error("STR_ERROR_351");
        default:
            kernels_ = plainKernels();
            break;
    }
    p.simd = a.cpu >= 0 && a.cpu <= 2;
    p.bitRate = a.videoKbps * 1000.0;
    p.maxBitRate = a.maxVideoKbps * 1000.0;
    p.audioBitrateIndex = layer2IndexOfListEntry(a.audioBitRate);
    p.dctChoice = a.dct;
    p.threads = a.threads < 1 ? 1 : a.threads;
    p.quantMat = a.quantMat;
    if (!matchFrameRate(a.frameRate, p.rate)) return Status::error("STR_ERROR_352");
    p.frameRate = a.frameRate;
    p.pieceNumber = 1;
    pcm_->clear();
    fedTotal_ = fedPiece_ = 0;
    countReached_ = false;
    p.pulldown = a.pulldown;
    if (p.pulldown && p.rate.frameRateCode != 1) {
        reporter_.notice(Status::error("STR_ERROR_353"));
        p.pulldown = false;
    }
    p.streamKind = a.mpegStream == 1 ? 3 : 1;
    p.vbvSize = a.vbv;
    if (p.streamKind == 1 && a.vbv != 20 && !reporter_.confirm(Status::question("STR_ERROR_102")))
        return Status::failed();
    applyStreamTables(p);
    params_ = p;
    videoOnly_ = a.videoOnly;
    if (Status started = startEngines(); !started) return started;
    open_ = true;
    return {};
}

Layer2Settings layer2SettingsOf(const EncoderParams& p) {
    Layer2Settings ls;
    ls.bitrateIndex = p.audioBitrateIndex;
    ls.frameRate = p.rate.rate;
    // The sound's time stamps take the form the video's have: with the
    // 27 MHz remainder in the SVCD layout.
    ls.layout = p.svcdLayout ? MuxLayout::Svcd : MuxLayout::Vcd;
    // With threads to spare the sound is coded beside the pictures.
    ls.ownThread = p.threads > 1;
    return ls;
}

Status MpegWriter::startEngines() {
    const EncoderParams& p = params_;
    videoFailed_ = false;
    if (videoOnly_) {
        videoFile_->reset(p.outputPath);
        VideoStreamFile* file = videoFile_.get();
        return video_->videoStart(p, kernels_, file->videoStore(),
                                  [file](const VideoUnit& u) { return file->pushVideoUnit(u); });
    }
    MuxSettings ms;
    ms.layout = p.svcdLayout ? MuxLayout::Svcd : MuxLayout::Vcd;
    ms.outputPath = p.outputPath;
    ms.videoBitRate = p.bitRate;
    ms.audioBitrateIndex = p.audioBitrateIndex;
    ms.muxRateFactor = p.muxRateFactor;
    ms.frameRate = p.rate.rate;
    ms.pulldown = p.pulldown;
    mux_->reset(ms);
    Multiplexer* mux = mux_.get();
    if (Status started =
            video_->videoStart(p, kernels_, mux->videoStore(),
                               [mux](const VideoUnit& u) { return mux->pushVideoUnit(u); });
        !started)
        return started;
    if (Status started =
            audio_->audioStart(layer2SettingsOf(p), mux->audioStore(),
                               [mux](const AudioUnit& u) { return mux->pushAudioUnit(u); });
        !started) {
        // Its message first: ending the video encoder may have its own.
        reporter_.notice(started);
        video_->videoEnd();
        return Status::failed();
    }
    return {};
}

bool MpegWriter::finishEngines() {
    bool ok = true;
    // Pictures still waiting for their B-picture partners are coded too,
    // so every picture fed ends up in the piece.
    if (video_->running() && !videoFailed_ && !told(video_->videoCodeRest())) ok = false;
    // Frames handed to the sound's coder come first, then the rest.
    bool audioOk = !audio_->running() || told(audio_->audioCollect());
    while (audioOk && audio_->running() && pcm_->size() > 2304)
        audioOk = told(audio_->audioEncodeFrame(*pcm_));
    if (!audioOk) ok = false;
    // The rest, less than a frame, becomes a last frame padded with silence,
    // so the piece's sound lasts as long as its pictures.
    if (ok && audio_->running() && pcm_->size() > 0 && !told(audio_->audioEncodeFrame(*pcm_, true)))
        ok = false;
    audio_->audioEnd();
    video_->videoEnd();
    if (storeOverflowed()) ok = false;
    // A piece that was never fed (a split right at the end of the title)
    // has no units to start a file with: it leaves no file and no message.
    if (fedPiece_ == 0 && !outputStarted()) {
        mux_->reset(MuxSettings{});
        videoFile_->reset({});
    } else if (!told(drainOutput())) {
        ok = false;
    }
    pcm_->clear();
    return ok;
}

bool MpegWriter::outputFailed() const { return videoOnly_ ? videoFile_->failed() : mux_->failed(); }

bool MpegWriter::storeOverflowed() {
    if (videoOnly_) return videoFile_->videoStore().overflowed();
    return mux_->videoStore().overflowed() || mux_->audioStore().overflowed();
}

bool MpegWriter::outputStarted() const {
    return videoOnly_ ? videoFile_->started() : mux_->started();
}

Status MpegWriter::pumpOutput() { return videoOnly_ ? videoFile_->pump() : mux_->muxPump(); }

Status MpegWriter::drainOutput() { return videoOnly_ ? videoFile_->drain() : mux_->muxDrain(); }

bool MpegWriter::told(const Status& status) {
    reporter_.notice(status);
    return status.ok();
}

Status MpegWriter::fail() {
    finishEngines();
    open_ = false;
    return Status::failed();
}

Status MpegWriter::writeMpegFrame(const std::uint8_t* y, const std::uint8_t* cb,
                                  const std::uint8_t* cr, const std::int16_t* pcm, int sampleCount,
                                  std::vector<std::uint8_t>* buffers,
                                  std::shared_ptr<const void> holder) {
    if (!open_) return Status::failed();
    // A write that failed (full disk, file-size limit) ends the piece even
    // when the encoders could go on.
    if (outputFailed()) return fail();
    // A count of 0 means the title's length is unknown: no limit then, as
    // for AVI output (otherwise not one picture would be taken).
    if (params_.frameCount > 0 && fedTotal_ >= params_.frameCount) {
        // The title's end, a normal stop, provided the piece could be
        // completed (its last sectors are written now).
        countReached_ = closeMpeg().ok();
        return Status::failed();
    }
    if (videoOnly_) sampleCount = 0;
    if (sampleCount > 0 && !pcm_->append(pcm, static_cast<std::size_t>(sampleCount))) {
        reporter_.notice(Status::error("STR_ERROR_354"));
        return fail();
    }
    if (!told(video_->videoPut(y, cb, cr, buffers, std::move(holder)))) {
        videoFailed_ = true;
        return fail();
    }
    ++fedTotal_;
    ++fedPiece_;
    // The sound's frames go to its coder before the pictures are coded, so
    // that on a thread of its own it codes them meanwhile; they reach the
    // multiplexer after the pictures, as they always have.
    while (pcm_->size() > 2304) {
        if (!told(audio_->audioSubmitFrame(*pcm_))) return fail();
    }
    if (fedPiece_ == 1) {
        if (!told(video_->videoCodeNext())) videoFailed_ = true;
    } else if ((fedPiece_ - 1) % kAnchorDistance == 0) {
        for (int m = 0; m < kAnchorDistance && !videoFailed_; ++m) {
            if (m > 0) reporter_.pumpMessages();
            if (!told(video_->videoCodeNext())) videoFailed_ = true;
        }
    }
    if (videoFailed_ || (cancel_ && cancel_->requested())) return fail();
    // A sound coder that stopped with a piece still open is a failure; a
    // video stream alone has none.
    if (!videoOnly_ && !told(audio_->audioCollect())) return fail();
    if (!told(pumpOutput())) return fail();
    if (storeOverflowed()) return fail();
    return {};
}

double MpegWriter::getMpegSizeMB() const {
    const std::uint64_t bytes = videoOnly_ ? videoFile_->bytesWritten() : mux_->bytesWritten();
    return static_cast<double>(bytes) / 1048576.0;
}

Status MpegWriter::nextMpegPiece() {
    if (!open_) return Status::failed();
    if (!finishEngines()) {
        open_ = false;
        return Status::failed();
    }
    ++params_.pieceNumber;
    const char* extension = !videoOnly_ ? "mpg" : params_.streamKind == 1 ? "m1v" : "m2v";
    params_.outputPath = pieceName(params_.basePath, params_.pieceNumber, extension);
    if (!params_.overwrite && fileExists(params_.outputPath) &&
        !reporter_.confirm(Status::question("STR_ERROR_406").leadBy(params_.outputPath))) {
        open_ = false;
        return Status::failed();
    }
    pcm_->clear();
    fedPiece_ = 0;
    Status started = startEngines();
    if (!started) open_ = false;
    return started;
}

Status MpegWriter::closeMpeg() {
    if (!open_) return {};
    const bool ok = finishEngines();
    open_ = false;
    return ok ? Status{} : Status::failed();
}

}  // namespace zembra
