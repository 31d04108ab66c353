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
        if (bytes_.size() + n > kCapacity) {
            overflowed_ = true;
            bytes_.clear();
            return false;
        }
        bytes_.insert(bytes_.end(), data, data + n);
        return true;
    }
    std::size_t size() const { return bytes_.size(); }
    const std::uint8_t* data() const { return bytes_.data(); }
    // Copies up to n bytes from the front into dst and removes them.
    std::size_t take(std::uint8_t* dst, std::size_t n) {
        n = n < bytes_.size() ? n : bytes_.size();
        if (n == 0) return 0;
        std::memcpy(dst, bytes_.data(), n);
        bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(n));
        return n;
    }
    bool overflowed() const { return overflowed_; }
    void clear() {
        bytes_.clear();
        overflowed_ = false;
    }

private:
    std::vector<std::uint8_t> bytes_;
    bool overflowed_ = false;
};

}  // namespace zembra
