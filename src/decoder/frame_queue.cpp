#include "decoder/frame_queue.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "decoder/mpeg2_decoder.h"
#include "platform/job_reporter.h"

namespace zembra {

double outputFrameRate(int frameRateIndex) {
    static const double kRates[6] = {24000.0 / 1001.0, 24.0, 25.0,
                                     30000.0 / 1001.0, 30.0, 24000.0 / 1001.0};
    return kRates[std::clamp(frameRateIndex, 0, 5)];
}

int outputSampleRate(int audioMode) {
    return (audioMode == 1 || audioMode == 2 || audioMode == 4) ? 44100 : 48000;
}

void FrameQueue::open(const FrameQueueSettings& settings, FrameQueueSource* source,
                      FrameQueueAudio audio) {
    close();
    settings_ = settings;
    if (settings_.sourceRate <= 0.0) settings_.sourceRate = 25.0;
    source_ = source;
    audio_ = std::move(audio);
    handedOut_ = 0;
    samplesOut_ = 0;
    draining_ = false;
    pausedForAudio_ = false;
    timeOffset_ = 0.0;
    skipped_.clear();
    endedOnReadError_ = false;
    deinterlacer_.reset(settings_.layout, settings_.deinterlace);
    subpicture_.open(settings_.layout.width, settings_.layout.height, settings_.subpicture);
    open_ = true;
}

void FrameQueue::close() {
    queue_.clear();
    last_ = FrameRecord{};
    pcmOut_.clear();
    pcmOut_.shrink_to_fit();
    deinterlacer_.reset(settings_.layout, settings_.deinterlace);
    subpicture_.open(0, 0, settings_.subpicture);
    open_ = false;
}

void FrameQueue::clearQueue() {
    queue_.clear();
    draining_ = false;
    timeOffset_ = double(handedOut_) / outputFrameRate(settings_.frameRateIndex);
    subpicture_.reset();
}

DecodeStatus FrameQueue::emitFrame(const uint8_t* const planes[3], uint32_t frameNumber,
                                   bool afterStop) {
    if (!open_) return DecodeStatus::Ok;
    // The fill that called us ends the run.
    if (source_ && isFatal(source_->status()) && !afterStop) return DecodeStatus::Ok;
    // Audio only: nobody takes the pictures, so they are not kept.
    if (settings_.runMode == 3) return DecodeStatus::Ok;

    DecodeStatus status = DecodeStatus::Ok;
    const double rate = settings_.sourceRate;
    if (queue_.size() > 48 && audio_.fifo) {
        // The audio is starving the consumer: let silence stand in for it so
        // the queued frames can go.
        if (audio_.flushAndRestartResampler) status = audio_.flushAndRestartResampler();
        int target = int(double(queue_.size() + 1) * (44100.0 / rate) * 2.0);
        target &= ~1;
        const int change = audio_.fifo->force(target);
        if (audio_.appendedCount) *audio_.appendedCount += change / 2;
    }
    if (queue_.size() >= size_t(kCapacity)) {
        reporter_.notice(Status::error("STR_ERROR_507"));
        return DecodeStatus::NoPicture;
    }

    auto buffer = std::make_shared<PlaneBuffer>(settings_.layout);
    uint8_t* out[3] = {buffer->plane(0), buffer->plane(1), buffer->plane(2)};
    if (settings_.deinterlace != 0) {
        deinterlacer_.deinterlaceFrame(planes, frameNumber, out);
    } else {
        for (int p = 0; p < 3; ++p) std::memcpy(out[p], planes[p], settings_.layout.planeSize(p));
    }
    if (settings_.luminance.enabled) {
        luminanceFilter(out[0], out[0], int(settings_.layout.planeSize(0)),
                        settings_.luminance.gain, settings_.luminance.offset);
    }
    if (settings_.subtitles && source_) {
        const double time =
            source_->cellSumSeconds() + source_->anchorVideoPtsMs() / 1000.0 +
            (double(frameNumber) - double(source_->anchorFrameCount()) + 1.0) / rate;
        if (subpicture_.covers(time))
            subpicture_.overlaySubpicture(out[0], out[1], out[2], settings_.layout);
    }

    FrameRecord record;
    record.y = out[0];
    record.cb = out[1];
    record.cr = out[2];
    record.frameNumber = frameNumber;
    record.time = timeOffset_ + frameNumber / rate;
    record.planes = std::move(buffer);
    queue_.push_back(std::move(record));
    return status;
}

int FrameQueue::sampleFramesForNext() const {
    // The stream's own rate where it is not resampled: a 44.1 kHz stream
    // handed out as 48 kHz would run ahead of the pictures.
    const int a = audio_.sampleRate ? audio_.sampleRate() : outputSampleRate(settings_.audioMode);
    if (settings_.frameRateIndex == 2) return a / 25;
    const double r = outputFrameRate(settings_.frameRateIndex);
    const double due = std::ceil(double(handedOut_ + 1) * a / r - 0.5);
    return std::max(0, int(int64_t(due) - samplesOut_));
}

bool FrameQueue::sufficient() const {
    const bool pcmShort = !audio_.fifo || audio_.fifo->fill < 2 * 2 * sampleFramesForNext();
    switch (settings_.runMode) {
        case 2:
            return !queue_.empty();
        case 3:
            return audio_.fifo && !pcmShort;
        default:
            if (settings_.exportAudio || !audio_.fifo) return !queue_.empty();
            return !queue_.empty() && !pcmShort;
    }
}

void FrameQueue::fillQueue(bool pumpEachPicture) {
    if (!open_ || !source_) return;
    // Paused for the sound: what was handed out since made room, so go on
    // (the decoder pauses again at once when it did not).
    if (source_->status() == DecodeStatus::AudioBacklog) source_->resumeAfterAudioPause();
    while (!isFatal(source_->status()) && !sufficient()) {
        if (pumpEachPicture || handedOut_ % 5 == 0) reporter_.pumpMessages();
        if (!source_->decodeOnePicture()) {
            if (!isFatal(source_->status())) source_->stop(DecodeStatus::EndOfInput);
            break;
        }
        if (!open_) return;  // closed from inside (a message ended the run)
    }
}

void FrameQueue::endRun() {
    FrameQueueSource* source = source_;
    close();
    if (source) source->closeDecoder();
}

bool FrameQueue::skipAhead() {
    const uint32_t bad = source_->currentSector();
    const double seconds = double(handedOut_) / outputFrameRate(settings_.frameRateIndex);
    uint32_t sector = bad;
    for (int attempt = 1; attempt <= 20; ++attempt) {
        sector += 512u * uint32_t(attempt);
        clearQueue();
        if (source_->reseekSilently(sector)) {
            skipped_.push_back({bad, sector - bad, seconds});
            return true;
        }
    }
    return false;
}

int FrameQueue::checkStatus() {
    for (;;) {
        if (!open_ || !source_) return 0;
        const DecodeStatus status = source_->status();
        if (!isFatal(status)) return 1;
        if (status == DecodeStatus::AudioBacklog) {
            pausedForAudio_ = true;
            return 1;
        }
        // The end of the input, or a read error: what is queued (and the
        // sound muxed after the last picture) still belongs to the title, so
        // it is handed out before the run ends or skips ahead.
        const bool soundLeft = audio_.fifo && audio_.fifo->fill > 0;
        const bool left =
            settings_.runMode == 3 ? soundLeft : !queue_.empty() || (showsStill() && soundLeft);
        if ((status == DecodeStatus::EndOfInput || status == DecodeStatus::ReadError) && left) {
            draining_ = true;
            return 1;
        }
        if (status == DecodeStatus::EndOfInput) {
            endRun();
            return 0;
        }
        if (status == DecodeStatus::ReadError && skipAhead()) {
            fillQueue(true);
            continue;
        }
        endedOnReadError_ = status == DecodeStatus::ReadError;
        reporter_.notice(Status::error("STR_ERROR_503"));
        endRun();
        return 0;
    }
}

FrameRecord FrameQueue::pop() {
    FrameRecord r = std::move(queue_.front());
    queue_.pop_front();
    return r;
}

int FrameQueue::getNextFrame(FrameRecord& frame, int& width, int& height, const int16_t*& pcm,
                             int& pcmValueCount) {
    pcm = nullptr;
    pcmValueCount = 0;
    if (!open_ || !source_) return 0;
    fillQueue(true);
    if (!checkStatus()) return 0;

    width = settings_.layout.width;
    height = settings_.layout.height;
    if (settings_.runMode != 3 && queue_.empty() && showsStill()) {
        // No picture while the sound goes on: the last one stays, and the
        // pictures after the pause are timed from the frames handed out.
        frame = last_;
        timeOffset_ += 1.0 / outputFrameRate(settings_.frameRateIndex);
    } else if (settings_.runMode != 3) {
        if (queue_.empty()) {
            endRun();
            return 0;
        }
        const double s = settings_.sourceRate;
        const double r = outputFrameRate(settings_.frameRateIndex);
        const double due = double(handedOut_ + 1) / r;
        if (std::fabs(s - r) < 0.01) {
            last_ = pop();
        } else if (s < r) {
            // Repeat the last frame while the next one is not due yet.
            if (last_.empty() || queue_.front().time < due) last_ = pop();
        } else {
            // Drop frames that would be shown too late; not the last one
            // while decoding waits for the sound to be handed out: it is all
            // there is to show meanwhile.
            while (queue_.front().time + 1.0 / s <= due &&
                   !(queue_.size() == 1 && source_->status() == DecodeStatus::AudioBacklog)) {
                queue_.pop_front();
                fillQueue(true);
                if (!checkStatus()) return 0;
                if (queue_.empty()) {
                    if (showsStill()) break;
                    endRun();
                    return 0;
                }
            }
            if (!queue_.empty()) last_ = pop();
        }
        frame = last_;
    } else {
        frame = FrameRecord{};
    }

    if (settings_.runMode != 2 && audio_.fifo) {
        const int frames = sampleFramesForNext();
        const int values = std::min(2 * frames, audio_.fifo->fill);
        pcmOut_.resize(size_t(std::max(values, 0)));
        int taken = audio_.fifo->take(pcmOut_.data(), values);
        if (draining_ && taken < 2 * frames) {
            // The last frames keep their share of sound, as silence where the
            // track ended before the pictures.
            pcmOut_.resize(size_t(2 * frames), 0);
            taken = 2 * frames;
        }
        samplesOut_ += taken / 2;
        pcm = pcmOut_.data();
        pcmValueCount = taken;
    }
    ++handedOut_;
    return 1;
}

bool FrameQueue::showsStill() const {
    if (!queue_.empty() || last_.empty() || !pausedForAudio_ || !source_) return false;
    const DecodeStatus status = source_->status();
    return status == DecodeStatus::AudioBacklog || status == DecodeStatus::EndOfInput;
}

int FrameQueue::peekFrame(FrameRecord& frame, int& width, int& height) const {
    if (queue_.empty()) return 0;
    frame = queue_.front();
    width = settings_.layout.width;
    height = settings_.layout.height;
    return 1;
}

}  // namespace zembra
