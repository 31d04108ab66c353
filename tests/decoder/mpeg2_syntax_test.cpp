// Picture structures no test-stream maker here writes: field pictures (the
// packaged mpeg2enc crashes with -I 2) with 16x8 prediction and a second
// field predicted from the first, and 4:4:4 macroblocks (ffmpeg encodes no
// 4:4:4 MPEG-2). Hand-made streams of flat blocks, checked pixel by pixel.

#include "mpeg2_test_support.h"

namespace zembra::testing {
namespace {

std::string writeTemp(const std::string& name, const std::vector<uint8_t>& data) {
    const std::string path = std::string(ZEMBRA_BINARY_DIR) + "/" + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    return path;
}

struct Planes {
    std::vector<uint8_t> y, cb, cr;
};

// Every emitted picture of a hand-made stream, each decoded with the given
// iDCT setting.
std::vector<Planes> decodeAll(const std::string& path, int idct) {
    RecordingHost host;
    TitleCatalogue catalogue;
    Mpeg2Decoder dec(host, catalogue);
    std::vector<Planes> out;
    dec.hooks.emitFrame = [&](const DecodedPicture& p) {
        const size_t luma = size_t(p.width) * p.height,
                     chroma = size_t(p.chromaWidth) * p.chromaHeight;
        out.push_back({std::vector<uint8_t>(p.planes[0], p.planes[0] + luma),
                       std::vector<uint8_t>(p.planes[1], p.planes[1] + chroma),
                       std::vector<uint8_t>(p.planes[2], p.planes[2] + chroma)});
        return DecodeStatus::Ok;
    };
    DecoderOpenParams params;
    params.files = {path};
    params.idct = idct;
    double rate;
    int cf, w, h;
    if (!dec.openDecoder(params, rate, cf, w, h)) return out;
    while (dec.decodeStep()) {
    }
    dec.flushLastReference();
    return out;
}

// One slice of intra macroblocks, every block flat at its value.
void intraSlice(BitWriter& w, int row, int macroblocks, const std::vector<int>& blockValues,
                int lumaBlocks = 4) {
    w.startCode(0x100 + uint32_t(row));
    w.put(8, 5);
    w.put(0, 1);
    int pred[3] = {128, 128, 128};
    for (int m = 0; m < macroblocks; ++m) {
        w.put("1");  // address increment 1
        w.put("1");  // intra
        for (size_t b = 0; b < blockValues.size(); ++b) {
            const int cc = int(b) < lumaBlocks ? 0 : 1 + ((int(b) - lumaBlocks) & 1);
            dcOnlyBlock(w, blockValues[b] - pred[cc], cc == 0);
            pred[cc] = blockValues[b];
        }
    }
}

// 32x32, interlaced, top field first. Frame 1: an I top field (luma 50,
// Cb 60, Cr 160) and an I bottom field (200, 90, 190). Frame 2: a P top field
// with 16x8 prediction, its upper half from the bottom field of frame 1 and
// its lower half from the top field; then a P bottom field predicted from
// the top field of its own frame.
std::vector<uint8_t> fieldPictureStream() {
    BitWriter w;
    writeSequence(w, 32, 32, false);
    writePicture(w, 1, 15, 1);
    intraSlice(w, 1, 2, {50, 50, 50, 50, 60, 160});
    writePicture(w, 1, 15, 2);
    intraSlice(w, 1, 2, {200, 200, 200, 200, 90, 190});
    writePicture(w, 2, 1, 1);
    w.startCode(0x101);
    w.put(8, 5);
    w.put(0, 1);
    for (int m = 0; m < 2; ++m) {
        w.put("1");    // address increment
        w.put("001");  // forward prediction, no coefficients
        w.put("10");   // 16x8
        w.put("1");    // upper half: bottom field
        w.put("11");   // vector (0, 0)
        w.put("0");    // lower half: top field
        w.put("11");
    }
    writePicture(w, 2, 1, 2);
    w.startCode(0x101);
    w.put(8, 5);
    w.put(0, 1);
    for (int m = 0; m < 2; ++m) {
        w.put("1");
        w.put("001");
        w.put("01");  // field prediction
        w.put("0");   // from the top field: the first field of this frame
        w.put("11");
    }
    w.startCode(0x1B7);
    w.put(0, 32);
    return w.bytes;
}

TEST(FieldPictures, FieldsInterleaveAndPredictFrom16x8HalvesAndTheFirstField) {
    const std::string path = writeTemp("field_pictures.m2v", fieldPictureStream());
    for (int setting : {0, 1, 2, 4}) {
        const std::vector<Planes> pictures = decodeAll(path, setting);
        ASSERT_EQ(pictures.size(), 2u) << "setting " << setting;
        const Planes& f1 = pictures[0];
        const Planes& f2 = pictures[1];
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) {
                // The bottom field wrote the odd rows only, the top field the even ones.
                ASSERT_EQ(f1.y[size_t(y * 32 + x)], y & 1 ? 200 : 50) << x << "," << y;
                ASSERT_EQ(f2.y[size_t(y * 32 + x)], y < 16 ? 200 : 50) << x << "," << y;
            }
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                const size_t i = size_t(y * 16 + x);
                ASSERT_EQ(f1.cb[i], y & 1 ? 90 : 60);
                ASSERT_EQ(f1.cr[i], y & 1 ? 190 : 160);
                ASSERT_EQ(f2.cb[i], y < 8 ? 90 : 60) << x << "," << y;
                ASSERT_EQ(f2.cr[i], y < 8 ? 190 : 160) << x << "," << y;
            }
    }
}

