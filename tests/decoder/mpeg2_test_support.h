#pragma once
// Test streams made by ffmpeg/mpeg2enc (tools/make-test-streams.sh) and
// ffmpeg's own decoding of them, cached in the build tree; and a helper that
// runs our decoder over a file and keeps the luma of every emitted picture.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "decoder/mpeg2_decoder.h"
#include "dvd/title_catalogue.h"
#include "support/recording_host.h"
#include "support/tools.h"

namespace zembra::testing {

// The scan of plain files into a one-title catalogue, as the rip does it.
inline Status scanInto(Mpeg2Decoder& dec, TitleCatalogue& catalogue,
                       const std::vector<std::string>& files, bool detect24, bool force24,
                       const CancelToken* cancel = nullptr) {
    catalogue.clear();
    VobScan found;
    Status scanned = dec.scanVobFiles(files, detect24, force24, found, cancel);
    if (scanned) setScannedTitle(catalogue, found);
    return scanned;
}

inline std::string streamDir() { return std::string(ZEMBRA_BINARY_DIR) + "/test-streams"; }

// Path of a test stream, made on first use; empty when the tools are missing.
inline std::string testStream(const std::string& name) {
    const std::string path = streamDir() + "/" + name;
    if (std::filesystem::exists(path)) return path;
    if (!haveTool("ffmpeg")) return {};
    const std::string cmd = std::string(ZEMBRA_SOURCE_DIR) + "/tools/make-test-streams.sh " +
                            streamDir() + " " + name + " >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) return {};
    return std::filesystem::exists(path) ? path : std::string();
}

#define ZEMBRA_REQUIRE_STREAM(var, name)                                     \
    const std::string var = ::zembra::testing::testStream(name);             \
    if (var.empty()) {                                                       \
        if (std::getenv("CI")) FAIL() << "cannot make test stream " << name; \
        GTEST_SKIP() << "ffmpeg/mpeg2enc missing";                           \
    }

inline std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)),
                                std::istreambuf_iterator<char>());
}

// ffmpeg's decoding of a stream as raw planar frames (every coded picture).
inline std::vector<uint8_t> ffmpegDecode(const std::string& stream, const char* pixFmt) {
    const std::string out = stream + "." + pixFmt + ".ref";
    if (!std::filesystem::exists(out)) {
        const std::string cmd = "ffmpeg -nostdin -v error -y -i '" + stream +
                                "' -fps_mode passthrough -f rawvideo -pix_fmt " + pixFmt + " '" +
                                out + ".tmp' && mv '" + out + ".tmp' '" + out + "'";
        if (std::system(cmd.c_str()) != 0) return {};
    }
    return readFile(out);
}

struct DecodedStream {
    int width = 0, height = 0;  // display size
    int chromaFormat = 1;
    double rate = 0;
    std::vector<std::vector<uint8_t>> luma;  // display size
    int openResult = 0;
};

inline DecodedStream decodeFile(const std::string& path, int idctSetting, int maxFrames = -1,
                                bool flush = true, bool detect24 = false, bool force24 = false) {
    RecordingHost host;
    TitleCatalogue catalogue;
    Mpeg2Decoder dec(host, catalogue);
    DecodedStream out;
    dec.hooks.emitFrame = [&](const DecodedPicture& p) {
        const int w = std::min(dec.sequence().horizontalSize, p.width),
                  h = std::min(dec.sequence().verticalSize, p.height);
        out.width = w;
        out.height = h;
        out.chromaFormat = p.chromaFormat;
        std::vector<uint8_t> y(size_t(w) * h);
        for (int r = 0; r < h; ++r)
            std::copy_n(p.planes[0] + size_t(r) * p.width, w, y.begin() + size_t(r) * w);
        out.luma.push_back(std::move(y));
        return DecodeStatus::Ok;
    };
    dec.setRunMode(kRunVideoOnly);
    DecoderOpenParams params;
    params.files = {path};
    params.idct = idctSetting;
    params.detect24Fps = detect24;
    params.force24 = force24;
    int chroma, w, h;
    out.openResult = dec.openDecoder(params, out.rate, chroma, w, h) ? 1 : 0;
    if (!out.openResult) return out;
    while ((maxFrames < 0 || int(out.luma.size()) < maxFrames) && dec.decodeStep()) {
    }
    if (flush) dec.flushLastReference();
    dec.closeDecoder();
    return out;
}

