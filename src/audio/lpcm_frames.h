#pragma once
// DVD LPCM as titles carry it: 16, 20 or 24-bit samples at 48 or 96 kHz,
// one to eight channels, each packet's 6-byte header saying which. Turned
// into the 16-bit stereo at 48 kHz that the rest of the sound path takes:
// the upper 16 bits of each sample, the front pair of a multichannel track
// (a mono track on both sides), 96 kHz halved through a low-pass filter.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zembra {

class LpcmFrames {
public:
    static constexpr int kTaps = 63;  // of the 96 kHz low-pass
    struct Format {
        int bits = 16;  // 16, 20 or 24
        int rate = 48000;
        int channels = 2;
        bool operator==(const Format&) const = default;
    };
    // The format byte of the header (its fifth byte): word length, rate and
    // channel count. Reserved codes are read as their nearest meaning.
    static Format formatOf(uint8_t byte);

    // One packet's payload, header included; its stereo pairs are appended to
    // `out`. A sample group cut by the packet's end waits for the next one.
    void decode(const uint8_t* data, size_t length, std::vector<int16_t>& out);
    void reset();

private:
    // Bytes of one group: a sample frame at 16 bits, two at 20 and 24 bits
    // (their upper 16 bits first, then the low bits of the same samples).
    size_t groupBytes() const;
    void takeGroup(const uint8_t* group, std::vector<int16_t>& out);
    void put(int16_t left, int16_t right, std::vector<int16_t>& out);

    // 96 kHz input: low-passed, every second sample kept.
    struct Halver {
        std::array<float, kTaps> history{};
        int next = 0;
        void push(int16_t sample);
        float filtered() const;
    };

    Format format_;
    std::vector<uint8_t> carry_;
    Halver left_, right_;
    bool oddInput_ = false;
};

}  // namespace zembra