// 32x16 4:4:4: an I picture whose chroma blocks 4..11 each have their own
// value, then a P picture that copies it and adds a residual to blocks 8
// (Cb, upper right) and 11 (Cr, lower right) of the first macroblock only,
// through the extended coded_block_pattern.
std::vector<uint8_t> chroma444Stream() {
    BitWriter w;
    writeSequence(w, 32, 16, true, 3);
    writePicture(w, 1, 15);
    // Blocks 4, 6, 8, 10 are Cb; 5, 7, 9, 11 Cr.
    intraSlice(w, 1, 2, {100, 100, 100, 100, 20, 120, 40, 140, 60, 160, 80, 180});
    writePicture(w, 2, 1);
    w.startCode(0x101);
    w.put(8, 5);  // quantiser_scale 16
    w.put(0, 1);
    w.put("1");          // address increment
    w.put("01");         // coded, no motion: zero vector
    w.put("000000001");  // coded_block_pattern 0 for blocks 0-5
    w.put("001001");     // blocks 6-11: 8 and 11
    w.put("10");         // block 8: first coefficient +1, (2 + 1) x 16 x 16 / 32 = 24
    w.put("10");         // end of block
    w.put("11");         // block 11: -1
    w.put("10");
    w.put("1");    // address increment
    w.put("001");  // forward prediction, no coefficients
    w.put("11");   // vector (0, 0)
    w.startCode(0x1B7);
    w.put(0, 32);
    return w.bytes;
}

TEST(Chroma444, TwelveBlocksAndTheExtendedBlockPattern) {
    const std::string path = writeTemp("chroma444.m2v", chroma444Stream());
    for (int setting : {0, 1, 2, 4}) {
        const std::vector<Planes> pictures = decodeAll(path, setting);
        ASSERT_EQ(pictures.size(), 2u) << "setting " << setting;
        for (int k = 0; k < 2; ++k) {
            const Planes& p = pictures[size_t(k)];
            ASSERT_EQ(p.cb.size(), 32u * 16u);
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 32; ++x) {
                    const int bx = (x & 15) >> 3, by = y >> 3;
                    // Upper left 4 (5), lower left 6 (7), upper right 8 (9), lower right 10 (11).
                    int cb = 20 + 20 * (2 * bx + by), cr = cb + 100;
                    if (k == 1 && x < 16 && bx == 1 && by == 0) cb += 3;
                    if (k == 1 && x < 16 && bx == 1 && by == 1) cr -= 3;
                    const size_t i = size_t(y * 32 + x);
                    ASSERT_EQ(p.y[i], 100);
                    ASSERT_EQ(p.cb[i], cb) << "picture " << k << " at " << x << "," << y;
                    ASSERT_EQ(p.cr[i], cr) << "picture " << k << " at " << x << "," << y;
                }
        }
    }
}

// Skipped macroblocks take their prediction from the macroblocks around
// them: a P picture's copy their place in the reference, a B picture's
// repeat the previous macroblock's direction and vector. 64x32, four
// macroblocks a row, each of the I picture flat at its own value. The P
// picture moves macroblocks 0, 5 and 6 two pixels left (vector +4 half
// pels) and skips 1-4, across the end of the first row. The B picture
// predicts its first row forward by +4 half pels and its second backward
// (from the P picture) by -4, skipping the two middle macroblocks of each;
// the last of each row reads past the right or left edge.
constexpr int kSkipWidth = 64, kSkipHeight = 32;
constexpr int kSkipLuma[2][4] = {{20, 40, 60, 80}, {120, 140, 160, 180}};

