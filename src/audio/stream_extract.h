#pragma once
// Whole-file audio decoding for checking tools and tests: an AC-3 or MPEG
// audio elementary stream, or one audio track of a program stream, run
// through an AudioDecoder into one PCM buffer (the FIFO is drained as it
// fills, and the resampler flushed at the end).

#include <cstdint>
#include <vector>

namespace zembra {

class AudioDecoder;

enum class ExtractKind { Ac3, Mpa };

void decodeElementaryStream(const std::vector<uint8_t>& in, ExtractKind kind, AudioDecoder& dec,
                            std::vector<int16_t>& out);
// Track 0-7: AC-3 substream 0x80+track, LPCM 0xA0+track, MPEG audio stream
// 0xC0+track. The first video PTS becomes the start anchor.
void decodeProgramStreamAudio(const std::vector<uint8_t>& in, int track, AudioDecoder& dec,
                              std::vector<int16_t>& out);

}  // namespace zembra
