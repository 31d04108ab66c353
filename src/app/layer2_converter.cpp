#include "app/layer2_converter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "encoder/layer2/layer2_encoder.h"
#include "encoder/mux/es_store.h"
#include "platform/byte_order.h"
#include "platform/ui_host.h"

namespace zembra {

namespace {

constexpr int kRate = 44100;
constexpr const char* kDriverName = "MPEG Layer II";
constexpr const char* kTagName = "MPEG Layer-2";

// Layer II bit rates allowed for stereo, with their table index.
struct Rate {
    int kbps, index;
};
constexpr Rate kRates[] = {{64, 4},   {96, 6},   {112, 7},  {128, 8},  {160, 9},
                           {192, 10}, {224, 11}, {256, 12}, {320, 13}, {384, 14}};

// The converter reports failure through its result; the encoder's boxes
// would come from a converter the user never sees, so they are dropped.
class SilentHost : public UiHost {
public:
    BoxAnswer messageBox(BoxKind kind, const std::string&) override {
        return kind == BoxKind::Question ? BoxAnswer::No : BoxAnswer::Ok;
    }
    void pumpMessages() override {}
    void setStatus(const std::string&) override {}
    void setProgress(int, int) override {}
};

class Layer2Converter : public avi::AudioConverter {
public:
    explicit Layer2Converter(int index) : encoder_(host_), index_(index) {}

    bool start() {
        Layer2Settings s;
        s.bitrateIndex = index_;
        return encoder_.audioStart(s, store_, [](const AudioUnit&) { return Status{}; }).ok();
    }

    bool convert(const uint8_t* src, size_t srcLen, std::vector<uint8_t>& out,
                 size_t& srcUsed) override {
        srcUsed = 0;
        if (!encoder_.running()) return false;
        const size_t whole = srcLen / 4 * 4;
        // The PCM store holds at most 100000 values: feed it in pieces.
        constexpr size_t kChunkBytes = 32768;
        std::vector<int16_t> values;
        for (size_t at = 0; at < whole; at += kChunkBytes) {
            const size_t n = std::min(kChunkBytes, whole - at);
            values.resize(n / 2);
            std::memcpy(values.data(), src + at, n);
            if (!pcm_.append(values.data(), values.size())) return false;
            while (pcm_.size() >= size_t(Layer2Encoder::kFrameValues))
                if (!encoder_.audioEncodeFrame(pcm_)) return false;
            take(out);
            srcUsed = at + n;
        }
        return true;
    }

    bool flush(std::vector<uint8_t>& out) override {
        if (!encoder_.running()) return false;
        bool ok = true;
        if (pcm_.size() > 0) ok = encoder_.audioEncodeFrame(pcm_, true).ok();
        take(out);
        encoder_.audioEnd();
        return ok;
    }

    size_t destinationSize(size_t srcLen) override {
        const size_t frames = (pcm_.size() + srcLen / 2) / Layer2Encoder::kFrameValues + 1;
        // 1152 samples at 384 kbit/s and 44.1 kHz: 1253.9 bytes, plus padding.
        return frames * 1254 + 1;
    }

private:
    void take(std::vector<uint8_t>& out) {
        const size_t n = store_.size();
        const size_t start = out.size();
        out.resize(start + n);
        store_.take(out.data() + start, n);
    }

    SilentHost host_;
    EsStore store_;
    PcmStore pcm_;
    Layer2Encoder encoder_;
    int index_;
};

}  // namespace

avi::WaveFormat layer2WaveFormat(int kbps) {
    avi::WaveFormat w;
    w.formatTag = avi::kWaveFormatMpeg;
    w.channels = 2;
    w.samplesPerSec = kRate;
    w.avgBytesPerSec = uint32_t(kbps) * 1000 / 8;
    w.blockAlign = 1;  // frames of 44.1 kHz streams differ by the padding slot
    w.bitsPerSample = 0;
    // MPEG1WAVEFORMAT: layer, bit rate, mode, mode extension, emphasis,
    // flags, PTS low and high.
    w.extra.assign(22, 0);
    writeLe16(w.extra.data() + 0, 2);                      // ACM_MPEG_LAYER2
    writeLe32(w.extra.data() + 2, uint32_t(kbps) * 1000);  // dwHeadBitrate
    writeLe16(w.extra.data() + 6, 1);                      // ACM_MPEG_STEREO
    writeLe16(w.extra.data() + 8, 0);                      // fwHeadModeExt
    writeLe16(w.extra.data() + 10, 1);                     // no emphasis
    writeLe16(w.extra.data() + 12, 0x10);                  // ACM_MPEG_ID_MPEG1
    return w;
}

avi::AudioConverterDriver layer2ConverterDriver() {
    avi::AudioConverterDriver d;
    d.name = kDriverName;
    d.formats = [](int rate) {
        std::vector<avi::AudioFormatChoice> list;
        if (rate != kRate) return list;  // the encoder codes 44.1 kHz only
        for (const Rate& r : kRates)
            list.push_back({kTagName, std::to_string(r.kbps) + " kBit/s, 44.100 kHz, Stereo",
                            layer2WaveFormat(r.kbps)});
        return list;
    };
    d.open = [](const avi::WaveFormat& dst, int rate) -> std::unique_ptr<avi::AudioConverter> {
        if (rate != kRate || dst.formatTag != avi::kWaveFormatMpeg) return nullptr;
        for (const Rate& r : kRates) {
            if (!(dst == layer2WaveFormat(r.kbps))) continue;
            auto c = std::make_unique<Layer2Converter>(r.index);
            if (!c->start()) return nullptr;
            return c;
        }
        return nullptr;
    };
    return d;
}

void registerLayer2Converter() { avi::registerAudioConverter(layer2ConverterDriver()); }

}  // namespace zembra
