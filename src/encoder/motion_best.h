#pragma once
// The "Best" motion search (MotionSearch 4): instead of a fixed window it
// tries the vectors that motion around a macroblock suggests (its
// neighbours', their median, the previous picture's at the same place,
// zero), walks from the best of them by diamond steps as far as the f_code
// allows, and refines to half pels on the reconstruction. Every position is
// priced as SAD + lambda x the bits of its vector, so that a vector is only
// changed where the change pays for itself.

#include <cstddef>
#include <cstdint>

#include "encoder/kernels.h"

namespace zembra {

struct HalfPelVector {
    int x = 0, y = 0;  // half pels
    bool operator==(const HalfPelVector& o) const { return x == o.x && y == o.y; }
};

// Bits of one component of a vector difference coded with `fcode`
// (motion_code with its sign, and the residual).
int motionComponentBits(int delta, int fcode);

// The f_code of the next picture of a kind whose last picture's vectors
// reached `largest` half pels (-1: none coded yet, take `ceiling`): room
// for half as much motion again, and never above `ceiling`. A smaller
// f_code spends fewer residual bits on every vector.
int nextFcode(int largest, int ceiling);

// The largest component, in half pels, of `count` vectors.
int largestComponent(const HalfPelVector* v, std::size_t count);

// The median of three vectors, component by component.
HalfPelVector medianVector(HalfPelVector a, HalfPelVector b, HalfPelVector c);

// A reference picture as the search sees it: the integer stage looks into
// its source (the picture before coding), the half-pel stage into its
// reconstruction and the half-pel planes made from it (right, below,
// diagonal: the rounded averages the decoder predicts with, which the
// search may also take from the reconstruction itself), all with the
// same stride `width`.
struct SearchReference {
    const std::uint8_t* source = nullptr;
    const std::uint8_t* recon = nullptr;
    const std::uint8_t* half[3] = {nullptr, nullptr, nullptr};
    int width = 0, height = 0;
    // The reconstruction's 16x16 block at half-pel position (hx, hy).
    const std::uint8_t* reconAt(int hx, int hy) const;
};

struct MotionChoice {
    HalfPelVector vector;
    int sad = 0;   // against the reconstruction
    int cost = 0;  // sad + lambda x vector bits
    // The integer stage's cost (SAD against the source + lambda x vector
    // bits), which the search of a neighbour compares its candidates with.
    int fullPelCost = 0;
};

class BestMotionSearch {
public:
    // `lambda` in SAD units per bit; `fcode` bounds the vectors.
    BestMotionSearch(const EncoderKernels& kernels, int lambda, int fcode);

    // The block `blk` (packed 16x16) at luma position (x0, y0): the best
    // vector among `candidates` and what the steps from there find; `pmv`
    // is the vector the difference is coded against. A best candidate that
    // costs no more than `settled` (what the neighbours' searches ended
    // at) is taken as the motion and only refined by small steps; the
    // large ones are for the blocks the candidates miss.
    MotionChoice search(const std::uint8_t* blk, const SearchReference& ref, int x0, int y0,
                        const HalfPelVector* candidates, int count, HalfPelVector pmv,
                        int settled = -1) const;

    // The price of a vector's bits against `pmv`, in SAD units. (Inline:
    // the search prices every position before it takes its SAD.)
    int vectorCost(HalfPelVector v, HalfPelVector pmv) const {
        return lambda_ * (componentBits(v.x - pmv.x) + componentBits(v.y - pmv.y));
    }

private:
    int componentBits(int delta) const {
        if (delta >= -span_ && delta <= span_) return bits_[delta];
        return motionComponentBits(delta, fcode_);
    }

    const EncoderKernels& k_;
    int lambda_;
    int fcode_;
    int span_;                  // differences in [-span, span] are in the table
    const std::uint8_t* bits_;  // motionComponentBits by difference, at its centre
    int low_, high_;            // the vectors' range in half pels, [low, high]
};

}  // namespace zembra