void pictureHeader(BitWriter& w, int type) {
    w.startCode(0x100);
    w.put(0, 10);
    w.put(uint32_t(type), 3);
    w.put(0xFFFF, 16);
    w.put("0111");                  // full_pel_forward 0, forward_f_code 7
    if (type == 3) w.put("0111");   // and backward
    w.put(0, 1);
    w.startCode(0x1B5);
    w.put(8, 4);
    w.put(0x1111, 16);              // f_codes 1
    w.put(0, 2);
    w.put(3, 2);
    w.put("0100000110");
}

void sliceStart(BitWriter& w, int row) {
    w.startCode(0x100 + uint32_t(row));
    w.put(8, 5);
    w.put(0, 1);
}

std::vector<uint8_t> skippedRunStream() {
    BitWriter w;
    writeSequence(w, kSkipWidth, kSkipHeight);
    writePicture(w, 1, 15);
    for (int row = 0; row < 2; ++row) {
        sliceStart(w, row + 1);
        int pred[3] = {128, 128, 128};
        for (int m = 0; m < 4; ++m) {
            const int luma = kSkipLuma[row][m];
            const int values[6] = {luma, luma, luma, luma, 60 + luma / 4, 200 - luma / 4};
            w.put("1");  // address increment 1
            w.put("1");  // intra
            for (int b = 0; b < 6; ++b) {
                const int cc = b < 4 ? 0 : b - 3;
                dcOnlyBlock(w, values[b] - pred[cc], cc == 0);
                pred[cc] = values[b];
            }
        }
    }
    // Vectors: +4 "0000110", -4 "0000111", 0 "1"; horizontal, then vertical.
    pictureHeader(w, 2);
    sliceStart(w, 1);
    w.put("1" "001" "0000110" "1");     // 0: forward, +4
    w.put("0010" "001" "0000110" "1");  // skip 1-4; 5: +4 (the skips reset the prediction)
    w.put("1" "001" "1" "1");           // 6: +4
    w.put("1" "001" "0000111" "1");     // 7: 0
    pictureHeader(w, 3);
    sliceStart(w, 1);
    w.put("1" "0010" "0000110" "1");    // 0: forward, +4
    w.put("010" "0010" "1" "1");        // skip 1-2; 3: forward, +4
    sliceStart(w, 2);
    w.put("1" "010" "0000111" "1");     // 4: backward, -4
    w.put("010" "010" "1" "1");         // skip 5-6; 7: backward, -4
    w.startCode(0x1B7);
    w.put(0, 32);
    return w.bytes;
}

TEST(SkippedMacroblocks, RunsCopyTheirPredictionInPAndBPictures) {
    const std::string path = writeTemp("skipped_runs.m2v", skippedRunStream());
    // A plane's value at (x, y) in the I picture; `div` 1 luma, 2 chroma.
    const auto intra = [](int x, int y, int div, int plane) {
        const int luma = kSkipLuma[y * div / 16][std::clamp(x, 0, kSkipWidth / div - 1) * div / 16];
        return plane == 0 ? luma : plane == 1 ? 60 + luma / 4 : 200 - luma / 4;
    };
    const auto pShift = [](int x, int y, int div) {
        const int mb = x * div / 16 + 4 * (y * div / 16);
        return mb == 0 || mb == 5 || mb == 6 ? 2 / div : 0;
    };
    const auto p = [&](int x, int y, int div, int plane) {
        return intra(x + pShift(x, y, div), y, div, plane);
    };
    const auto b = [&](int x, int y, int div, int plane) {
        const int shift = 2 / div;
        return y * div < 16 ? intra(x + shift, y, div, plane)
                            : p(std::clamp(x - shift, 0, kSkipWidth / div - 1), y, div, plane);
    };
    for (int setting : {0, 1, 2, 4}) {
        const std::vector<Planes> pictures = decodeAll(path, setting);
        ASSERT_EQ(pictures.size(), 3u) << "setting " << setting;
        // Display order: I, B, P.
        for (int plane = 0; plane < 3; ++plane) {
            const int div = plane ? 2 : 1, w = kSkipWidth / div, h = kSkipHeight / div;
            const auto at = [&](const Planes& pic, int x, int y) {
                const std::vector<uint8_t>& v = plane == 0 ? pic.y : plane == 1 ? pic.cb : pic.cr;
                return int(v[size_t(y * w + x)]);
            };
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    ASSERT_EQ(at(pictures[0], x, y), intra(x, y, div, plane)) << plane;
                    ASSERT_EQ(at(pictures[2], x, y), p(x, y, div, plane))
                        << "P plane " << plane << " at " << x << "," << y;
                    ASSERT_EQ(at(pictures[1], x, y), b(x, y, div, plane))
                        << "B plane " << plane << " at " << x << "," << y;
                }
        }
    }
}

}  // namespace
}  // namespace zembra::testing
