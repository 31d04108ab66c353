// The video decoder over arbitrary bytes, read as they come (program stream
// or elementary stream, whichever the start looks like) and, when the first
// byte is odd, behind a pack header so the demultiplexer takes them.

#include <cstdint>
#include <cstring>
#include <vector>

#include "decoder/mpeg2_decoder.h"
#include "dvd/title_catalogue.h"
#include "support/quiet_host.h"

namespace {

// Bytes in memory as the decoder's input; reads copy out of an exact-size
// buffer so any over-read is caught.
class MemoryInput : public zembra::DecoderInput {
public:
    explicit MemoryInput(std::vector<uint8_t> bytes) : data_(std::move(bytes)) {}
    int open(const std::vector<std::string>&, bool, int, int, int, bool,
             const std::string&) override {
        pos_ = 0;
        return 1;
    }
    int reopen() override { return 1; }
    int seek(int64_t sector) override {
        if (sector < 0 || size_t(sector) * 2048 > data_.size()) return -1;
        pos_ = size_t(sector) * 2048;
        return 0;
    }
    int read(uint8_t* dst, int length) override {
        const size_t n = std::min(size_t(length), data_.size() - pos_);
        if (n) std::memcpy(dst, data_.data() + pos_, n);
        pos_ += n;
        return int(n);
    }
    int close() override { return 1; }
    int64_t currentSector() const override { return int64_t(pos_ / 2048); }
    int64_t sectorsBefore() const override { return 0; }
    int64_t fileSectors(int) const override { return int64_t((data_.size() + 2047) / 2048); }
    int fileIndex() const override { return 0; }

private:
    std::vector<uint8_t> data_;
    size_t pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    std::vector<uint8_t> bytes;
    if (data[0] & 1) {
        static const uint8_t pack[14] = {0, 0, 1, 0xBA, 0x44, 0, 4, 0, 4, 1, 1, 0x89, 0xC3, 0xF8};
        bytes.assign(pack, pack + sizeof pack);
    }
    bytes.insert(bytes.end(), data + 1, data + size);
    zembra::testing::QuietHost host;
    zembra::TitleCatalogue catalogue;
    zembra::Mpeg2Decoder decoder(host, catalogue);
    MemoryInput input(std::move(bytes));
    decoder.setInput(&input);
    size_t checksum = 0;
    decoder.hooks.emitFrame = [&](const zembra::DecodedPicture& p) {
        checksum += p.planes[0][size_t(p.width) * p.height - 1];
        return zembra::DecodeStatus::Ok;
    };
    decoder.hooks.subpicturePayload = [&](const uint8_t* d, size_t n) {
        checksum += n ? d[n - 1] : 0;
    };
    zembra::DecoderOpenParams params;
    params.files = {"memory"};
    params.subtitleStream = 0;
    params.idct = (data[0] >> 1) % 5 == 3 ? 0 : (data[0] >> 1) % 5;
    double rate;
    int chroma, width, height;
    decoder.setRunMode(zembra::kRunVideoAudio);
    if (decoder.openDecoder(params, rate, chroma, width, height)) {
        for (int i = 0; i < 40 && decoder.decodeStep(); ++i) {
        }
        decoder.flushLastReference();
        (void)decoder.currentTimeSeconds();
        if (decoder.reseek(0))
            for (int i = 0; i < 5 && decoder.decodeStep(); ++i) {
            }
    }
    decoder.closeDecoder();
    return checksum == 0x7FFFFFFF ? 1 : 0;
}
