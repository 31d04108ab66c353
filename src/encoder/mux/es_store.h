#pragma once
// A 1 MiB store of one elementary stream: the encoder appends its bytes at
// the back, the multiplexer takes them from the front and the rest moves
// down. Once the store has been completely full it refuses every later byte
// until it is cleared, so a stream never resumes with a hole in it.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace zembra {

class EsStore {
public:
    static constexpr std::size_t kCapacity = 1048576;

    EsStore() { bytes_.reserve(kCapacity); }

    // False when the bytes do not fit; the store is then marked full and
    // emptied (the writer reports "Data buffer full.." once).
    [[nodiscard]] bool append(const std::uint8_t* data, std::size_t n) {
        if (overflowed_) return false;
        if (size() + n > kCapacity) {
            overflowed_ = true;
            bytes_.clear();
            head_ = 0;
            return false;
        }
        if (bytes_.size() + n > kCapacity) compact();
        bytes_.insert(bytes_.end(), data, data + n);
        return true;
    }
    std::size_t size() const { return bytes_.size() - head_; }
    const std::uint8_t* data() const { return bytes_.data() + head_; }
    // Copies up to n bytes from the front into dst and removes them.
    std::size_t take(std::uint8_t* dst, std::size_t n) {
        n = n < size() ? n : size();
        if (n == 0) return 0;
        std::memcpy(dst, data(), n);
        head_ += n;
        // The taken bytes stay in front until they outweigh the rest, so
        // each byte is moved down at most about once.
        if (head_ == bytes_.size()) {
            bytes_.clear();
            head_ = 0;
        } else if (head_ >= kCompactAt && head_ >= size()) {
            compact();
        }
        return n;
    }
    bool overflowed() const { return overflowed_; }
    void clear() {
        bytes_.clear();
        head_ = 0;
        overflowed_ = false;
    }

private:
    static constexpr std::size_t kCompactAt = 65536;
    void compact() {
        bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }

    std::vector<std::uint8_t> bytes_;  // bytes_[head_..] are the stored bytes
    std::size_t head_ = 0;
    bool overflowed_ = false;
};

}  // namespace zembra
