#include "audio/lpcm_frames.h"

#include <algorithm>
#include <cmath>

#include "platform/byte_order.h"

namespace zembra {

namespace {

// A windowed-sinc low-pass for 96 kHz input (cut-off 21.5 kHz, Blackman
// window): flat through the audible band, and down by more than 60 dB at
// 30 kHz (the test measures it), so that little above the 48 kHz band folds
// back into it. Its taps sum to 1, so a steady level keeps its value.
const std::array<float, LpcmFrames::kTaps>& lowPassTaps() {
    constexpr int n = LpcmFrames::kTaps;
    static const std::array<float, n> taps = [] {
        std::array<double, n> h{};
        const double middle = (n - 1) / 2.0, cutoff = 21500.0 / 96000.0;
        double sum = 0;
        for (int i = 0; i < n; ++i) {
            const double x = i - middle;
            const double sinc = x == 0 ? 2 * cutoff : std::sin(2 * M_PI * cutoff * x) / (M_PI * x);
            const double window = 0.42 - 0.5 * std::cos(2 * M_PI * i / (n - 1)) +
                                  0.08 * std::cos(4 * M_PI * i / (n - 1));
            h[size_t(i)] = sinc * window;
            sum += h[size_t(i)];
        }
        std::array<float, n> out{};
        for (int i = 0; i < n; ++i) out[size_t(i)] = float(h[size_t(i)] / sum);
        return out;
    }();
    return taps;
}

int16_t clampSample(float v) { return int16_t(std::clamp(std::lround(v), -32768L, 32767L)); }

}  // namespace

LpcmFrames::Format LpcmFrames::formatOf(uint8_t byte) {
    Format f;
    const int word = byte >> 6;
    f.bits = word == 0 ? 16 : word == 1 ? 20 : 24;
    f.rate = ((byte >> 4) & 3) == 1 ? 96000 : 48000;
    f.channels = (byte & 7) + 1;
    return f;
}

void LpcmFrames::reset() {
    format_ = Format{};
    carry_.clear();
    left_ = {};
    right_ = {};
    oddInput_ = false;
}

size_t LpcmFrames::groupBytes() const {
    const size_t channels = size_t(format_.channels);
    switch (format_.bits) {
        case 20:
            return 5 * channels;
        case 24:
            return 6 * channels;
        default:
            return 2 * channels;
    }
}

void LpcmFrames::decode(const uint8_t* data, size_t length, std::vector<int16_t>& out) {
    constexpr size_t kHeaderBytes = 6;
    if (length <= kHeaderBytes) return;
    const Format format = formatOf(data[4]);
    if (!(format == format_)) {
        // A new format starts on this packet: what was left of the old one
        // cannot be finished.
        carry_.clear();
        format_ = format;
    }
    data += kHeaderBytes;
    length -= kHeaderBytes;
    const size_t group = groupBytes();
    size_t i = 0;
    if (!carry_.empty()) {
        const size_t take = std::min(group - carry_.size(), length);
        carry_.insert(carry_.end(), data, data + take);
        i = take;
        if (carry_.size() < group) return;
        takeGroup(carry_.data(), out);
        carry_.clear();
    }
    for (; i + group <= length; i += group) takeGroup(data + i, out);
    carry_.assign(data + i, data + length);
}

void LpcmFrames::takeGroup(const uint8_t* group, std::vector<int16_t>& out) {
    // Each sample's upper 16 bits, big-endian, channel by channel: the low
    // bits of 20 and 24-bit samples follow the group's upper words.
    const int channels = format_.channels;
    const int frames = format_.bits == 16 ? 1 : 2;
    for (int f = 0; f < frames; ++f) {
        const uint8_t* frame = group + size_t(f) * size_t(channels) * 2;
        const int16_t left = int16_t(readBe16(frame));
        const int16_t right = channels > 1 ? int16_t(readBe16(frame + 2)) : left;
        put(left, right, out);
    }
}

void LpcmFrames::put(int16_t left, int16_t right, std::vector<int16_t>& out) {
    if (format_.rate == 48000) {
        out.push_back(left);
        out.push_back(right);
        return;
    }
    left_.push(left);
    right_.push(right);
    oddInput_ = !oddInput_;
    if (oddInput_) return;
    out.push_back(clampSample(left_.filtered()));
    out.push_back(clampSample(right_.filtered()));
}

void LpcmFrames::Halver::push(int16_t sample) {
    history[size_t(next)] = sample;
    next = (next + 1) % kTaps;
}

float LpcmFrames::Halver::filtered() const {
    const auto& taps = lowPassTaps();
    float sum = 0;
    for (int k = 0; k < kTaps; ++k) sum += taps[size_t(k)] * history[size_t((next + k) % kTaps)];
    return sum;
}

}  // namespace zembra
