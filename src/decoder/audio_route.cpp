#include "decoder/audio_route.h"

namespace zembra {

void AudioDecoderRoute::attach(Mpeg2Decoder& decoder) { decoder.setAudio(this); }

void AudioDecoderRoute::open(int audioMode, double gain, bool dolby, bool avSynch) {
    AudioSettings s;
    s.audioMode = audioMode;
    s.gain = gain;
    s.dolby = dolby;
    s.avSynch = avSynch;
    audio_.open(s);
}

void AudioDecoderRoute::reseek() {
    audio_.reseek();
    // The PCM still queued was decoded at the old position, and the picture
    // count that the A/V sync compares with starts again from 0: the count
    // of appended samples starts over with it.
    audio_.fifo.clear();
    audio_.appendedCount = 0;
}

void AudioDecoderRoute::setSyncInputs(int64_t lastAudioPtsMs, int64_t videoStartPtsMs,
                                      double sourceRate, bool mpeg2) {
    audio_.sync.lastAudioPtsMs = lastAudioPtsMs;
    audio_.sync.videoStartPtsMs = videoStartPtsMs;
    audio_.sync.sourceFrameRate = sourceRate;
    audio_.sync.mpeg2 = mpeg2;
}

}  // namespace zembra
