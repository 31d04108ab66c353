#pragma once
// Puts the frame queue behind the video decoder: decoded pictures go into
// the queue, sub-picture packets into its sub-picture decoder, the chosen
// audio track into the AudioDecoder whose FIFO the queue hands out from.
// The rip loop and the decode command open the decoder through this and take
// frames with getNextFrame.

#include <cstdint>
#include <memory>

#include "audio/audio_decoder.h"
#include "decoder/audio_route.h"
#include "decoder/frame_queue.h"
#include "decoder/mpeg2_decoder.h"

namespace zembra {

class DecoderFrameSource : public FrameQueueSource {
public:
    // Installs itself in the decoder's hooks and audio route; `audio` may be
    // null for video-only use.
    DecoderFrameSource(Mpeg2Decoder& decoder, FrameQueue& queue, AudioDecoder* audio);
    ~DecoderFrameSource() override;
    DecoderFrameSource(const DecoderFrameSource&) = delete;
    DecoderFrameSource& operator=(const DecoderFrameSource&) = delete;

    // openDecoder with the queue set up from the parameters, then the first
    // fill of the queue; fails as openDecoder.
    Status openDecoder(const DecoderOpenParams& params, double& frameRate, int& chromaFormat,
                       int& width, int& height);
    // Restarts at a sector with an empty queue.
    Status reseek(int64_t sector);
    [[nodiscard]] int getNextFrame(FrameRecord& frame, int& width, int& height, const int16_t*& pcm,
                                   int& pcmValueCount);
    [[nodiscard]] int peekFrame(FrameRecord& frame, int& width, int& height) const {
        return queue_.peekFrame(frame, width, height);
    }

    const FrameQueue& queue() const { return queue_; }

    // FrameQueueSource
    bool decodeOnePicture() override;
    DecodeStatus status() const override { return decoder_.status(); }
    void stop(DecodeStatus why) override { decoder_.stop(why); }
    uint32_t currentSector() override;
    bool reseekSilently(uint32_t sector) override;
    void resumeAfterAudioPause() override { decoder_.resumeAfterAudioPause(); }
    void closeDecoder() override { decoder_.closeDecoder(); }
    double cellSumSeconds() const override;
    int64_t anchorVideoPtsMs() const override { return decoder_.timing().anchorVideoPtsMs; }
    uint32_t anchorFrameCount() const override { return decoder_.timing().anchorFrameCount; }

private:
    void openQueue();

    Mpeg2Decoder& decoder_;
    FrameQueue& queue_;
    AudioDecoder* audio_;
    std::unique_ptr<AudioDecoderRoute> route_;
    DecoderOpenParams params_;
    SubpicturePalette palette_{};
};

}  // namespace zembra
