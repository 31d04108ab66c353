#pragma once
// Hot loops of the video encoder: block distortion measures, forward and
// inverse DCT and the quantisers. Each table starts with the plain versions
// and is overwritten entry by entry for the SIMD levels the CPU has.

#include <cstdint>

namespace zembra {

struct CpuLevel {
    bool sse2 = false;
    bool avx2 = false;
};

// The processor's level; ZEMBRA_CPU=plain forces the plain kernels.
CpuLevel detectCpuLevel();

struct EncoderKernels {
    // SAD of two 16x16 blocks with the same stride. Once the running sum
    // exceeds `limit` it may stop and return any value above `limit`.
    int (*sad16)(const std::uint8_t* a, const std::uint8_t* b, int stride, int limit);
    // SAD of a 16x16 block against the reference at half-pel offset (hx, hy),
    // each 0 or 1; `ref` points at the integer part.
    int (*sad16Half)(const std::uint8_t* cur, const std::uint8_t* ref, int stride, int hx, int hy);
    // Sum of squared differences between a block (stride) and a packed
    // 16x16 prediction.
    int (*ssd16)(const std::uint8_t* a, int stride, const std::uint8_t* pred);
    // s2 - s*s/256 over a 16x16 block.
    int (*variance16)(const std::uint8_t* a, int stride);
    // s2/64 - (s/64)^2 of an 8x8 block, for activity.
    double (*variance8)(const std::uint8_t* a, int stride);
    // Integer forward DCT (IEEE 1180 accurate), in natural order.
    void (*fdctInt)(const std::int16_t* in, std::int16_t* out);
    // Scaled floating-point forward DCT.
    void (*fdctFloat)(const std::int16_t* in, std::int16_t* out);
    // Inverse DCT in place, for the reconstruction.
    void (*idct)(std::int16_t* block);
    // Quantise the AC (intra, from index 1) or all (non-intra) coefficients;
    // `w` the matrix in natural order, q the quantiser scale, `clip` the
    // largest level. Returns non-zero when any level is non-zero.
    int (*quantIntraAc)(const std::int16_t* in, std::int16_t* out, const std::uint8_t* w, int q,
                        int clip);
    int (*quantNonIntra)(const std::int16_t* in, std::int16_t* out, const std::uint8_t* w, int q,
                         int clip);
};

EncoderKernels plainKernels();
EncoderKernels makeKernels(const CpuLevel& level);

}  // namespace zembra
