#include "decoder/audio_route.h"

namespace zembra {

void AudioDecoderRoute::attach(Mpeg2Decoder& decoder) {
    audio_.bindFault(&decoder.fault);
    decoder.setAudio(this);
}

void AudioDecoderRoute::open(int audioMode, double gain, bool dolby, bool avSynch) {
    AudioSettings s;
    s.audioMode = audioMode;
    s.gain = gain;
    s.dolby = dolby;
    s.avSynch = avSynch;
    audio_.open(s);
}

void AudioDecoderRoute::setSyncInputs(int64_t lastAudioPtsMs, int64_t videoStartPtsMs,
                                      double sourceRate, bool mpeg2) {
    audio_.sync.lastAudioPtsMs = lastAudioPtsMs;
    audio_.sync.videoStartPtsMs = videoStartPtsMs;
    audio_.sync.sourceFrameRate = sourceRate;
    audio_.sync.mpeg2 = mpeg2;
}

}  // namespace zembra
