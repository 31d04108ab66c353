// The list of compressors this machine offers, in the order a chooser shows.

#include "avi/codecs/video_compressor.h"

#include "avi/codecs/builtin_compressors.h"

namespace zembra::avi {

namespace {

struct Entry {
    CompressorInfo (*info)();
    std::unique_ptr<VideoCompressor> (*make)();
    bool (*available)();
};

bool always() { return true; }

const Entry kEntries[] = {
    {uncompressedRgbInfo, makeUncompressedRgb, always},
    {uncompressedYuy2Info, makeUncompressedYuy2, always},
    {xvidInfo, makeXvidCompressor, xvidLibraryLoaded},
};

}  // namespace

std::vector<CompressorInfo> installedVideoCompressors() {
    std::vector<CompressorInfo> list;
    for (const Entry& e : kEntries)
        if (e.available()) list.push_back(e.info());
    return list;
}

std::unique_ptr<VideoCompressor> openVideoCompressorDriver(uint32_t fccType, uint32_t fccHandler) {
    for (const Entry& e : kEntries) {
        CompressorInfo info = e.info();
        if (info.fccType == fccType && info.fccHandler == fccHandler && e.available())
            return e.make();
    }
    return nullptr;
}

std::string acceptedInputsText(VideoCompressor& compressor) {
    // A typical picture size; the compressors' limits are far from it.
    struct Probe {
        const char* name;
        BitmapInfoHeader header;
    };
    const Probe probes[] = {
        {"RGB24", rgbHeader(352, 288, 24)},
        {"RGB32", rgbHeader(352, 288, 32)},
        {"YUY2", yuy2Header(352, 288)},
    };
    std::string text;
    for (const Probe& p : probes) {
        if (!compressor.queryInput(p.header)) continue;
        if (!text.empty()) text += ' ';
        text += p.name;
    }
    return text;
}

}  // namespace zembra::avi
