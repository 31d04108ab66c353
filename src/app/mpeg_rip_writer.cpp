#include "app/mpeg_rip_writer.h"

#include "app/settings_store.h"
#include "encoder/mpeg_writer.h"
#include "platform/ui_host.h"

namespace zembra {

MpegRipWriter::MpegRipWriter(UiHost& host) : host_(host) {}
MpegRipWriter::~MpegRipWriter() = default;

MpegOpenArgs MpegRipWriter::openArgs(const WriterOpen& p) {
    const OutputSettings& out = *p.output;
    MpegOpenArgs a;
    a.outputPath = p.fileName;
    a.mpegStream = out.mpegStream;
    a.frameCount = out.maxFrames;
    a.width = out.width;
    a.height = out.height;
    a.motionSearch = out.motionSearch;
    a.adaptiveQuant = out.adaptiveQuant;
    a.cpu = out.cpu;
    a.dct = out.dct;
    a.vbv = out.vbvBufferSize;
    a.chromaCode = p.chromaFormat;
    a.videoKbps = out.videoBitRate;
    a.maxVideoKbps = out.maxVideoBitRate;
    a.audioBitRate = out.audioBitRate;
    a.frameRate = FrameRateTable::fps(p.input->frameRate);
    a.paddMin = out.paddingMin;
    a.paddMax = out.paddingMax;
    a.muxRateFactor = 1.0 + out.muxRate / 100.0;
    a.overwrite = out.overwrite;
    a.pulldown = out.pulldown;
    a.quantMat = out.quantMatrix;
    a.threads = p.app ? threadCount(*p.app) : 1;
    return a;
}

bool MpegRipWriter::open(const WriterOpen& params) {
    // A fresh writer per pass, so it reads the cancel flag in force now.
    writer_ = std::make_unique<MpegWriter>(host_, cancel_);
    const Status opened = writer_->openMpeg(openArgs(params));
    host_.show(opened);
    return opened.ok();
}

bool MpegRipWriter::writeFrame(const FramePlanes& planes, const int16_t* pcm, int pcmValues) {
    return writer_ && writer_
                          ->writeMpegFrame(planes.plane[0], planes.plane[1], planes.plane[2], pcm,
                                           pcmValues, planes.buffers, planes.holder)
                          .ok();
}

double MpegRipWriter::sizeMB() { return writer_ ? writer_->getMpegSizeMB() : 0.0; }

bool MpegRipWriter::nextPiece() {
    if (!writer_) return false;
    const Status next = writer_->nextMpegPiece();
    host_.show(next);
    return next.ok();
}

void MpegRipWriter::extendFrameLimit(int frames) {
    if (writer_) writer_->extendFrameCount(frames);
}

bool MpegRipWriter::frameLimitReached() const { return writer_ && writer_->frameCountReached(); }

bool MpegRipWriter::close() { return !writer_ || writer_->closeMpeg().ok(); }

}  // namespace zembra
