#pragma once
// MSB-first bit writer of the encoders (video pictures, Layer II frames).
// Bytes collect in a local buffer that the encoder hands to the stream
// store per picture or frame.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace zembra::mpeg {

class BitWriter {
public:
    // The low `bits` bits of value (0 <= bits <= 32), most significant first.
    void put(std::uint32_t value, int bits) {
        // Fewer than 32 bits wait in the accumulator, so 63 at most after the
        // shift; what lies above them is never written out.
        acc_ = (acc_ << bits) | (value & ((std::uint64_t{1} << bits) - 1));
        accBits_ += bits;
        total_ += bits;
        if (accBits_ >= 32) {
            accBits_ -= 32;
            const std::uint32_t word = static_cast<std::uint32_t>(acc_ >> accBits_);
            // Stored into room made ahead: growing the vector by four bytes
            // a word cost a library call in the coding loop.
            if (filled_ + 4 > bytes_.size()) makeRoom();
            std::uint8_t* b = bytes_.data() + filled_;
            b[0] = static_cast<std::uint8_t>(word >> 24);
            b[1] = static_cast<std::uint8_t>(word >> 16);
            b[2] = static_cast<std::uint8_t>(word >> 8);
            b[3] = static_cast<std::uint8_t>(word);
            filled_ += 4;
        }
    }
    // A burst of short codes written with the writer's state in locals:
    // put() through a member reloads the state after every stored word,
    // since the bytes stored may alias it. startRun() makes room for
    // `maxBits` and endRun() takes the state back; nothing else may write
    // in between.
    class Run {
    public:
        // `value` must fit in `bits` (0 <= bits <= 32). The word is stored
        // whether it is complete or not, and the output moves on only when
        // it is: whether a code completes a word is a branch no predictor
        // guesses well, and the room made ahead takes the stray store.
        void put(std::uint32_t value, int bits) {
            acc_ = (acc_ << bits) | value;
            accBits_ += bits;
            const std::uint32_t word =
                __builtin_bswap32(static_cast<std::uint32_t>(acc_ >> (accBits_ & 31)));
            std::memcpy(out_, &word, 4);
            out_ += (accBits_ >> 5) * 4;
            accBits_ &= 31;
        }

    private:
        friend class BitWriter;
        std::uint64_t acc_;
        int accBits_;
        std::uint8_t* out_;
    };
    Run startRun(int maxBits) {
        if (filled_ + static_cast<std::size_t>(maxBits / 8 + 8) > bytes_.size())
            makeRoom(maxBits / 8 + 8);
        Run r;
        r.acc_ = acc_;
        r.accBits_ = accBits_;
        r.out_ = bytes_.data() + filled_;
        return r;
    }
    void endRun(const Run& r) {
        const std::size_t filled = static_cast<std::size_t>(r.out_ - bytes_.data());
        total_ += static_cast<long long>(filled - filled_) * 8 + r.accBits_ - accBits_;
        acc_ = r.acc_;
        accBits_ = r.accBits_;
        filled_ = filled;
    }

    void align() {
        if (accBits_ & 7) put(0, 8 - (accBits_ & 7));
    }
    void startCode(std::uint32_t code) {
        align();
        put(0x000001, 24);
        put(code & 0xFF, 8);
    }
    long long bits() const { return total_; }
    // Starts again with nothing written, keeping the buffer's capacity.
    void clear() {
        acc_ = 0;
        accBits_ = 0;
        total_ = 0;
        bytes_.clear();
        filled_ = 0;
    }
    bool aligned() const { return (accBits_ & 7) == 0; }
    // Takes the complete bytes written so far. The caller may clear the
    // vector (or leave it): the writer goes on after whatever it holds then.
    std::vector<std::uint8_t>& bytes() {
        if (bytes_.size() > filled_) bytes_.resize(filled_);  // the room made ahead
        while (accBits_ >= 8) {
            accBits_ -= 8;
            bytes_.push_back(static_cast<std::uint8_t>(acc_ >> accBits_));
        }
        filled_ = bytes_.size();
        return bytes_;
    }

private:
    // The vector past `filled_` is room for the next words. Once bytes()
    // handed it out its size is `filled_`, or less if the caller cleared
    // it: either way the next word finds too little room and starts after
    // what the vector holds.
    void makeRoom(int atLeast = 4) {
        filled_ = std::min(filled_, bytes_.size());
        const std::size_t need = filled_ + static_cast<std::size_t>(atLeast);
        bytes_.resize(std::max(need, filled_ < 4096 ? std::size_t{8192} : 2 * filled_));
    }

    std::uint64_t acc_ = 0;
    int accBits_ = 0;  // bits waiting in acc_, below 32
    long long total_ = 0;
    std::vector<std::uint8_t> bytes_;
    std::size_t filled_ = 0;  // bytes written into bytes_
};

}  // namespace zembra::mpeg
