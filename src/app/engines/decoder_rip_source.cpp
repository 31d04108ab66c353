#include "app/engines/decoder_rip_source.h"

#include "app/frame_feed.h"
#include "audio/audio_decoder.h"
#include "decoder/frame_queue.h"
#include "decoder/frame_source.h"
#include "decoder/mpeg2_decoder.h"
#include "dvd/source_reader.h"
#include "dvd/title_catalogue.h"
#include "platform/ui_host.h"

namespace zembra {

// The title reader as the decoder's input, also stopping when the rip's
// reader cancel flag is raised.
class DecoderRipSource::CancellableInput : public DecoderInput {
public:
    explicit CancellableInput(SourceReader& reader)
        : reader_(reader), inner_(makeSourceReaderInput(reader)) {}
    int open(const std::vector<std::string>& files, bool useDiscLayer, int angle, int title,
             int bufferMegabytes, bool bufferOnDisk, const std::string& tempPath) override {
        return inner_->open(files, useDiscLayer, angle, title, bufferMegabytes, bufferOnDisk,
                            tempPath);
    }
    int reopen() override { return inner_->reopen(); }
    int seek(int64_t sector) override { return inner_->seek(sector); }
    int read(uint8_t* destination, int length) override {
        if (cancel_ && cancel_->requested()) reader_.setCancel(1);
        return inner_->read(destination, length);
    }
    int close() override { return inner_->close(); }
    int64_t currentSector() const override { return inner_->currentSector(); }
    int64_t sectorsBefore() const override { return inner_->sectorsBefore(); }
    int64_t fileSectors(int index) const override { return inner_->fileSectors(index); }
    int fileIndex() const override { return inner_->fileIndex(); }
    bool cancelRequested() const override {
        return (cancel_ && cancel_->requested()) || inner_->cancelRequested();
    }
    void setCancel(const CancelToken* flag) { cancel_ = flag; }

private:
    SourceReader& reader_;
    std::unique_ptr<DecoderInput> inner_;
    const CancelToken* cancel_ = nullptr;
};

DecoderRipSource::DecoderRipSource(UiHost& host, TitleCatalogue& catalogue)
    : relay_(std::make_unique<HostRelay>(host)),
      reader_(std::make_unique<SourceReader>(*relay_, catalogue)),
      decoder_(std::make_unique<Mpeg2Decoder>(*relay_, catalogue)),
      input_(std::make_unique<CancellableInput>(*reader_)),
      audio_(std::make_unique<AudioDecoder>(*relay_)),
      queue_(std::make_unique<FrameQueue>(*relay_)),
      frames_(std::make_unique<DecoderFrameSource>(*decoder_, *queue_, audio_.get())),
      lastParams_(std::make_unique<DecoderOpenParams>()) {
    decoder_->setInput(input_.get());
}

DecoderRipSource::~DecoderRipSource() {
    decoder_->closeDecoder();
    frames_.reset();
}

DecoderOpenParams DecoderRipSource::openParams(const InputSettings& in) {
    DecoderOpenParams p;
    p.files = in.vobFiles;
    // The decoder takes the stream number within its coding and the title's
    // coding code; the ids were resolved from the catalogue by the window.
    p.audioTrack = in.audioId >= 0 ? (in.audioId & 7) : 0;
    p.audioFormat = in.audioFormat;
    p.subtitleStream = in.subtitleId != 255 ? in.subtitleId - 0x20 : -1;
    p.subOffset = in.subtitleOffset;
    p.subColor = in.subtitleColors;
    p.useAspi = in.useAspi;
    p.downSampling = in.downSampling;
    p.frameRate = in.frameRate;
    p.detect24Fps = in.detect24Fps;
    p.force24 = in.force24Fps;
    p.ac3Gain = in.ac3Gain;
    p.title = in.titleIndex;
    p.angle = in.angle;
    p.idct = in.idct;
    p.luminanceFilter = in.luminanceFilter;
    p.luminanceGain = in.luminanceGain;
    p.luminanceOffset = in.luminanceOffset;
    p.avSynch = in.avSync;
    p.deinterlace = in.deinterlace;
    p.dolby = in.dolby;
    p.saveBufferSize = in.saveBufferSize;
    p.saveBufferLocation = in.saveBufferLocation;
    p.ac3File = in.ac3File;
    p.tempPath = in.cacheFile;
    return p;
}

namespace {

// The sequence header's aspect code as a display aspect. MPEG-1 codes are
// pixel aspects: 0.6735 and 0.7031 are the 16:9 pictures of 625 and 525
// lines, 0.9375 and 1.0950 their 4:3 pictures.
int displayAspect(bool mpeg2, int code) {
    if (mpeg2) return code >= 1 && code <= 4 ? code : 0;
    switch (code) {
        case 1:
            return 1;
        case 2:
        case 3:
            return 3;
        case 8:
        case 12:
            return 2;
        default:
            return 0;
    }
}

}  // namespace

Status DecoderRipSource::openDecoder(const InputSettings& input, const TitleCatalogue&,
                                     SourceFacts& facts) {
    *lastParams_ = openParams(input);
    hasParams_ = true;
    Status opened = frames_->openDecoder(*lastParams_, facts.frameRate, facts.chromaFormat,
                                         facts.width, facts.height);
    if (opened)
        facts.aspectRatio =
            displayAspect(decoder_->sequence().mpeg2, decoder_->sequence().aspectRatio);
    return opened;
}

bool DecoderRipSource::isOpen() const { return decoder_->isOpen(); }

void DecoderRipSource::closeDecoder() { decoder_->closeDecoder(); }

Status DecoderRipSource::reopenDecoder() {
    if (!hasParams_) return Status::failed();
    double rate;
    int chroma, width, height;
    return frames_->openDecoder(*lastParams_, rate, chroma, width, height);
}

Status DecoderRipSource::scanVobFiles(const std::vector<std::string>& files,
                                      const InputSettings& input, TitleCatalogue& catalogue,
                                      const CancelToken* cancel) {
    // The old titles go first: while the scan runs, and after it failed,
    // nothing may be chosen from them.
    catalogue.clear();
    VobScan found;
    Status scanned =
        decoder_->scanVobFiles(files, input.detect24Fps, input.force24Fps, found, cancel);
    if (scanned) setScannedTitle(catalogue, found);
    return scanned;
}

void DecoderRipSource::setRunMode(int mode) { decoder_->setRunMode(mode); }
int DecoderRipSource::getRunMode() const { return decoder_->getRunMode(); }
Status DecoderRipSource::reseek(int64_t sector) { return frames_->reseek(sector); }

int DecoderRipSource::getNextFrame(FrameRecord& frame, int& width, int& height, const int16_t*& pcm,
                                   int& pcmValues) {
    return frames_->getNextFrame(frame, width, height, pcm, pcmValues);
}

int DecoderRipSource::peekFrame(FrameRecord& frame, int& width, int& height) {
    return frames_->peekFrame(frame, width, height);
}

int DecoderRipSource::currentTimeSeconds() const { return decoder_->currentTimeSeconds(); }
void DecoderRipSource::setPrefill(int flag) { reader_->setPrefill(flag); }
int DecoderRipSource::audioSampleRate() const { return audio_ ? audio_->handedOutRate() : 0; }

int64_t DecoderRipSource::getCurrentSector() const {
    return decoder_->isOpen() ? reader_->getCurrentSector() : -1;
}

RipSource::End DecoderRipSource::howEnded() const {
    // The queue closes the decoder when it gives up at a read error, which
    // clears the decoder's status: it remembers the error itself.
    if (decoder_->status() == DecodeStatus::ReadError || frames_->queue().endedOnReadError())
        return End::ReadError;
    return reader_->endedBeforeTitleEnd() ? End::FilesShort : End::Title;
}

std::vector<SkippedSectors> DecoderRipSource::skippedSectors() const {
    return frames_->queue().skippedSectors();
}

void DecoderRipSource::setIdleStatus(const std::string& text) { reader_->setIdleStatus(text); }

void DecoderRipSource::setCancel(const CancelToken* flag) {
    input_->setCancel(flag);
    reader_->setCancelFlag(flag);
}

}  // namespace zembra
