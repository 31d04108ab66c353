#include "audio/pcm_fifo.h"

#include <algorithm>
#include <cstring>

namespace zembra {

bool PcmFifo::append(const int16_t* values, int count) {
    if (count < 0 || count > kCapacity - fill) return false;
    std::memcpy(data.data() + fill, values, size_t(count) * sizeof(int16_t));
    fill += count;
    return true;
}

int PcmFifo::take(int16_t* out, int count) {
    int n = std::clamp(count, 0, fill);
    if (out && n) std::memcpy(out, data.data(), size_t(n) * sizeof(int16_t));
    std::memmove(data.data(), data.data() + n, size_t(fill - n) * sizeof(int16_t));
    fill -= n;
    return n;
}

int PcmFifo::force(int values) {
    int target = std::clamp(values, 0, kCapacity);
    if (target > fill) std::fill(data.begin() + fill, data.begin() + target, int16_t(0));
    int change = target - fill;
    fill = target;
    return change;
}

}  // namespace zembra
