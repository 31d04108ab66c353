#pragma once
// The audio side of the decoder: takes the payload bytes of the chosen audio
// track (AC-3, MPEG audio Layers I/II, LPCM) as the demultiplexer finds them
// and appends interleaved 16-bit stereo PCM to a PcmFifo, through the
// 48000 -> 44100 Hz resampler when the output mode asks for it, with the
// initial audio delay and the A/V drift correction applied.
//
// The video decoder owns one AudioDecoder and drives it:
//   open(settings)                       at openDecoder (also starts the resampler)
//   sync.*                               written by the demultiplexer as it reads PTS
//   setAnchor(frames, videoPtsMs)        at each I-picture that opens a GOP
//   ac3Start() / ac3Payload(...)         AC-3 substreams 0x80-0x87
//   mpaStart() / mpaPayload(...)         MPEG audio streams 0xC0-0xC7
//   lpcmPayload(...)                     LPCM substreams 0xA0-0xA7
//   fifo                                 drained by getNextFrame
//   resamplerFlush()/resamplerStart()    when the FIFO level is forced
// Nothing here depends on the video decoder; what the sync needs from it is
// written into `sync` or passed as arguments.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/ac3_decoder.h"
#include "audio/lpcm_frames.h"
#include "audio/mpa_decoder.h"
#include "audio/pcm_fifo.h"
#include "audio/resampler.h"
#include "mpeg/decode_status.h"

namespace zembra {

class JobReporter;

struct AudioSettings {
    int audioMode = 1;     // DownSampling + 1: 1, 2, 4 resample to 44100; 3 export; 5 keep 48000
    double gain = 3.0;     // AC-3 output gain G (sample scale G x 32767)
    bool dolby = true;     // matrix-surround downmix
    bool avSynch = false;  // drift correction from the GOP anchors
};

// Timing the demultiplexer keeps up to date (all times in milliseconds,
// 33-bit PTS / 90).
struct AvSyncInputs {
    int64_t lastAudioPtsMs = 0;     // PTS of the last audio packet header read
    int64_t videoStartPtsMs = 0;    // last video PTS before decoding started (LPCM delay)
    double sourceFrameRate = 25.0;  // after film detection
    bool mpeg2 = true;              // drift correction runs only on MPEG-2 streams
    // Anchor: set by setAnchor(), consumed by the next decoded audio frame.
    uint32_t anchorFrameCount = 0;
    int64_t anchorVideoPtsMs = 0;
    bool anchorPending = false;
};

class AudioDecoder {
public:
    static constexpr int kAc3FrameBytes = 6144;  // 1536 stereo sample frames

    explicit AudioDecoder(JobReporter& reporter);

    // Resets everything (FIFO, delay, counters, decoders) and starts the
    // resampler for the given output mode.
    void open(const AudioSettings& settings);
    const AudioSettings& settings() const { return settings_; }
    // At a re-seek: the per-track state (LPCM first packet, pending delay,
    // drift estimates, anchor) starts over and the resampler restarts. The
    // FIFO is left to the caller.
    void reseek();

    // Every call that appends PCM returns DecodeStatus::EndOfInput when the
    // FIFO overflowed (the message is shown, the rest of that call's sound is
    // dropped, and decoding is to end), else DecodeStatus::Ok.

    // 0 until decoding starts; appends are dropped while it is false.
    void setAudioWanted(bool wanted) { audioWanted_ = wanted; }
    bool audioWanted() const { return audioWanted_; }

    AvSyncInputs sync;
    void setAnchor(uint32_t outputFrameCount, int64_t videoPtsMs) {
        sync.anchorFrameCount = outputFrameCount;
        sync.anchorVideoPtsMs = videoPtsMs;
        sync.anchorPending = true;
    }

