#include "decoder/frame_source.h"

#include "dvd/title_catalogue.h"

namespace zembra {

DecoderFrameSource::DecoderFrameSource(Mpeg2Decoder& decoder, FrameQueue& queue,
                                       AudioDecoder* audio)
    : decoder_(decoder), queue_(queue), audio_(audio) {
    if (audio_) {
        route_ = std::make_unique<AudioDecoderRoute>(*audio_);
        decoder_.setAudio(route_.get());
    }
    decoder_.hooks.emitFrame = [this](const DecodedPicture& p) {
        if (!queue_.isOpen()) return DecodeStatus::Ok;
        return queue_.emitFrame(p.planes, p.frameNumber, p.afterStop);
    };
    decoder_.hooks.subpicturePayload = [this](const uint8_t* data, size_t size) {
        if (queue_.isOpen() && queue_.settings().subtitles)
            queue_.subpicture().subpictureAddPayload(
                data, size, cellSumSeconds() + double(decoder_.timing().lastSubPtsMs) / 1000.0);
    };
    // Called by openDecoder once the sequence header is known, and by reseek.
    decoder_.hooks.subpictureReset = [this] {
        if (queue_.isOpen())
            queue_.clearQueue();
        else
            openQueue();
    };
    decoder_.hooks.closed = [this] { queue_.close(); };
}

DecoderFrameSource::~DecoderFrameSource() {
    decoder_.hooks = DecoderHooks{};
    if (audio_) {
        decoder_.setAudio(nullptr);
    }
}

void DecoderFrameSource::openQueue() {
    FrameQueueSettings s;
    s.runMode = decoder_.getRunMode();
    s.exportAudio = params_.downSampling == 2;
    s.frameRateIndex = params_.frameRate;
    s.sourceRate = decoder_.sequence().frameRate;
    s.audioMode = params_.downSampling + 1;
    s.layout = PlaneLayout::make(decoder_.sequence().codedWidth, decoder_.sequence().codedHeight,
                                 decoder_.sequence().chromaFormat);
    s.deinterlace = params_.deinterlace;
    s.luminance = {params_.luminanceFilter, params_.luminanceGain, params_.luminanceOffset};
    s.subtitles = decoder_.routing().subtitleStream >= 0;
    s.subpicture.subOffset = params_.subOffset;
    s.subpicture.subColor = params_.subColor;
    const TitleRecord* title = decoder_.catalogue().title(params_.title);
    if (title && title->hasPalette) {
        palette_ = title->palette;
        s.subpicture.titlePalette = &palette_;
    }
    queue_.open(s, this, audio_ ? linkAudio(*audio_) : FrameQueueAudio{});
}

Status DecoderFrameSource::openDecoder(const DecoderOpenParams& params, double& frameRate,
                                       int& chromaFormat, int& width, int& height) {
    params_ = params;
    queue_.close();
    Status opened = decoder_.openDecoder(params, frameRate, chromaFormat, width, height);
    if (!opened) return opened;
    if (!queue_.isOpen()) openQueue();
    queue_.fill();
    return {};
}

Status DecoderFrameSource::reseek(int64_t sector) {
    // A new pass may change the run mode (video only, audio only): the queue
    // then starts over with the new mode, else it only drops what it holds.
    if (queue_.isOpen() && queue_.settings().runMode != decoder_.getRunMode())
        openQueue();
    else
        queue_.clearQueue();
    Status restarted = decoder_.reseek(sector);
    if (!restarted) return restarted;
    queue_.fill();
    return {};
}

int DecoderFrameSource::getNextFrame(FrameRecord& frame, int& width, int& height,
                                     const int16_t*& pcm, int& pcmValueCount) {
    const int r = queue_.getNextFrame(frame, width, height, pcm, pcmValueCount);
    decoder_.setOutputFrames(uint32_t(queue_.framesHandedOut()));
    return r;
}

bool DecoderFrameSource::decodeOnePicture() {
    if (decoder_.decodeStep() == 1) return true;
    // At the end of the input the last reference picture is still in the
    // frame store and no later picture pushes it out: emit it, or every
    // title would lose its last picture.
    const DecodeStatus status = decoder_.status();
    // Paused for the sound with nothing queued: the picture waiting for its
    // successor is the one to show meanwhile (a still or a slide).
    const bool paused = status == DecodeStatus::AudioBacklog && queue_.queued() == 0;
    if (status != DecodeStatus::EndOfInput && status != DecodeStatus::NoPicture && !paused)
        return false;
    return decoder_.flushLastReference();
}

uint32_t DecoderFrameSource::currentSector() {
    return decoder_.isOpen() ? uint32_t(decoder_.input().currentSector()) : 0;
}

bool DecoderFrameSource::reseekSilently(uint32_t sector) {
    return decoder_.reseek(int64_t(sector)).ok();
}

double DecoderFrameSource::cellSumSeconds() const {
    const TitleRecord* t = decoder_.catalogue().title(params_.title);
    if (!t) return 0.0;
    double sum = 0.0;
    if (t->noCellFilter) {
        const int index = decoder_.input().fileIndex();
        for (const auto& c : t->cells)
            if (int(c.vobId) - 1 < index) sum += c.duration;
    } else {
        for (const auto& c : t->cells)
            if (int(c.vobId) < decoder_.vobClock().vobNumber) sum += c.duration;
    }
    return sum;
}

}  // namespace zembra
