// MPEG-4 ASP (Xvid) through libxvidcore: one pass by bit rate or constant
// quantiser, or two passes with the library's statistics-file plugins. No
// B-frames, so every picture handed in gives its frame at once, as the AVI
// writer expects.

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numeric>

#include "avi/codecs/builtin_compressors.h"
#include "avi/codecs/xvid_api.h"
#include "avi/codecs/xvid_settings.h"

namespace zembra::avi {

namespace {

// Motion search and picture coding tools per quality preset 0..6.
constexpr int kMotionPresets[7] = {
    0,
    xvid::kMeAdvancedDiamond16,
    xvid::kMeAdvancedDiamond16 | xvid::kMeHalfpelRefine16,
    xvid::kMeAdvancedDiamond16 | xvid::kMeHalfpelRefine16 | xvid::kMeAdvancedDiamond8 |
        xvid::kMeHalfpelRefine8,
    xvid::kMeAdvancedDiamond16 | xvid::kMeHalfpelRefine16 | xvid::kMeAdvancedDiamond8 |
        xvid::kMeHalfpelRefine8 | xvid::kMeChromaPvop | xvid::kMeChromaBvop,
    xvid::kMeAdvancedDiamond16 | xvid::kMeHalfpelRefine16 | xvid::kMeAdvancedDiamond8 |
        xvid::kMeHalfpelRefine8 | xvid::kMeChromaPvop | xvid::kMeChromaBvop,
    xvid::kMeAdvancedDiamond16 | xvid::kMeHalfpelRefine16 | xvid::kMeExtSearch16 |
        xvid::kMeAdvancedDiamond8 | xvid::kMeHalfpelRefine8 | xvid::kMeExtSearch8 |
        xvid::kMeChromaPvop | xvid::kMeChromaBvop,
};
constexpr int kVopPresets[7] = {
    0,
    0,
    xvid::kVopHalfpel,
    xvid::kVopHalfpel | xvid::kVopInter4v,
    xvid::kVopHalfpel | xvid::kVopInter4v,
    xvid::kVopHalfpel | xvid::kVopInter4v | xvid::kVopTrellisquant,
    xvid::kVopHalfpel | xvid::kVopInter4v | xvid::kVopTrellisquant | xvid::kVopHqacpred,
};

class XvidCompressor : public VideoCompressor {
public:
    explicit XvidCompressor(const xvid::Api& api) : api_(api), info_(xvidInfo()) {}
    ~XvidCompressor() override { end(); }

    const CompressorInfo& info() const override { return info_; }

    // MPEG-4 states each side of the picture in 13 bits.
    bool queryInput(const BitmapInfoHeader& in) override {
        return colourSpace(in) != 0 && in.width <= 8191 && std::abs(in.height) <= 8191;
    }

    BitmapInfoHeader outputFormat(const BitmapInfoHeader& in) override {
        BitmapInfoHeader out;
        out.width = in.width;
        out.height = std::abs(in.height);
        out.bitCount = 24;
        out.compression = kCompressionXvid;
        out.sizeImage = uint32_t(out.width) * uint32_t(out.height) * 3;
        return out;
    }

    size_t stateSize() override { return XvidSettings::kStateSize; }
    std::vector<uint8_t> getState() override { return settings_.state(); }
    bool setState(const std::vector<uint8_t>& state) override { return settings_.loadState(state); }
    bool configure(const std::string& keyValues) override { return settings_.edit(keyValues); }
    void useStatsFile(const std::string& path) override { runStats_ = path; }
    void useThreads(int count) override { threads_ = std::max(count, 1); }

    void framesInfo(uint32_t rate, uint32_t scale, int keyRate) override {
        if (rate > 0 && scale > 0) {
            // 25000/1000 becomes 25/1: the stream's time resolution stays small.
            uint32_t g = std::gcd(rate, scale);
            rate_ = rate / g;
            scale_ = scale / g;
        }
        if (keyRate > 0) keyRate_ = keyRate;
    }

