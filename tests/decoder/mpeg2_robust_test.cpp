// Damaged and hostile input: motion vectors far outside the picture, a
// corrupted slice, random corruption and truncation.

#include <random>

#include "mpeg2_test_support.h"

namespace zembra::testing {
namespace {

// 32x32 pictures: an I picture with flat macroblocks (luma 50, 100 / 150,
// 200; Cb 60.. 90; Cr 160.. 190), then a P picture whose vectors point
// about 2000 pixels outside it: up-left in the top row, down-right below.
std::vector<uint8_t> farVectorStream() {
    BitWriter w;
    writeSequence(w);
    writePicture(w, 1, 15);
    const int luma[4] = {50, 100, 150, 200}, cb[4] = {60, 70, 80, 90}, cr[4] = {160, 170, 180, 190};
    for (int row = 0; row < 2; ++row) {
        w.startCode(0x101 + uint32_t(row));
        w.put(8, 5);
        w.put(0, 1);
        int py = 128, pb = 128, pr = 128;
        for (int col = 0; col < 2; ++col) {
            const int m = row * 2 + col;
            w.put("1");  // address increment 1
            w.put("1");  // intra
            for (int b = 0; b < 4; ++b) {
                dcOnlyBlock(w, luma[m] - py, true);
                py = luma[m];
            }
            dcOnlyBlock(w, cb[m] - pb, false);
            pb = cb[m];
            dcOnlyBlock(w, cr[m] - pr, false);
            pr = cr[m];
        }
    }
    writePicture(w, 2, 9);
    for (int row = 0; row < 2; ++row) {
        w.startCode(0x101 + uint32_t(row));
        w.put(8, 5);
        w.put(0, 1);
        for (int col = 0; col < 2; ++col) {
            w.put("1");    // address increment
            w.put("001");  // forward prediction, no coefficients
            for (int t = 0; t < 2; ++t) {
                if (col == 0) {
                    w.put("0000001100");         // motion_code 16
                    w.put(row == 0 ? 1 : 0, 1);  // sign
                    w.put(row == 0 ? 255 : 254, 8);
                } else {
                    w.put("1");  // same vector again
                }
            }
        }
    }
    w.startCode(0x1B7);
    w.put(0, 32);
    return w.bytes;
}

std::string writeTemp(const std::string& name, const std::vector<uint8_t>& data) {
    const std::string path = std::string(ZEMBRA_BINARY_DIR) + "/" + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    return path;
}

TEST(HostileVectors, PredictionFromFarOutsideReadsTheNearestEdge) {
    const std::string path = writeTemp("far_vectors.m2v", farVectorStream());
    for (int setting : {0, 4}) {
        RecordingHost host;
        TitleCatalogue catalogue;
        Mpeg2Decoder dec(host, catalogue);
        std::vector<std::vector<uint8_t>> pictures;
        dec.hooks.emitFrame = [&](const DecodedPicture& p) {
            std::vector<uint8_t> all(p.planes[0], p.planes[0] + 32 * 32);
            all.insert(all.end(), p.planes[1], p.planes[1] + 16 * 16);
            all.insert(all.end(), p.planes[2], p.planes[2] + 16 * 16);
            pictures.push_back(all);
            return DecodeStatus::Ok;
        };
        DecoderOpenParams params;
        params.files = {path};
        params.idct = setting;
        double rate;
        int cf, w, h;
        ASSERT_TRUE(dec.openDecoder(params, rate, cf, w, h));
        while (dec.decodeStep()) {
        }
        dec.flushLastReference();
        ASSERT_EQ(pictures.size(), 2u);
        const auto& i = pictures[0];
        EXPECT_EQ(i[0], 50);
        EXPECT_EQ(i[31 * 32 + 31], 200);
        const auto& p = pictures[1];
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                ASSERT_EQ(p[size_t(y * 32 + x)], y < 16 ? 50 : 200) << x << "," << y;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                ASSERT_EQ(p[1024 + size_t(y * 16 + x)], y < 8 ? 60 : 90);
                ASSERT_EQ(p[1024 + 256 + size_t(y * 16 + x)], y < 8 ? 160 : 190);
            }
    }
}

// The same I picture, then a P picture whose half-pel vectors read right up
// to the picture's edges, or one pixel past them: (+1, +1) and (-1, -1)
// half-pels, in each corner.
TEST(HostileVectors, HalfPelVectorsAtTheEdgesReadInsideOrTheNearestEdge) {
    BitWriter w;
    writeSequence(w);
    writePicture(w, 1, 15);
    const int luma[4] = {50, 100, 150, 200};
    for (int row = 0; row < 2; ++row) {
        w.startCode(0x101 + uint32_t(row));
        w.put(8, 5);
        w.put(0, 1);
        int py = 128;
        for (int col = 0; col < 2; ++col) {
            w.put("1");
            w.put("1");
            for (int b = 0; b < 4; ++b) {
                dcOnlyBlock(w, luma[row * 2 + col] - py, true);
                py = luma[row * 2 + col];
            }
            dcOnlyBlock(w, 0, false);  // grey chroma
            dcOnlyBlock(w, 0, false);
        }
    }
    // Vectors (+1, +1) in the top row, (-1, -1) in the bottom one: the
    // second macroblock of a row repeats the first one's (delta 0).
    writePicture(w, 2, 1);
    for (int row = 0; row < 2; ++row) {
        w.startCode(0x101 + uint32_t(row));
        w.put(8, 5);
        w.put(0, 1);
        w.put("1");
        w.put("001");
        w.put(row == 0 ? "010010" : "011011");
        w.put("1");
        w.put("001");
        w.put("11");
    }
    w.startCode(0x1B7);
    w.put(0, 32);
    const std::string path = writeTemp("edge_vectors.m2v", w.bytes);

    RecordingHost host;
    TitleCatalogue catalogue;
    Mpeg2Decoder dec(host, catalogue);
    std::vector<std::vector<uint8_t>> pictures;
    dec.hooks.emitFrame = [&](const DecodedPicture& p) {
        pictures.emplace_back(p.planes[0], p.planes[0] + 32 * 32);
        return DecodeStatus::Ok;
    };
    DecoderOpenParams params;
    params.files = {path};
    double rate;
    int cf, wd, ht;
    ASSERT_TRUE(dec.openDecoder(params, rate, cf, wd, ht));
    while (dec.decodeStep()) {
    }
    dec.flushLastReference();
    ASSERT_EQ(pictures.size(), 2u);
    const auto ref = [&](int x, int y) {
        return int(pictures[0][size_t(std::clamp(y, 0, 31) * 32 + std::clamp(x, 0, 31))]);
    };
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            const int v = y < 16 ? 1 : -1;
            const int sx = x + (v >> 1), sy = y + (v >> 1);
            const int expected =
                (ref(sx, sy) + ref(sx + 1, sy) + ref(sx, sy + 1) + ref(sx + 1, sy + 1) + 2) >> 2;
            ASSERT_EQ(int(pictures[1][size_t(y * 32 + x)]), expected) << x << "," << y;
        }
    }
}

