#include "encoder/headers.h"

#include <cmath>

#include "mpeg/scan_tables.h"
#include "mpeg/start_codes.h"

namespace zembra {

using mpeg::BitWriter;
using mpeg::PictureType;

void writeSequenceHeader(BitWriter& bw, const EncoderParams& p) {
    int frameRateCode = p.pulldown ? 4 : p.rate.frameRateCode;
    long long bitRateValue = static_cast<long long>(std::ceil(p.bitRate / 400.0));
    bw.startCode(mpeg::kSequenceHeader);
    bw.put(p.width & 0xFFF, 12);
    bw.put(p.height & 0xFFF, 12);
    bw.put(p.aspectRatio, 4);
    bw.put(frameRateCode, 4);
    bw.put(static_cast<std::uint32_t>(bitRateValue & 0x3FFFF), 18);
    bw.put(1, 1);
    bw.put(p.vbvSize & 0x3FF, 10);
    bw.put(p.constrainedParameters, 1);
    bw.put(p.loadIntra ? 1 : 0, 1);
    if (p.loadIntra)
        for (int i = 0; i < 64; ++i) bw.put(p.intraMatrix[mpeg::kZigZag[i]], 8);
    bw.put(p.loadNonIntra ? 1 : 0, 1);
    if (p.loadNonIntra)
        for (int i = 0; i < 64; ++i) bw.put(p.nonIntraMatrix[mpeg::kZigZag[i]], 8);
    if (!p.mpeg2) return;
    bw.startCode(mpeg::kExtensionStart);
    bw.put(1, 4);
    bw.put(p.profileLevel, 8);
    bw.put(p.progressiveSequence, 1);
    bw.put(p.chromaFormat, 2);
    bw.put((p.width >> 12) & 3, 2);
    bw.put((p.height >> 12) & 3, 2);
    bw.put(static_cast<std::uint32_t>((bitRateValue >> 18) & 0xFFF), 12);
    bw.put(1, 1);
    bw.put((p.vbvSize >> 10) & 0xFF, 8);
    bw.put(p.lowDelay, 1);
    bw.put(0, 2);
    bw.put(0, 5);
    bw.startCode(mpeg::kExtensionStart);
    bw.put(2, 4);
    bw.put(p.rate.videoFormat, 3);
    bw.put(1, 1);
    bw.put(p.rate.colourPrimaries, 8);
    bw.put(p.rate.colourPrimaries, 8);
    bw.put(p.matrixCoefficients, 8);
    bw.put(p.width & 0x3FFF, 14);
    bw.put(1, 1);
    bw.put(p.height & 0x3FFF, 14);
}

void writeGopHeader(BitWriter& bw, const EncoderParams& p, int firstDisplay, bool closed) {
    const int fps = static_cast<int>(std::lround(p.rate.rate));
    const int t = firstDisplay;
    bw.startCode(mpeg::kGroupStart);
    bw.put(0, 1);
    bw.put((t / (3600 * fps)) % 24, 5);
    bw.put((t / (60 * fps)) % 60, 6);
    bw.put(1, 1);
    bw.put((t / fps) % 60, 6);
    bw.put(t % fps, 6);
    bw.put(closed ? 1 : 0, 1);
    bw.put(0, 1);
}

void writePictureHeader(BitWriter& bw, const EncoderParams& p, const PictureHeader& h) {
    bw.startCode(mpeg::kPictureStart);
    bw.put(h.temporalReference & 0x3FF, 10);
    bw.put(static_cast<std::uint32_t>(h.type), 3);
    bw.put(p.mpeg2 ? h.vbvDelay : 0xFFFF, 16);
    // MPEG-2 states its f_codes in the extension and writes 7 here.
    if (h.type != PictureType::I) {
        bw.put(0, 1);
        bw.put(p.mpeg2 ? 7 : h.fcodeF, 3);
    }
    if (h.type == PictureType::B) {
        bw.put(0, 1);
        bw.put(p.mpeg2 ? 7 : h.fcodeB, 3);
    }
    bw.put(0, 1);
    if (!p.mpeg2) return;
    bw.startCode(mpeg::kExtensionStart);
    bw.put(8, 4);
    bw.put(h.type != PictureType::I ? h.fcodeF : 15, 4);
    bw.put(h.type != PictureType::I ? h.fcodeF : 15, 4);
    bw.put(h.type == PictureType::B ? h.fcodeB : 15, 4);
    bw.put(h.type == PictureType::B ? h.fcodeB : 15, 4);
    bw.put(p.intraDcPrecision, 2);
    bw.put(3, 2);
    bw.put(h.topFieldFirst, 1);
    bw.put(1, 1);  // frame_pred_frame_dct
    bw.put(0, 1);
    bw.put(h.nonLinearQuant ? 1 : 0, 1);  // q_scale_type
    bw.put(0, 1);
    bw.put(0, 1);
    bw.put(h.repeatFirstField, 1);
    bw.put(p.pulldown ? 0 : p.progressiveFrame, 1);
    bw.put(p.progressiveFrame, 1);
    bw.put(0, 1);
    if (p.svcdLayout && h.type == PictureType::I) {
        // Scan offsets, filled in by the multiplexer once the file is done.
        bw.startCode(mpeg::kUserDataStart);
        bw.put(0x10, 8);
        bw.put(0x0E, 8);
        for (int n = 0; n < 4; ++n) {
            bw.put(0x00, 8);
            bw.put(0x80, 8);
            bw.put(0x80, 8);
        }
    }
}

}  // namespace zembra