// Hand-made video elementary streams, bit by bit.
class BitWriter {
public:
    void put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            cur_ = uint8_t((cur_ << 1) | ((value >> i) & 1));
            if (++n_ == 8) {
                bytes.push_back(cur_);
                n_ = 0;
                cur_ = 0;
            }
        }
    }
    void put(const char* bits) {
        for (; *bits; ++bits) put(*bits == '1' ? 1 : 0, 1);
    }
    void startCode(uint32_t code) {
        while (n_) put(0, 1);
        put(code, 32);
    }
    std::vector<uint8_t> bytes;

private:
    uint8_t cur_ = 0;
    int n_ = 0;
};

// An intra block holding only its DC difference (intra_dc_precision 0).
inline void dcOnlyBlock(BitWriter& w, int diff, bool luma) {
    static const char* kLuma[] = {"100",  "00",    "01",     "101",    "110",
                                  "1110", "11110", "111110", "1111110"};
    static const char* kChroma[] = {"00",    "01",     "10",      "110",     "1110",
                                    "11110", "111110", "1111110", "11111110"};
    int size = 0;
    while ((1 << size) <= std::abs(diff)) ++size;
    w.put(luma ? kLuma[size] : kChroma[size]);
    if (size) w.put(uint32_t(diff < 0 ? diff + (1 << size) - 1 : diff), size);
    w.put("10");  // end of block
}

// MPEG-2 sequence header and extension, 25 fps, default matrices.
inline void writeSequence(BitWriter& w, int width = 32, int height = 32, bool progressive = true,
                          int chromaFormat = 1) {
    w.startCode(0x1B3);
    w.put(uint32_t(width), 12);
    w.put(uint32_t(height), 12);
    w.put(1, 4);
    w.put(3, 4);
    w.put(0x3FFFF, 18);
    w.put(1, 1);
    w.put(16, 10);
    w.put(0, 3);  // constrained, no matrices
    w.startCode(0x1B5);
    w.put(1, 4);
    w.put(0x48, 8);
    w.put(progressive ? 1 : 0, 1);
    w.put(uint32_t(chromaFormat), 2);
    w.put(0, 4);
    w.put(0, 12);
    w.put(1, 1);
    w.put(0, 8);
    w.put(0, 1);
    w.put(0, 7);
}

// Picture header and coding extension: forward f_code 7 in the header,
// `fcode` for both forward f_codes of the extension; structure 3 frame,
// 1 top field, 2 bottom field (field pictures: top field first, field DCT
// and prediction allowed).
inline void writePicture(BitWriter& w, int type, int fcode, int structure = 3) {
    w.startCode(0x100);
    w.put(0, 10);
    w.put(uint32_t(type), 3);
    w.put(0xFFFF, 16);
    if (type == 2) w.put(0x7, 4);  // full_pel_forward 0, forward_f_code 7
    w.put(0, 1);
    w.startCode(0x1B5);
    w.put(8, 4);
    w.put(uint32_t(fcode), 4);
    w.put(uint32_t(fcode), 4);
    w.put(15, 4);
    w.put(15, 4);
    w.put(0, 2);  // intra_dc_precision
    w.put(uint32_t(structure), 2);
    // tff, frame_pred_frame_dct, concealment, q_scale_type, intra_vlc,
    // alternate_scan, repeat_first_field, chroma_420_type, progressive_frame,
    // composite_display
    w.put(structure == 3 ? "0100000110" : "1000000000");
}

inline double psnr(const uint8_t* a, const uint8_t* b, size_t n) {
    double sum = 0;
    for (size_t i = 0; i < n; ++i) {
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    if (sum == 0) return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 * double(n) / sum);
}

}  // namespace zembra::testing
