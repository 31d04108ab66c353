#pragma once
// Hot loops of the video encoder: block distortion measures, forward and
// inverse DCT and the quantisers. Each table starts with the plain versions
// and is overwritten entry by entry for the SIMD levels the CPU has.

#include <cstdint>

#include "platform/cpu.h"

namespace zembra {

struct EncoderKernels {
    // SAD of two 16x16 blocks with the same stride. Once the running sum
    // exceeds `limit` it may stop and return any value above `limit`.
    int (*sad16)(const std::uint8_t* a, const std::uint8_t* b, int stride, int limit);
    // The same with `blk` a packed 16x16 block (stride 16, 32-byte aligned)
    // against `ref` with its stride: the motion search's form.
    int (*sad16Packed)(const std::uint8_t* blk, const std::uint8_t* ref, int stride, int limit);
    // SAD of a 16x16 block against the reference at half-pel offset (hx, hy),
    // each 0 or 1; `ref` points at the integer part.
    int (*sad16Half)(const std::uint8_t* cur, const std::uint8_t* ref, int stride, int hx, int hy);
    // The SADs of a packed 16x16 block against the eight half-pel
    // neighbours of the block at `ref`, in scan order (the row above left to
    // right, left, right, the row below): their samples the rounded averages
    // of two or four of the reference's, as the half-pel planes hold them.
    // Reads rows -1..16 and columns -1..16 around `ref`. Null in a table
    // without a version that beats summing the neighbours one by one.
    void (*halfPelSads)(const std::uint8_t* blk, const std::uint8_t* ref, int stride, int* sads);
    // Sum of squared differences between a block (stride) and a packed
    // 16x16 prediction.
    int (*ssd16)(const std::uint8_t* a, int stride, const std::uint8_t* pred);
    // One row step of the 8x8 block sums: col[x] += add[x] - sub[x] for
    // x < width (both null: no step), then out[x] = col[x] + ... +
    // col[x + 7] for x <= width - 8; all modulo 2^16.
    void (*blockSumsRow)(std::uint16_t* col, const std::uint8_t* add, const std::uint8_t* sub,
                         int width, std::uint16_t* out);
    // Sum of the samples of an 8x8 block.
    int (*sum8)(const std::uint8_t* a, int stride);
    // The sums of the four 8x8 quarters of a 16x16 block, left to right,
    // top to bottom.
    void (*quarterSums)(const std::uint8_t* a, int stride, int* out);
    // Lower bounds of the SAD of a 16x16 block whose four 8x8 quarters sum
    // to quarters[0..3] (left to right, top to bottom) against the blocks at
    // `sums` + i, i < n <= 64, where `sums` holds 8x8 block sums with
    // `stride`: out[i] = sum over q of |quarters[q] - sum of the candidate's
    // quarter q|. Returns a mask with bit i set where out[i] <= limit. The
    // SIMD versions read and write up to 15 entries past n.
    std::uint64_t (*quarterBounds)(const std::uint16_t* sums, int stride, const int* quarters,
                                   int n, int limit, std::uint16_t* out);
    // s2 - s*s/256 over a 16x16 block.
    int (*variance16)(const std::uint8_t* a, int stride);
    // The least 64 s2 - s^2 (s the sum of the samples, s2 that of their
    // squares: 4096 times the variance) of the 8x8 blocks of a 16x16 block:
    // its four quarters and, with `fields`, the left and right halves of
    // each field's eight rows. For activity.
    int (*leastVariance8)(const std::uint8_t* a, int stride, bool fields);
    // Integer forward DCT (IEEE 1180 accurate), in natural order.
    void (*fdctInt)(const std::int16_t* in, std::int16_t* out);
    // fdctInt of `n` consecutive blocks: in + 64 i to out + 64 i.
    void (*fdctIntBlocks)(const std::int16_t* in, std::int16_t* out, int n);
    // Scaled floating-point forward DCT.
    void (*fdctFloat)(const std::int16_t* in, std::int16_t* out);
    // Inverse DCT in place, for the reconstruction.
    void (*idct)(std::int16_t* block);
    // idct of two blocks, `a` and `b`, with the same results.
    void (*idct2)(std::int16_t* a, std::int16_t* b);
    // Quantise the AC (intra, from index 1) or all (non-intra) coefficients;
    // `w` the matrix in natural order, q the quantiser scale, `clip` the
    // largest level. Returns non-zero when any level is non-zero.
    int (*quantIntraAc)(const std::int16_t* in, std::int16_t* out, const std::uint8_t* w, int q,
                        int clip);
    int (*quantNonIntra)(const std::int16_t* in, std::int16_t* out, const std::uint8_t* w, int q,
                         int clip);
    // The half-pel samples of one picture row `a` with `b` the row below:
    // right (a[x] + a[x+1] + 1) >> 1, below (a[x] + b[x] + 1) >> 1 and
    // diagonal (a[x] + a[x+1] + b[x] + b[x+1] + 2) >> 2; the last sample is
    // its own right neighbour.
    void (*halfPelRow)(const std::uint8_t* a, const std::uint8_t* b, int width, std::uint8_t* right,
                       std::uint8_t* below, std::uint8_t* diagonal);
    // out[i] = (a[i] + b[i] + 1) >> 1 for n bytes, n a multiple of 16.
    void (*average)(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out, int n);
    // An 8x8 block into the transform's input: the samples, or with `pred`
    // the differences sample - prediction. Returns non-zero when any value
    // written is.
    int (*blockIn)(const std::uint8_t* src, int stride, const std::uint8_t* pred, int predStride,
                   std::int16_t* out);
    // The reconstruction of an 8x8 block: the residual `blk` plus `pred` (or
    // alone when pred is null), clipped to 0..255.
    void (*blockOut)(const std::int16_t* blk, const std::uint8_t* pred, int predStride,
                     std::uint8_t* out, int stride);
    // An 8x8 prediction at half-pel offset (hx, hy), each 0 or 1, from `ref`
    // at the integer part: the rounded averages of two or four samples.
    void (*predict8)(const std::uint8_t* ref, int stride, int hx, int hy, std::uint8_t* out,
                     int outStride);
    // Inverse quantisation of one block's levels (natural order) with matrix
    // `w` and quantiser scale qs: MPEG-2 with its mismatch control (sum made
    // odd in coefficient 63), or MPEG-1 with its odd values; an intra DC
    // level is multiplied by dcScale. Results clipped to -2048..2047.
    void (*dequant)(const std::int16_t* level, std::int16_t* out, const std::uint8_t* w, int qs,
                    bool intra, bool mpeg2, int dcScale);
    // Bit i set where block[i] is non-zero.
    std::uint64_t (*nonZeroMask)(const std::int16_t* block);
    // Non-intra levels out of the quantiser's dead zone: each zero level
    // whose coefficient's magnitude is at least least[i] becomes 1 with the
    // coefficient's sign. Returns non-zero when any level was raised.
    int (*roundDeadZone)(const std::int16_t* in, std::int16_t* level, const std::int16_t* least);
};

EncoderKernels plainKernels();
EncoderKernels makeKernels(CpuLevel level);

}  // namespace zembra
