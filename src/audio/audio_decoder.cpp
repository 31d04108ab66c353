#include "audio/audio_decoder.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "platform/job_reporter.h"

namespace zembra {

AudioDecoder::AudioDecoder(JobReporter& reporter) : reporter_(reporter) {}

void AudioDecoder::open(const AudioSettings& settings) {
    settings_ = settings;
    fifo.clear();
    overflowed_ = false;
    audioWanted_ = true;
    sampleRate_ = 48000;
    delay_ = 0;
    bestEstimate_ = 0;
    estimateCount_ = 0;
    lpcmStarted_ = false;
    lpcm_.reset();
    appendedCount = 0;
    sync = AvSyncInputs{};
    ac3_.setGain(settings.gain);
    ac3_.setDolby(settings.dolby);
    ac3Start();
    mpaStart();
    resamplerStart();
}

void AudioDecoder::reseek() {
    delay_ = 0;
    bestEstimate_ = 0;
    estimateCount_ = 0;
    lpcmStarted_ = false;
    lpcm_.reset();
    sync.anchorPending = false;
    resamplerStart();
}

// --- PCM output -------------------------------------------------------------

DecodeStatus AudioDecoder::pcmAppend(const int16_t* values, int count) {
    beginAppends();
    appendValues(values, count);
    return appendStatus();
}

void AudioDecoder::appendValues(const int16_t* values, int count) {
    if (!audioWanted_ || overflowed_ || count <= 0) return;
    if (!fifo.append(values, count)) {
        reporter_.notice(Status::error("STR_ERROR_70"));
        overflowed_ = true;
    }
}

bool AudioDecoder::resamplerActive() const { return resampler_.active() && sampleRate_ == 48000; }

void AudioDecoder::appendRaw(const int16_t* pcm, int frames) {
    if (frames <= 0) return;
    if (resamplerActive()) {
        feed(pcm, frames * 4);
    } else {
        appendValues(pcm, frames * 2);
    }
}

DecodeStatus AudioDecoder::appendWithDelay(const int16_t* pcm, int bytes) {
    beginAppends();
    appendDelayed(pcm, bytes);
    return appendStatus();
}

void AudioDecoder::appendDelayed(const int16_t* pcm, int bytes) {
    if (delay_ > 0) {
        static const int16_t kSilence[2048] = {};
        int64_t frames = delay_ / 4;
        appendedCount += frames;
        while (frames > 0 && !overflowed_) {
            int n = int(std::min<int64_t>(frames, 1024));
            appendRaw(kSilence, n);
            frames -= n;
        }
        delay_ = 0;
    }
    if (bytes < -delay_) {
        delay_ += bytes;
        return;
    }
    int skip = int(-delay_) & ~3;
    appendRaw(pcm + skip / 2, (bytes - skip) / 4);
    appendedCount += (bytes + delay_) / 4;
    delay_ = 0;
}

// --- Resampler ----------------------------------------------------------------

void AudioDecoder::resamplerStart() {
    int mode = settings_.audioMode;
    resampler_.start(Resampler::halfLengthFor(mode), Resampler::cutoffFor(mode));
}

DecodeStatus AudioDecoder::resamplerFeed(const int16_t* pcm, int bytes) {
    beginAppends();
    feed(pcm, bytes);
    return appendStatus();
}

void AudioDecoder::feed(const int16_t* pcm, int bytes) {
    resampled_.clear();
    resampler_.feed(pcm, bytes / 4, resampled_);
    appendValues(resampled_.data(), int(resampled_.size()));
}

DecodeStatus AudioDecoder::resamplerFlush() {
    beginAppends();
    resampled_.clear();
    resampler_.flush(resampled_);
    appendValues(resampled_.data(), int(resampled_.size()));
    return appendStatus();
}

// --- A/V sync -----------------------------------------------------------------

void AudioDecoder::avSyncUpdate(int sampleRate, int sampleFramesBefore) {
    const int64_t bytesPerMs = int64_t(sampleRate) * 4 / 1000;  // 192 at 48 kHz, 176 at 44.1
    const int64_t d = ((sync.lastAudioPtsMs - sync.anchorVideoPtsMs) * bytesPerMs) >> 2;
    int64_t frames = 0;
    if (sync.anchorFrameCount == 0) {
        frames = d;
    } else if (settings_.avSynch && sync.mpeg2 && sync.sourceFrameRate > 0) {
        int64_t expected =
            int64_t(std::trunc(double(sync.anchorFrameCount) * sampleRate / sync.sourceFrameRate));
        int64_t estimate = expected + d - sampleFramesBefore - appendedCount;
        if (estimateCount_ == 0 || std::llabs(estimate) < std::llabs(bestEstimate_))
            bestEstimate_ = estimate;
        if (++estimateCount_ >= 4) {
            if (std::llabs(bestEstimate_) > 1500) frames = bestEstimate_;
            estimateCount_ = 0;
        }
    }
    delay_ = frames * 4;
    sync.anchorPending = false;
}

// --- AC-3 -----------------------------------------------------------------------

void AudioDecoder::ac3Start() {
    ac3_.setGain(settings_.gain);
    ac3_.setDolby(settings_.dolby);
    ac3_.start();
}

int AudioDecoder::ac3DecodePayload(const uint8_t* data, size_t length) {
    packetPcm_.clear();
    int16_t frame[Ac3Decoder::kFrameSamples * 2];
    while (length > 0) {
        if (!ac3_.decodeNext(data, length, frame)) break;
        // The stream's own rate: A/52 also allows 44.1 and 32 kHz, which are
        // not resampled as if they were 48 kHz.
        sampleRate_ = ac3_.sampleRate();
        if (sync.anchorPending) avSyncUpdate(sampleRate_, int(packetPcm_.size() / 2));
        packetPcm_.insert(packetPcm_.end(), frame, frame + Ac3Decoder::kFrameSamples * 2);
    }
    return int(packetPcm_.size() * 2);
}

DecodeStatus AudioDecoder::ac3Payload(const uint8_t* data, size_t length) {
    beginAppends();
    int bytes = ac3DecodePayload(data, length);
    if (bytes > 0) appendDelayed(packetPcm_.data(), bytes);
    return appendStatus();
}

// --- MPEG audio ---------------------------------------------------------------------

void AudioDecoder::mpaStart() { mpa_.start(); }

int AudioDecoder::mpaDecodePayload(const uint8_t* data, size_t length, int& sampleRate) {
    packetPcm_.clear();
    int16_t frame[MpaDecoder::kMaxFrameSamples * 2];
    while (length > 0) {
        int rate = 0;
        int samples = mpa_.decodeNext(data, length, frame, rate);
        if (!samples) break;
        sampleRate = sampleRate_ = rate;
        if (sync.anchorPending) avSyncUpdate(rate, int(packetPcm_.size() / 2));
        packetPcm_.insert(packetPcm_.end(), frame, frame + samples * 2);
    }
    return int(packetPcm_.size() * 2);
}

DecodeStatus AudioDecoder::mpaPayload(const uint8_t* data, size_t length) {
    beginAppends();
    int rate = sampleRate_;
    int bytes = mpaDecodePayload(data, length, rate);
    if (bytes > 0) appendDelayed(packetPcm_.data(), bytes);
    return appendStatus();
}

bool AudioDecoder::mpaProbe(const uint8_t* data, size_t length, std::string& text) {
    uint32_t word = 0;
    for (size_t i = 0; i < length; ++i) {
        word = (word << 8) | data[i];
        MpaHeader h;
        if (i >= 3 && parseMpaHeader(word, h)) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%dHz %s", h.sampleRate,
                          h.channels() == 1 ? "Mono" : "Stereo");
            text = buf;
            return true;
        }
    }
    return false;
}

// --- LPCM ---------------------------------------------------------------------------------

DecodeStatus AudioDecoder::lpcmPayload(const uint8_t* data, size_t length) {
    beginAppends();
    if (!audioWanted_ || length <= 6) return appendStatus();
    sampleRate_ = 48000;  // what LpcmFrames makes of every rate
    if (!lpcmStarted_) {
        lpcmStarted_ = true;
        delay_ = (sync.lastAudioPtsMs - sync.videoStartPtsMs) * 192;
    }
    packetPcm_.clear();
    lpcm_.decode(data, length, packetPcm_);
    if (!packetPcm_.empty()) appendDelayed(packetPcm_.data(), int(packetPcm_.size() * 2));
    return appendStatus();
}

}  // namespace zembra