    bool start(const BitmapInfoHeader& in) override {
        end();
        csp_ = colourSpace(in);
        if (csp_ == 0) return false;
        width_ = in.width;
        height_ = std::abs(in.height);
        bytesPerPixel_ = in.bitCount / 8;

        statsPath_ =
            settings_.stats.empty() && !runStats_.empty() ? runStats_ : settings_.statsPath();
        // The library carries on without its statistics file; refuse instead,
        // so a two-pass run never silently makes a wrong file.
        if (settings_.pass == 1 && !std::ofstream(statsPath_, std::ios::app)) return false;
        if (settings_.pass == 2) {
            std::error_code ec;
            if (std::filesystem::file_size(statsPath_, ec) == 0 || ec) return false;
        }
        xvid::EncPlugin plugin{};
        xvid::PluginSingle single{};
        xvid::Plugin2Pass1 pass1{};
        xvid::Plugin2Pass2 pass2{};
        int plugins = 0;
        if (settings_.pass == 1) {
            pass1.version = xvid::kVersion;
            pass1.filename = statsPath_.data();
            plugin = {api_.pass1, &pass1};
            plugins = 1;
        } else if (settings_.pass == 2) {
            pass2.version = xvid::kVersion;
            pass2.bitrate = settings_.bitrate * 1000;
            pass2.filename = statsPath_.data();
            // A firmer pay-back of the difference between planned and real
            // frame sizes than the library's default (5 %): without it a
            // half-minute title misses its bit rate by 5 % or more.
            pass2.overflow_control_strength = 10;
            pass2.max_overflow_improvement = 60;
            pass2.max_overflow_degradation = 60;
            // Each AVI frame also costs its chunk header and index entry.
            pass2.container_frame_overhead = 24;
            plugin = {api_.pass2, &pass2};
            plugins = 1;
        } else if (settings_.quantizer == 0) {
            single.version = xvid::kVersion;
            single.bitrate = settings_.bitrate * 1000;
            plugin = {api_.single, &single};
            plugins = 1;
        }

        xvid::EncCreate create{};
        create.version = xvid::kVersion;
        create.width = width_;
        create.height = height_;
        create.num_plugins = plugins;
        create.plugins = plugins ? &plugin : nullptr;
        // The library splits motion search among its own threads; with more
        // than one the frames may differ from a single-threaded run's.
        create.num_threads = threads_;
        create.max_bframes = 0;  // one picture in, one frame out
        create.fincr = int(scale_);
        create.fbase = int(rate_);
        create.max_key_interval = settings_.keyint > 0 ? settings_.keyint : keyRate_;
        // The plugins copy what they need during creation.
        if (api_.encore(nullptr, xvid::kEncCreate, &create, nullptr) < 0 ||
            create.handle == nullptr)
            return false;
        handle_ = create.handle;
        buffer_.resize(size_t(width_) * size_t(height_) * 4 + 65536);
        return true;
    }

    bool compress(const uint8_t* bits, std::vector<uint8_t>& out, bool& keyFrame) override {
        if (handle_ == nullptr || bits == nullptr) return false;
        xvid::EncFrame frame{};
        frame.version = xvid::kVersion;
        frame.input.csp = csp_;
        frame.input.plane[0] = const_cast<uint8_t*>(bits);
        frame.input.stride[0] = width_ * bytesPerPixel_;
        frame.vop_flags = kVopPresets[settings_.quality];
        frame.motion = kMotionPresets[settings_.quality];
        frame.type = xvid::kTypeAuto;
        if (settings_.quantizer > 0 && settings_.pass == 0)
            frame.quant = settings_.quantizer;
        else if (settings_.pass == 1)
            frame.quant = settings_.quantizer > 0 ? settings_.quantizer : 2;
        frame.bitstream = buffer_.data();
        frame.length = int(buffer_.size());
        xvid::EncStats stats{};
        stats.version = xvid::kVersion;
        int n = api_.encore(handle_, xvid::kEncEncode, &frame, &stats);
        if (n < 0) return false;
        out.assign(buffer_.begin(), buffer_.begin() + n);
        keyFrame = (frame.out_flags & xvid::kKeyframe) != 0;
        return true;
    }

    void end() override {
        // Destroying the encoder is what writes out a first pass's statistics.
        if (handle_ != nullptr) api_.encore(handle_, xvid::kEncDestroy, nullptr, nullptr);
        handle_ = nullptr;
    }

private:
    // Xvid takes even sizes; RGB with a positive height is stored bottom-up.
    static int colourSpace(const BitmapInfoHeader& in) {
        if (in.width <= 0 || in.height == 0 || in.planes != 1) return 0;
        if (in.width % 2 != 0 || std::abs(in.height) % 2 != 0) return 0;
        if (in.width > 4096 || std::abs(in.height) > 4096) return 0;
        int flip = in.height > 0 ? xvid::kCspVflip : 0;
        if (in.compression == kBiRgb && in.bitCount == 24) return xvid::kCspBgr | flip;
        if (in.compression == kBiRgb && in.bitCount == 32) return xvid::kCspBgra | flip;
        if (in.compression == kCompressionYuy2 && in.bitCount == 16 && in.height > 0)
            return xvid::kCspYuy2;
        return 0;
    }

    const xvid::Api& api_;
    CompressorInfo info_;
    XvidSettings settings_;
    uint32_t rate_ = 25, scale_ = 1;
    int keyRate_ = 15;
    int csp_ = 0, width_ = 0, height_ = 0, bytesPerPixel_ = 0;
    std::string statsPath_;
    std::string runStats_;
    int threads_ = 1;
    void* handle_ = nullptr;
    std::vector<uint8_t> buffer_;
};

}  // namespace

CompressorInfo xvidInfo() {
    return {kTypeVideo, kHandlerXvid, "Xvid MPEG-4", "Xvid MPEG-4 ASP (libxvidcore)"};
}

std::unique_ptr<VideoCompressor> makeXvidCompressor() {
    const xvid::Api* api = xvid::api();
    if (api == nullptr) return nullptr;
    return std::make_unique<XvidCompressor>(*api);
}

}  // namespace zembra::avi
