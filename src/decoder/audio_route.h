#pragma once
// The audio decoders of the audio module behind the decoder's AudioRoute:
// the demultiplexer's payloads, time stamps and sync anchors go to one
// AudioDecoder, whose PCM FIFO the frame queue drains.

#include "audio/audio_decoder.h"
#include "decoder/mpeg2_decoder.h"

namespace zembra {

class AudioDecoderRoute : public AudioRoute {
public:
    explicit AudioDecoderRoute(AudioDecoder& audio) : audio_(audio) {}
    // Plugs this route into the decoder; a FIFO overflow comes back as the
    // payload calls' status and ends decoding.
    void attach(Mpeg2Decoder& decoder);

    void open(int audioMode, double gain, bool dolby, bool avSynch) override;
    void reseek() override;
    void setAudioWanted(bool wanted) override { audio_.setAudioWanted(wanted); }
    void setSyncInputs(int64_t lastAudioPtsMs, int64_t videoStartPtsMs, double sourceRate,
                       bool mpeg2) override;
    void setAnchor(uint32_t frameCount, int64_t videoPtsMs) override {
        audio_.setAnchor(frameCount, videoPtsMs);
    }
    void ac3Start() override { audio_.ac3Start(); }
    DecodeStatus ac3Payload(const uint8_t* data, size_t length) override {
        return audio_.ac3Payload(data, length);
    }
    void mpaStart() override { audio_.mpaStart(); }
    DecodeStatus mpaPayload(const uint8_t* data, size_t length) override {
        return audio_.mpaPayload(data, length);
    }
    DecodeStatus lpcmPayload(const uint8_t* data, size_t length) override {
        return audio_.lpcmPayload(data, length);
    }
    bool mpaProbe(const uint8_t* data, size_t length, std::string& text) override {
        return AudioDecoder::mpaProbe(data, length, text);
    }
    int sampleRate() const override { return audio_.sampleRate(); }
    // Room for the sound of one more packet: a 2048-byte packet of AC-3 at
    // its lowest bit rate holds 16 frames, 49152 values.
    bool backlogged() const override { return audio_.fifo.fill > PcmFifo::kCapacity - kPacketRoom; }
    static constexpr int kPacketRoom = 60000;

private:
    AudioDecoder& audio_;
};

}  // namespace zembra
