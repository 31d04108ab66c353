#pragma once
// The output side of the decoder: display-order pictures come in through
// emitFrame (deinterlaced, luminance-filtered, subtitled and copied into a
// queue of at most 50), and getNextFrame hands them out one output frame at a
// time at the output frame rate, repeating or dropping frames where the
// source rate differs, each with exactly the PCM that belongs to it.

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "audio/audio_decoder.h"
#include "audio/pcm_fifo.h"
#include "decoder/deinterlace.h"
#include "decoder/frame_record.h"
#include "decoder/luminance.h"
#include "decoder/subpicture.h"
#include "mpeg/decode_status.h"

namespace zembra {

class JobReporter;

// The audio side as the frame queue sees it: the PCM FIFO it hands out
// from, the resampler restart for a forced FIFO level, the appended count of
// the drift estimate and the rate of the PCM in the FIFO.
struct FrameQueueAudio {
    PcmFifo* fifo = nullptr;
    std::function<DecodeStatus()> flushAndRestartResampler;
    int64_t* appendedCount = nullptr;
    std::function<int()> sampleRate;
};

inline FrameQueueAudio linkAudio(AudioDecoder& audio) {
    return {&audio.fifo,
            [&audio] {
                const DecodeStatus flushed = audio.resamplerFlush();
                audio.resamplerStart();
                return flushed;
            },
            &audio.appendedCount, [&audio] { return audio.handedOutRate(); }};
}

// What the frame queue needs from the decoder that feeds it.
class FrameQueueSource {
public:
    virtual ~FrameQueueSource() = default;
    // Decodes one more picture (getHeader, the sync anchor at an I-picture,
    // decodePicture), emitting any finished display-order frame through
    // FrameQueue::emitFrame. False when decoding has ended; status() then
    // says why (a status short of fatal is taken as the end of input).
    virtual bool decodeOnePicture() = 0;
    // The decoder's status: damage it got over, or why decoding stopped
    // (AudioBacklog: paused until the sound waiting in the FIFO is handed out).
    virtual DecodeStatus status() const = 0;
    // Ends decoding for a reason the queue found.
    virtual void stop(DecodeStatus why) = 0;
    // Title reader position (getCurrentSector).
    virtual uint32_t currentSector() = 0;
    // reseek without a message box; true when decoding restarted there.
    virtual bool reseekSilently(uint32_t sector) = 0;
    // After AudioBacklog: decoding goes on where it paused.
    virtual void resumeAfterAudioPause() {}
    // closeDecoder: frees everything (it calls FrameQueue::close()).
    virtual void closeDecoder() = 0;
    // Subtitle timing: the cell sum (seconds), the video PTS (ms) and the
    // decoded-frame count at the last A/V sync anchor.
    virtual double cellSumSeconds() const = 0;
    virtual int64_t anchorVideoPtsMs() const = 0;
    virtual uint32_t anchorFrameCount() const = 0;
};

struct FrameQueueSettings {
    int runMode = 1;           // 1 video and audio, 2 video only, 3 audio only
    bool exportAudio = false;  // raw AC-3 export: no PCM is waited for
    int frameRateIndex = 2;    // FrameRate setting, index into outputFrameRate()
    double sourceRate = 25.0;  // after film detection
    int audioMode = 1;         // DownSampling + 1; 1, 2, 4 hand out 44100 Hz
    PlaneLayout layout;        // coded size and chroma format of the pictures
    int deinterlace = 0;       // 0..3
    LuminanceSettings luminance;
    bool subtitles = false;  // a subtitle stream is chosen
    SubpictureSettings subpicture;
};

// Output frame rates of the FrameRate setting (index 0..5).
double outputFrameRate(int frameRateIndex);
// Sample rate of the PCM handed out for an AudioMode.
int outputSampleRate(int audioMode);

class FrameQueue {
public:
    static constexpr int kCapacity = 50;

    explicit FrameQueue(JobReporter& reporter) : reporter_(reporter) {}

    // Starts a run: empties the queue and counters, sets up the frame
    // processing. Without a FIFO in `audio` no PCM is handed out.
    void open(const FrameQueueSettings& settings, FrameQueueSource* source,
              FrameQueueAudio audio = {});
    // Frees every queued frame, the last handed-out one and the processing
    // state; safe to call twice.
    void close();
    bool isOpen() const { return open_; }
    // After a seek: drops the queued frames and any subtitle in assembly.
    void clearQueue();

    // A picture in display order with its decoded-frame number. Once the
    // source has stopped, only a picture flushed after the stop (afterStop) is
    // taken. NoPicture when the queue is full (the picture is not taken),
    // EndOfInput when the sound overflowed, else Ok.
    [[nodiscard]] DecodeStatus emitFrame(const uint8_t* const planes[3], uint32_t frameNumber,
                                         bool afterStop = false);

    // One output frame and its PCM: 1, or 0 at the end of the title or on a
    // fatal error (the message has been shown and the decoder closed).
    // width and height are the coded sizes; pcm stays valid until the next
    // call; pcmValueCount counts 16-bit values.
    [[nodiscard]] int getNextFrame(FrameRecord& frame, int& width, int& height, const int16_t*& pcm,
                                   int& pcmValueCount);
    // A copy of the head of the queue without removing it: 1, or 0 if empty.
    [[nodiscard]] int peekFrame(FrameRecord& frame, int& width, int& height) const;

    // Decodes until the queue is sufficient (used after opening and seeking;
    // pumps messages when the handed-out count is a multiple of 5).
    void fill() { fillQueue(false); }

    Subpicture& subpicture() { return subpicture_; }
    const FrameQueueSettings& settings() const { return settings_; }
    int queued() const { return int(queue_.size()); }
    int64_t framesHandedOut() const { return handedOut_; }
    int64_t sampleFramesHandedOut() const { return samplesOut_; }
    // The read errors of this run that were got over by skipping sectors.
    const std::vector<SkippedSectors>& skippedSectors() const { return skipped_; }
    // This run ended at a read error that no skip got past (an image cut
    // short, a scratch up to the end): the rest of the title was not read.
    bool endedOnReadError() const { return endedOnReadError_; }

private:
    bool sufficient() const;
    int sampleFramesForNext() const;
    void fillQueue(bool pumpEachPicture);
    // After a fill: 1 to go on, 0 when the run ended (message shown, closed).
    int checkStatus();
    bool skipAhead();
    void endRun();
    FrameRecord pop();
    // The queue is empty while the sound goes on without pictures.
    bool showsStill() const;

    JobReporter& reporter_;
    FrameQueueSettings settings_;
    FrameQueueSource* source_ = nullptr;
    FrameQueueAudio audio_;
    bool open_ = false;
    // The input has ended: the frames still queued are handed out, with the
    // PCM left in the FIFO, before the run ends.
    bool draining_ = false;
    // The decoder paused for the sound at least once in this run: a still
    // picture, shown again while its sound plays, up to the sound's end.
    bool pausedForAudio_ = false;
    // Display time of frame number 0: a seek restarts the decoder's frame
    // numbers, so the frames after it are timed from the frames handed out.
    double timeOffset_ = 0.0;

    std::vector<SkippedSectors> skipped_;
    bool endedOnReadError_ = false;
    std::deque<FrameRecord> queue_;
    FrameRecord last_;  // handed out again when frames are repeated
    int64_t handedOut_ = 0;
    int64_t samplesOut_ = 0;
    std::vector<int16_t> pcmOut_;

    Deinterlacer deinterlacer_;
    Subpicture subpicture_;
};

}  // namespace zembra
