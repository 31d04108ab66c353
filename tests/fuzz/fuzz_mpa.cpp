// MPEG audio frame search, assembly and Layer I/II parsing over arbitrary
// bytes, plus the header probe of the stream scan.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/audio_decoder.h"
#include "audio/mpa_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t piece = 1 + (data[0] & 0x7f) * 23;
    std::vector<uint8_t> bytes(data + 1, data + size);
    std::string text;
    zembra::AudioDecoder::mpaProbe(bytes.data(), bytes.size(), text);
    zembra::MpaDecoder dec;
    dec.start();
    int16_t out[zembra::MpaDecoder::kMaxFrameSamples * 2];
    int rate = 0;
    for (size_t pos = 0; pos < bytes.size(); pos += piece) {
        size_t len = std::min(piece, bytes.size() - pos);
        std::vector<uint8_t> chunk(bytes.begin() + long(pos), bytes.begin() + long(pos + len));
        const uint8_t* p = chunk.data();
        size_t left = chunk.size();
        while (left > 0) dec.decodeNext(p, left, out, rate);
    }
    return 0;
}
