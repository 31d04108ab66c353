#pragma once
// MSB-first bit writer for the video elementary stream. Bytes collect in a
// local buffer that the encoder hands to the stream store per picture.

#include <cstdint>
#include <vector>

namespace zembra {

class BitWriter {
public:
    void put(std::uint32_t value, int bits) {
        // bits <= 32
        for (int left = bits; left > 0;) {
            int n = left > 24 ? left - 24 : left;
            left -= n;
            std::uint32_t part = (value >> left) & ((1u << n) - 1);
            acc_ = (acc_ << n) | part;
            accBits_ += n;
            total_ += n;
            while (accBits_ >= 8) {
                accBits_ -= 8;
                bytes_.push_back(static_cast<std::uint8_t>(acc_ >> accBits_));
            }
            acc_ &= (1u << accBits_) - 1;
        }
    }
    void align() {
        if (accBits_) put(0, 8 - accBits_);
    }
    void startCode(std::uint32_t code) {
        align();
        put(0x000001, 24);
        put(code & 0xFF, 8);
    }
    long long bits() const { return total_; }
    bool aligned() const { return accBits_ == 0; }
    // Takes the complete bytes written so far.
    std::vector<std::uint8_t>& bytes() { return bytes_; }

private:
    std::uint32_t acc_ = 0;
    int accBits_ = 0;
    long long total_ = 0;
    std::vector<std::uint8_t> bytes_;
};

}  // namespace zembra