// Offset of the n-th slice start code of the first picture.
size_t sliceOffset(const std::vector<uint8_t>& d, int n) {
    for (size_t i = 0; i + 4 < d.size(); ++i)
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1 && d[i + 3] >= 1 && d[i + 3] <= 0xAF &&
            n-- == 0)
            return i;
    return 0;
}

TEST(DamagedSlices, OnlyTheCorruptedSliceIsLost) {
    ZEMBRA_REQUIRE_STREAM(path, "prog.m2v");
    std::vector<uint8_t> data = readFile(path);
    const size_t at = sliceOffset(data, 8);  // row 9 of the first (I) picture
    ASSERT_GT(at, 0u);
    ASSERT_EQ(data[at + 3], 9);
    for (int k = 8; k < 40; ++k) data[at + size_t(k)] = uint8_t(0x5A ^ (k * 37));
    const std::string bad = writeTemp("corrupt_slice.m2v", data);
    const DecodedStream clean = decodeFile(path, 0, 1, false);
    const DecodedStream damaged = decodeFile(bad, 0, 1, false);
    ASSERT_EQ(clean.luma.size(), 1u);
    ASSERT_EQ(damaged.luma.size(), 1u);
    const int w = clean.width;
    bool rowDiffers = false;
    for (int y = 0; y < clean.height; ++y) {
        const bool same =
            std::equal(clean.luma[0].begin() + y * w, clean.luma[0].begin() + (y + 1) * w,
                       damaged.luma[0].begin() + y * w);
        if (y / 16 == 8)
            rowDiffers |= !same;
        else
            EXPECT_TRUE(same) << "row " << y;
    }
    EXPECT_TRUE(rowDiffers);
}

TEST(DamagedStreams, RandomCorruptionAndTruncationNeverCrash) {
    ZEMBRA_REQUIRE_STREAM(es, "prog.m2v");
    ZEMBRA_REQUIRE_STREAM(ps, "ps.vob");
    ZEMBRA_REQUIRE_STREAM(m1, "mpeg1_sys.mpg");
    std::mt19937 rng(2024);
    for (const std::string& src : {es, ps, m1}) {
        const std::vector<uint8_t> original = readFile(src);
        for (int round = 0; round < 6; ++round) {
            std::vector<uint8_t> data = original;
            if (round < 4) {
                const int hits = round == 0 ? 20 : 300;
                for (int k = 0; k < hits; ++k)
                    data[rng() % data.size()] ^= uint8_t(1 + rng() % 255);
            } else {
                data.resize(rng() % data.size());
            }
            const std::string path = writeTemp("damaged.bin", data);
            const DecodedStream out = decodeFile(path, round % 2 ? 4 : 0);
            if (out.openResult) {
                EXPECT_GT(out.luma.size(), 0u);
                for (const auto& f : out.luma) ASSERT_EQ(f.size(), size_t(out.width) * out.height);
            }
        }
    }
}

}  // namespace
}  // namespace zembra::testing
