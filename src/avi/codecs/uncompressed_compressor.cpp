// The built-in "compressors" that store pictures as they come: RGB rows
// ("DIB ") and packed YUY2. Every frame is a key frame.

#include <cstdlib>
#include <cstring>

#include "avi/codecs/builtin_compressors.h"

namespace zembra::avi {

namespace {

class Uncompressed : public VideoCompressor {
public:
    explicit Uncompressed(bool yuy2)
        : yuy2_(yuy2), info_(yuy2 ? uncompressedYuy2Info() : uncompressedRgbInfo()) {}

    const CompressorInfo& info() const override { return info_; }

    bool queryInput(const BitmapInfoHeader& in) override {
        if (in.width <= 0 || in.height == 0 || in.planes != 1) return false;
        if (yuy2_) return in.compression == kCompressionYuy2 && in.bitCount == 16;
        return in.compression == kBiRgb && (in.bitCount == 24 || in.bitCount == 32);
    }
    BitmapInfoHeader outputFormat(const BitmapInfoHeader& in) override { return in; }

    size_t stateSize() override { return 0; }
    std::vector<uint8_t> getState() override { return {}; }
    bool setState(const std::vector<uint8_t>& state) override { return state.empty(); }
    // Nothing to set: only an empty edit succeeds.
    bool configure(const std::string& keyValues) override {
        return keyValues.find_first_not_of(" \t\r\n") == std::string::npos;
    }

    void framesInfo(uint32_t, uint32_t, int) override {}
    bool start(const BitmapInfoHeader& in) override {
        if (!queryInput(in)) return false;
        frameBytes_ = size_t(in.width) * size_t(std::abs(in.height)) * (in.bitCount / 8);
        return true;
    }
    bool compress(const uint8_t* bits, std::vector<uint8_t>& out, bool& keyFrame) override {
        if (bits == nullptr || frameBytes_ == 0) return false;
        out.assign(bits, bits + frameBytes_);
        keyFrame = true;
        return true;
    }
    void end() override { frameBytes_ = 0; }

private:
    bool yuy2_;
    CompressorInfo info_;
    size_t frameBytes_ = 0;
};

}  // namespace

CompressorInfo uncompressedRgbInfo() {
    return {kTypeVideo, kHandlerDib, "Uncompressed RGB", "Full frames (uncompressed RGB)"};
}
CompressorInfo uncompressedYuy2Info() {
    return {kTypeVideo, kHandlerYuy2, "Uncompressed YUY2", "Full frames (uncompressed YUY2)"};
}

std::unique_ptr<VideoCompressor> makeUncompressedRgb() {
    return std::make_unique<Uncompressed>(false);
}
std::unique_ptr<VideoCompressor> makeUncompressedYuy2() {
    return std::make_unique<Uncompressed>(true);
}

}  // namespace zembra::avi