    // --- AC-3 ---
    void ac3Start();
    // Decodes the AC-3 bytes of one packet (the bytes after the 4-byte
    // private-stream header: substream id, frame count, first-access-unit
    // pointer) into ac3Output(); returns the PCM bytes produced (6144 a
    // frame). Runs avSyncUpdate at the first frame after a pending anchor.
    int ac3DecodePayload(const uint8_t* data, size_t length);
    const int16_t* ac3Output() const { return packetPcm_.data(); }
    // ac3DecodePayload, then the delay and the append.
    [[nodiscard]] DecodeStatus ac3Payload(const uint8_t* data, size_t length);

    // --- MPEG audio ---
    void mpaStart();
    // Decodes the PES payload of one packet into mpaOutput(); returns the PCM
    // bytes (stereo) and the sampling rate of the last frame (unchanged when
    // no frame was decoded).
    int mpaDecodePayload(const uint8_t* data, size_t length, int& sampleRate);
    const int16_t* mpaOutput() const { return packetPcm_.data(); }
    [[nodiscard]] DecodeStatus mpaPayload(const uint8_t* data, size_t length);
    // "%dHz %s" ("Mono"/"Stereo") of the first valid frame header in the bytes.
    static bool mpaProbe(const uint8_t* data, size_t length, std::string& text);

    // --- LPCM --- the bytes after the substream id; the 6 LPCM header bytes
    // are skipped here. The first packet after open applies the initial delay
    // from sync.lastAudioPtsMs - sync.videoStartPtsMs.
    [[nodiscard]] DecodeStatus lpcmPayload(const uint8_t* data, size_t length);

    // Sampling rate of the audio as decoded (48000 for AC-3 and LPCM).
    int sampleRate() const { return sampleRate_; }

    // --- PCM output ---
    PcmFifo fifo;
    // Appends to the FIFO (or through the resampler when it is active) with
    // the pending delay applied, counting sample frames.
    [[nodiscard]] DecodeStatus appendWithDelay(const int16_t* pcm, int bytes);
    // Plain append of interleaved values; shows the overflow message when the
    // FIFO would pass its capacity.
    [[nodiscard]] DecodeStatus pcmAppend(const int16_t* values, int count);

    // --- Resampler (48000 -> 44100) ---
    void resamplerStart();
    [[nodiscard]] DecodeStatus resamplerFeed(const int16_t* pcm, int bytes);
    [[nodiscard]] DecodeStatus resamplerFlush();
    bool resamplerActive() const;
    // The rate of the PCM in the FIFO: 44100 where 48 kHz is resampled,
    // else the stream's own (DownSampling 4 keeps a 44.1 kHz stream at 44.1).
    int handedOutRate() const { return resamplerActive() ? 44100 : sampleRate_; }

    // --- A/V sync ---
    void avSyncUpdate(int sampleRate, int sampleFramesBefore);
    int64_t pendingDelayBytes() const { return delay_; }
    void setPendingDelayBytes(int64_t bytes) { delay_ = bytes; }
    // Sample frames appended so far (decoded and silent alike, before resampling).
    int64_t appendedCount = 0;

private:
    // The bodies of the calls above; after an overflow they append nothing
    // more until the next call starts.
    void appendValues(const int16_t* values, int count);
    void appendRaw(const int16_t* pcm, int frames);
    void appendDelayed(const int16_t* pcm, int bytes);
    void feed(const int16_t* pcm, int bytes);
    // Starts a call that appends; its status once done.
    void beginAppends() { overflowed_ = false; }
    DecodeStatus appendStatus() const {
        return overflowed_ ? DecodeStatus::EndOfInput : DecodeStatus::Ok;
    }

    JobReporter& reporter_;
    AudioSettings settings_;
    bool overflowed_ = false;
    bool audioWanted_ = true;
    int sampleRate_ = 48000;
    int64_t delay_ = 0;
    int64_t bestEstimate_ = 0;
    int estimateCount_ = 0;
    bool lpcmStarted_ = false;
    Ac3Decoder ac3_;
    MpaDecoder mpa_;
    Resampler resampler_;
    std::vector<int16_t> packetPcm_;
    std::vector<int16_t> resampled_;
    LpcmFrames lpcm_;
};

}  // namespace zembra
