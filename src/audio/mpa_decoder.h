#pragma once
// MPEG audio decoder for Layers I and II (ISO/IEC 11172-3 and the half-rate
// extension of ISO/IEC 13818-3). Frames are assembled across calls; Layer III
// frames are recognised and skipped.

#include <array>
#include <cstddef>
#include <cstdint>

namespace zembra {

struct MpaHeader {
    int version = 1;  // 1 = MPEG-1, 2 = half-rate extension (MPEG-2 LSF)
    int layer = 2;    // 1, 2 or 3
    bool crc = false;
    int bitrateIndex = 0;
    int bitrate = 0;  // kbit/s
    int sampleRate = 0;
    bool padding = false;
    int mode = 0;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
    int modeExtension = 0;
    int channels() const { return mode == 3 ? 1 : 2; }
    // Whole frame length in bytes, header included (0 for free format).
    int frameBytes() const;
    int samplesPerFrame() const;
};

// Valid when sync bits are all ones, layer code not 0, bitrate index not 15
// and sampling code not 3.
bool parseMpaHeader(uint32_t word, MpaHeader& header);

class MpaDecoder {
public:
    static constexpr int kMaxFrameSamples = 1152;
    static constexpr int kMaxFrameBytes = 2900;

    void start();
    // Consumes bytes until one frame has been decoded into `out` (up to 2304
    // values) or the bytes run out; returns the sample frames produced and
    // the frame's rate, or 0.
    int decodeNext(const uint8_t*& data, size_t& length, int16_t* out, int& sampleRate);

    int framesDecoded() const { return framesDecoded_; }
    const MpaHeader& lastHeader() const { return header_; }

private:
    int decodeFrame(int16_t* out);
    int decodeLayer1(int16_t* out);
    int decodeLayer2(int16_t* out);
    void synthesis(int ch, const float* samples32, int16_t* out, int stride);

    std::array<uint8_t, kMaxFrameBytes> frame_{};
    int have_ = 0;
    int need_ = 0;
    uint32_t shift_ = 0;
    int shiftCount_ = 0;
    MpaHeader header_;
    int framesDecoded_ = 0;

    float v_[2][16][64] = {};  // synthesis buffers: 16 slots of 64 values
    int slot_[2] = {};
};

}  // namespace zembra
