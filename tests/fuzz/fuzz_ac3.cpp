// AC-3 frame search, assembly and parsing over arbitrary bytes. The first
// byte picks the piece size and the downmix, so packet boundaries and every
// channel mode are exercised.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "audio/ac3_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t piece = 1 + (data[0] & 0x3f) * 37;
    zembra::Ac3Decoder dec;
    dec.start();
    dec.setGain(3.0);
    dec.setDolby(data[0] & 0x40);
    // Exact-size copies so that any over-read is caught.
    std::vector<uint8_t> bytes(data + 1, data + size);
    int16_t out[zembra::Ac3Decoder::kFrameSamples * 2];
    for (size_t pos = 0; pos < bytes.size(); pos += piece) {
        size_t len = std::min(piece, bytes.size() - pos);
        std::vector<uint8_t> chunk(bytes.begin() + long(pos), bytes.begin() + long(pos + len));
        const uint8_t* p = chunk.data();
        size_t left = chunk.size();
        while (left > 0) dec.decodeNext(p, left, out);
    }
    // Also with the CRC mended, so that damaged frames reach the parser.
    if (bytes.size() >= 5) {
        int len = zembra::Ac3Decoder::frameBytes(bytes[4] >> 6, bytes[4] & 63);
        if (len > 0 && size_t(len) <= bytes.size()) {
            std::vector<uint8_t> frame(bytes.begin(), bytes.begin() + len);
            frame[0] = 0x0b, frame[1] = 0x77;
            uint16_t crc = zembra::Ac3Decoder::crc16(&frame[2], size_t(len) - 4);
            frame[size_t(len) - 2] = uint8_t(crc >> 8), frame[size_t(len) - 1] = uint8_t(crc);
            const uint8_t* p = frame.data();
            size_t left = frame.size();
            zembra::Ac3Decoder again;
            while (left > 0) again.decodeNext(p, left, out);
        }
    }
    return 0;
}
