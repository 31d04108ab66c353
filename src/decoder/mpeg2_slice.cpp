// Picture reconstruction: slices, macroblocks, coefficients, inverse
// quantisation, inverse transform and motion-compensated prediction.

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "decoder/mpeg2_decoder.h"
#include "decoder/mpeg2_vlc.h"
#include "mpeg/scan_tables.h"
#include "mpeg/start_codes.h"
#include "platform/byte_order.h"

#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>
#define ZEMBRA_X86 1
#endif

namespace zembra {

namespace {

inline uint8_t clampPixel(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

void putBlockPlain(const int16_t* b, uint8_t* dst, int stride) {
    for (int y = 0; y < 8; ++y, dst += stride, b += 8)
        for (int x = 0; x < 8; ++x) dst[x] = clampPixel(b[x] + 128);
}
void addBlockPlain(const int16_t* b, uint8_t* dst, int stride) {
    for (int y = 0; y < 8; ++y, dst += stride, b += 8)
        for (int x = 0; x < 8; ++x) dst[x] = clampPixel(dst[x] + b[x]);
}

#ifdef ZEMBRA_X86
// Saturating 16-bit adds before the unsigned pack give the same bytes as
// the plain clamp: anything past 32767 is past 255 too.
__attribute__((target("sse2"))) void putBlockSse2(const int16_t* b, uint8_t* dst, int stride) {
    const __m128i bias = _mm_set1_epi16(128);
    for (int y = 0; y < 8; ++y, dst += stride) {
        __m128i v =
            _mm_adds_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + y * 8)), bias);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(v, v));
    }
}
__attribute__((target("sse2"))) void addBlockSse2(const int16_t* b, uint8_t* dst, int stride) {
    const __m128i z = _mm_setzero_si128();
    for (int y = 0; y < 8; ++y, dst += stride) {
        __m128i p = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(dst)), z);
        __m128i v = _mm_adds_epi16(p, _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + y * 8)));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(v, v));
    }
}
#endif

struct BlockOps {
    void (*put)(const int16_t*, uint8_t*, int);
    void (*add)(const int16_t*, uint8_t*, int);
};
const BlockOps& blockOps() {
    static const BlockOps ops = [] {
        BlockOps o{putBlockPlain, addBlockPlain};
#ifdef ZEMBRA_X86
        if (cpuLevel() >= CpuLevel::Sse2) o = {putBlockSse2, addBlockSse2};
#endif
        return o;
    }();
    return ops;
}

// A block's coefficients back to zero for the next one. Eight stores: the
// compiler makes a string instruction of a 128-byte memset, whose start-up
// costs more than the stores, once for every coded block.
inline void clearBlock(int16_t* blk) {
#ifdef ZEMBRA_X86
    const __m128i zero = _mm_setzero_si128();
    for (int k = 0; k < 8; ++k) _mm_storeu_si128(reinterpret_cast<__m128i*>(blk + 8 * k), zero);
#else
    std::memset(blk, 0, 64 * sizeof(int16_t));
#endif
}

// Rows of a multiple of 8 bytes, a few macroblocks wide: copied in place,
// where a library call per row cost more than the copy.
void copyRows(uint8_t* dst, int dstStride, const uint8_t* src, int srcStride, int width,
              int rows) {
    for (int r = 0; r < rows; ++r, dst += dstStride, src += srcStride) {
        int x = 0;
        for (; x + 16 <= width; x += 16) std::memcpy(dst + x, src + x, 16);
        if (x < width) std::memcpy(dst + x, src + x, 8);
    }
}

enum MotionType { kMotionField = 1, kMotionFrame = 2, kMotion16x8 = 2, kMotionDualPrime = 3 };

}  // namespace

struct Mpeg2Decoder::SliceContext {
    explicit SliceContext(Mpeg2Decoder& dec) : d(dec) {}

    Mpeg2Decoder& d;
    alignas(64) int16_t blocks[12][64] = {};
    int pmv[2][2][2] = {};
    int dcPred[3] = {};
    int qscale = 1;
    int qscaleCode = 1;
    int qmatScale = -1;
    int qmat[4][64] = {};  // quantiser_scale x matrix, natural order

    // Current macroblock.
    int mbType = 0;
    int motionType = 0;
    int dctType = 0;
    int fieldSelect[2][2] = {};
    int mv[2][2][2] = {};  // [r][s][t] as used for prediction
    int dmvector[2] = {};

    // Picture.
    Picture* cur = nullptr;
    Picture* fwd = nullptr;
    Picture* bwd = nullptr;
    mpeg::PictureType type{};
    int structure = 3;
    bool field = false;
    bool secondField = false;
    int parity = 0;  // of the current field
    int mbCount = 0;
    int mbAddr = 0;
    bool complete = false;
    int W = 0, H = 0, CW = 0, CH = 0;
    int fmt = 1;
    int lumaStride = 0, chromaStride = 0;
    int cmbW = 8, cmbH = 8;
    const vlc::CoefficientTable* intraTable = nullptr;
    const vlc::CoefficientTable* interTable = nullptr;
    const uint8_t* scan = mpeg::kZigZag.data();
    const McKernels* mc = nullptr;
    IdctKernels idct{};
    BlockOps ops{};
    alignas(16) uint8_t edge[24 * 24] = {};

    void decode(Picture* target, bool second);
    void slice(uint32_t code);
    void macroblock(int addr);
    void skipped(int addr);
    void skippedRun(int addr, int n);
    bool copySkipped(int addr, int n);
    bool modes();
    int motionDelta(int fcode);
    int wrapVector(int v, int fcode);
    void motionVector(int r, int s, bool dmv, bool fieldInFrame);
    void motionVectors(int s);
    void mpeg1Vectors(int s);
    void updateQuant();
    void intraDc(int16_t* blk, int cc, int precision);
    template <bool Intra, bool Mpeg1>
    int coefficients(int16_t* blk, const int* q, const vlc::CoefficientTable& table);
    void predict(int mbx, int mby);
    void predictDir(int dir, bool avg, int mbx, int mby);
    void mcPlanes(const Picture* ref, int refParity, int dstParityRow, int lx, int ly, int lh,
                  int mvx, int mvy, bool avg, int mbx, int mby, int dstRowOffset,
                  bool fieldInFrame);
    void mcFrame(const Picture* ref, int mvx, int mvy, bool avg, int mbx, int mby);
    void mcBlock(const uint8_t* base, int stride, int pw, int ph, uint8_t* dst, int dstStride,
                 int sx, int sy, int half, int w, int h, bool avg);
    uint8_t* dest(int plane, int mbx, int mby) const;
};

void Mpeg2Decoder::decodePicture() {
    if (!frameStoreReady() || isFatal(status_)) return;
    const bool isField = picture_.pictureStructure != 3;
    if (!isField && progress_.secondField) {
        // A lone first field: the frame ends here with what it has.
        progress_.secondField = false;
        if (progress_.pendingEmit) {
            progress_.pendingEmit = false;
            finishFrame();
        }
    }
    const bool first = !isField || !progress_.secondField;
    Picture* target;
    if (first) {
        if (picture_.pictureCodingType != mpeg::PictureType::B) {
            std::swap(forward_, backward_);
            target = backward_;
        } else {
            target = bPicture();
        }
        currentTarget_ = target;
        currentType_ = picture_.pictureCodingType;
        target->type = picture_.pictureCodingType;
        target->topFieldFirst = picture_.topFieldFirst != 0;
        target->repeatFirstField = picture_.repeatFirstField != 0;
        target->progressiveFrame = picture_.progressiveFrame != 0;
        target->fieldPictures = isField;
    } else {
        target = currentTarget_;
    }
    if (!slice_) slice_.reset(new SliceContext(*this));
    slice_->decode(target, !first);
    if (isField && first) {
        progress_.secondField = true;
        progress_.pendingEmit = true;
        return;
    }
    progress_.secondField = false;
    progress_.pendingEmit = false;
    finishFrame();
}

void Mpeg2Decoder::SliceDeleter::operator()(SliceContext* s) const { delete s; }

void Mpeg2Decoder::finishFrame() {
    ++timing_.decodedFrames;
    ++progress_.framesSinceStart;
    if (currentType_ == mpeg::PictureType::B) {
        emit(bPicture());
    } else {
        if (progress_.framesSinceStart > 1 && progress_.unemittedReference) emit(forward_);
        progress_.unemittedReference = true;
    }
}

bool Mpeg2Decoder::flushLastReference() {
    if (!frameStoreReady() || !progress_.unemittedReference || progress_.framesSinceStart == 0)
        return false;
    progress_.unemittedReference = false;
    emit(backward_, true);
    return true;
}

void Mpeg2Decoder::emit(const Picture* picture, bool afterStop) {
    if (picture == forward_) progress_.unemittedReference = false;
    if (isDamage(status_)) status_ = DecodeStatus::Ok;
    DecodedPicture p;
    for (int i = 0; i < 3; ++i) p.planes[i] = picture->plane[i];
    p.width = sequence_.codedWidth;
    p.height = sequence_.codedHeight;
    p.chromaWidth = sequence_.chromaWidth;
    p.chromaHeight = sequence_.chromaHeight;
    p.chromaFormat = sequence_.chromaFormat;
    p.frameNumber = timing_.emittedFrames++;
    // The flags of the picture shown, not of the one just decoded (a reference
    // is shown one picture later).
    p.pictureType = picture->type;
    p.topFieldFirst = picture->topFieldFirst;
    p.repeatFirstField = picture->repeatFirstField;
    p.progressiveFrame = picture->progressiveFrame;
    p.fieldPictures = picture->fieldPictures;
    p.afterStop = afterStop;
    if (hooks.emitFrame) absorb(hooks.emitFrame(p));
}

uint8_t* Mpeg2Decoder::SliceContext::dest(int plane, int mbx, int mby) const {
    if (plane == 0)
        return cur->plane[0] + (field && parity ? W : 0) + size_t(mby) * 16 * lumaStride + mbx * 16;
    return cur->plane[plane] + (field && parity ? CW : 0) + size_t(mby) * cmbH * chromaStride +
           mbx * cmbW;
}

void Mpeg2Decoder::SliceContext::decode(Picture* target, bool second) {
    cur = target;
    fwd = d.forward_;
    bwd = d.backward_;
    type = d.picture_.pictureCodingType;
    structure = d.picture_.pictureStructure;
    field = structure != 3;
    parity = structure == 2 ? 1 : 0;
    secondField = second;
    W = d.sequence_.codedWidth;
    H = d.sequence_.codedHeight;
    CW = d.sequence_.chromaWidth;
    CH = d.sequence_.chromaHeight;
    fmt = d.sequence_.chromaFormat;
    lumaStride = field ? 2 * W : W;
    chromaStride = field ? 2 * CW : CW;
    cmbW = fmt == 3 ? 16 : 8;
    cmbH = fmt == 1 ? 8 : 16;
    mbCount = d.sequence_.mbWidth * (field ? d.sequence_.mbHeight / 2 : d.sequence_.mbHeight);
    intraTable = &vlc::coefficientTable(d.picture_.intraVlcFormat && d.sequence_.mpeg2 ? 1 : 0);
    interTable = &vlc::nonIntraCoefficientTable();
    scan = d.picture_.alternateScan && d.sequence_.mpeg2 ? mpeg::kAlternateScan.data()
                                                         : mpeg::kZigZag.data();
    mc = &mcKernels(mcFamilyFor(d.idctVariant_));
    idct = idctKernels();
    ops = blockOps();
    qmatScale = -1;
    complete = false;
    if (type < mpeg::PictureType::I || type > mpeg::PictureType::B) {
        // D-pictures and reserved types are not reconstructed.
        return;
    }
    while (!complete && !isFatal(d.status_)) {
        d.nextStartCode();
        if (isFatal(d.status_)) break;
        const uint32_t code = d.showBits(32);
        if (code < mpeg::startCode(mpeg::kSliceFirst) || code > mpeg::startCode(mpeg::kSliceLast)) {
            d.status_ = DecodeStatus::BadSlice;
            break;
        }
        d.flushBits(32);
        slice(code);
        if (isDamage(d.status_)) d.status_ = DecodeStatus::Ok;
    }
}

void Mpeg2Decoder::SliceContext::updateQuant() {
    if (qmatScale == qscale) return;
    qmatScale = qscale;
    for (int i = 0; i < 64; ++i) {
        qmat[0][i] = qscale * d.sequence_.intraMatrix[i];
        qmat[1][i] = qscale * d.sequence_.nonIntraMatrix[i];
        qmat[2][i] = qscale * d.sequence_.chromaIntraMatrix[i];
        qmat[3][i] = qscale * d.sequence_.chromaNonIntraMatrix[i];
    }
}

void Mpeg2Decoder::SliceContext::slice(uint32_t code) {
    int row = int(code & 0xFF);
    if (d.sequence_.mpeg2 && d.sequence_.verticalSize > 2800) row += int(d.getBits(3)) << 7;
    qscaleCode = int(d.getBits(5));
    qscale = !d.sequence_.mpeg2      ? qscaleCode
             : d.picture_.qScaleType ? mpeg::kNonLinearQuant[qscaleCode]
                                     : 2 * qscaleCode;
    if (d.sequence_.mpeg2 && d.showBits(1)) d.flushBits(9);
    while (d.getBit() && !isFatal(d.status_)) d.flushBits(8);

    const int dcReset = 128 << (d.sequence_.mpeg2 ? d.picture_.intraDcPrecision : 0);
    dcPred[0] = dcPred[1] = dcPred[2] = dcReset;
    std::memset(pmv, 0, sizeof pmv);

    // First address increment.
    int inc = 0;
    for (;;) {
        const vlc::Entry e = vlc::mbaTable()[d.showBits(11)];
        if (e.length == 0) {
            d.status_ = DecodeStatus::BadAddressIncrement;
            return;
        }
        d.flushBits(e.length);
        if (e.value == vlc::kMbaStuffing) continue;
        if (e.value == vlc::kMbaEscape) {
            inc += 33;
            continue;
        }
        inc += e.value;
        break;
    }
    int addr = (row - 1) * d.sequence_.mbWidth + inc - 1;
    if (row < 1 || addr < 0 || addr >= mbCount) return;  // slice outside the picture

    for (;;) {
        macroblock(addr);
        if (d.status_ != DecodeStatus::Ok) return;
        if (++addr >= mbCount) {
            complete = true;
            return;
        }
        if (d.showBits(23) == 0) return;  // end of slice
        inc = 0;
        for (;;) {
            const vlc::Entry e = vlc::mbaTable()[d.showBits(11)];
            if (e.length == 0) {
                d.status_ = DecodeStatus::BadAddressIncrement;
                return;
            }
            d.flushBits(e.length);
            if (e.value == vlc::kMbaStuffing) continue;
            if (e.value == vlc::kMbaEscape) {
                inc += 33;
                continue;
            }
            inc += e.value;
            break;
        }
        // Skipped macroblocks, a row of macroblocks at a time.
        for (int left = inc - 1; left > 0;) {
            const int mbWidth = d.sequence_.mbWidth;
            const int n = std::min({left, mbWidth - addr % mbWidth, mbCount - addr});
            skippedRun(addr, n);
            addr += n;
            left -= n;
            if (addr >= mbCount) {
                complete = true;
                return;
            }
        }
    }
}

int Mpeg2Decoder::SliceContext::motionDelta(int fcode) {
    const vlc::Entry e = vlc::motionTable()[d.showBits(11)];
    if (e.length == 0) {
        d.status_ = DecodeStatus::BadMotionCode;
        return 0;
    }
    d.flushBits(e.length);
    const int code = e.value;
    if (code == 0 || fcode <= 1) return code;
    const int rsize = fcode - 1;
    const int residual = int(d.getBits(rsize));
    const int delta = ((std::abs(code) - 1) << rsize) + residual + 1;
    return code < 0 ? -delta : delta;
}

int Mpeg2Decoder::SliceContext::wrapVector(int v, int fcode) {
    const int rsize = fcode - 1;
    const int high = (16 << rsize) - 1, low = -(16 << rsize), range = 32 << rsize;
    if (v < low)
        v += range;
    else if (v > high)
        v -= range;
    return v;
}

// One motion vector of an MPEG-2 macroblock; fieldInFrame: a field vector
// of a frame picture, whose vertical predictor is kept in frame units.
void Mpeg2Decoder::SliceContext::motionVector(int r, int s, bool dmv, bool fieldInFrame) {
    for (int t = 0; t < 2; ++t) {
        const int fcode = std::clamp(d.picture_.fCode[s][t], 1, 15);
        const int delta = motionDelta(fcode);
        if (dmv) {
            const uint32_t b = d.showBits(2);
            if (b & 2) {
                dmvector[t] = (b & 1) ? -1 : 1;
                d.flushBits(2);
            } else {
                dmvector[t] = 0;
                d.flushBits(1);
            }
        }
        int pred = pmv[r][s][t];
        if (t == 1 && fieldInFrame) pred >>= 1;
        const int v = wrapVector(pred + delta, fcode);
        mv[r][s][t] = v;
        pmv[r][s][t] = (t == 1 && fieldInFrame) ? v * 2 : v;
    }
}

void Mpeg2Decoder::SliceContext::motionVectors(int s) {
    if (!field) {
        if (motionType == kMotionFrame) {
            motionVector(0, s, false, false);
            pmv[1][s][0] = pmv[0][s][0];
            pmv[1][s][1] = pmv[0][s][1];
        } else if (motionType == kMotionField) {
            fieldSelect[0][s] = int(d.getBit());
            motionVector(0, s, false, true);
            fieldSelect[1][s] = int(d.getBit());
            motionVector(1, s, false, true);
        } else {  // dual prime
            motionVector(0, s, true, true);
            pmv[1][s][0] = pmv[0][s][0];
            pmv[1][s][1] = pmv[0][s][1];
        }
    } else {
        if (motionType == kMotionField) {
            fieldSelect[0][s] = int(d.getBit());
            motionVector(0, s, false, false);
            pmv[1][s][0] = pmv[0][s][0];
            pmv[1][s][1] = pmv[0][s][1];
        } else if (motionType == kMotion16x8) {
            fieldSelect[0][s] = int(d.getBit());
            motionVector(0, s, false, false);
            fieldSelect[1][s] = int(d.getBit());
            motionVector(1, s, false, false);
        } else {
            motionVector(0, s, true, false);
            pmv[1][s][0] = pmv[0][s][0];
            pmv[1][s][1] = pmv[0][s][1];
        }
    }
}

void Mpeg2Decoder::SliceContext::mpeg1Vectors(int s) {
    const int fcode =
        std::clamp(s == 0 ? d.picture_.forwardFCode : d.picture_.backwardFCode, 1, 15);
    const bool fullPel = (s == 0 ? d.picture_.fullPelForward : d.picture_.fullPelBackward) != 0;
    for (int t = 0; t < 2; ++t) {
        const int delta = motionDelta(fcode);
        const int v = wrapVector(pmv[0][s][t] + delta, fcode);
        pmv[0][s][t] = pmv[1][s][t] = v;
        mv[0][s][t] = fullPel ? v * 2 : v;
    }
}

bool Mpeg2Decoder::SliceContext::modes() {
    const vlc::Entry* table = vlc::mbTypeTable(type);
    const vlc::Entry e = table[d.showBits(6)];
    if (e.length == 0) {
        d.status_ = DecodeStatus::BadMacroblockType;
        return false;
    }
    d.flushBits(e.length);
    mbType = e.value;
    if (d.sequence_.mpeg2) {
        if (mbType & (vlc::kMbForward | vlc::kMbBackward)) {
            motionType =
                (!field && d.picture_.framePredFrameDct) ? kMotionFrame : int(d.getBits(2));
            if (motionType == 0) {
                d.status_ = DecodeStatus::BadMacroblockType;
                return false;
            }
        } else if (mbType & vlc::kMbIntra) {
            motionType = field ? kMotionField : kMotionFrame;  // concealment vectors
        }
        dctType = (!field && !d.picture_.framePredFrameDct &&
                   (mbType & (vlc::kMbIntra | vlc::kMbPattern)))
                      ? int(d.getBit())
                      : 0;
    } else {
        motionType = kMotionFrame;
        dctType = 0;
    }
    return true;
}

namespace {
// MPEG-1 escape: 6-bit run, then an 8-bit level, extended to 16 bits for
// magnitudes of 128 and more.
inline bool mpeg1Escape(Mpeg2Decoder& d, int& i, int& level, bool& negative) {
    d.flushBits(6);
    i += int(d.getBits(6)) + 1;
    int l = int(d.getBits(8));
    if (l == 0) {
        l = int(d.getBits(8));
    } else if (l == 128) {
        l = int(d.getBits(8)) - 256;
    } else if (l > 128) {
        l -= 256;
    }
    if (l == 0 || i > 63) return false;
    negative = l < 0;
    level = negative ? -l : l;
    return true;
}

// MPEG-2 escape: 6-bit run, 12-bit signed level in one piece (24 bits
// with the escape code, for the caller to flush).
inline bool mpeg2Escape(uint32_t bits, int& i, int& level, bool& negative) {
    i += int((bits >> 20) & 63) + 1;
    level = int((bits >> 8) & 0xFFF);
    if ((level & 0x7FF) == 0 || i > 63) return false;
    negative = level >= 2048;
    if (negative) level = 4096 - level;
    return true;
}

// factor: the level (intra) or 2 level + 1 (non-intra), signed; the
// magnitude is scaled and the sign put back. MPEG-1 reconstruction makes
// every value odd and clamps it to 12 bits; MPEG-2 leaves both to the
// mismatch-free transform, and its negative values, rounded towards zero
// like the positive ones, take the bias below the shift instead of a
// negation on either side of it.
template <bool Mpeg1>
inline int16_t dequantised(int factor, int q, int shift) {
    if constexpr (Mpeg1) {
        const bool negative = factor < 0;
        int v = ((negative ? -factor : factor) * q) >> shift;
        if (v) v = (v - 1) | 1;
        if (negative) return int16_t(v > 2048 ? -2048 : -v);
        return int16_t(v > 2047 ? 2047 : v);
    }
    const int x = factor * q;
    return int16_t((x + ((x >> 31) & ((1 << shift) - 1))) >> shift);
}
}  // namespace

void Mpeg2Decoder::SliceContext::intraDc(int16_t* blk, int cc, int precision) {
    const vlc::Entry e = (cc == 0 ? vlc::dcLumaTable() : vlc::dcChromaTable())[d.showBits(10)];
    d.flushBits(e.length);
    const int size = e.value;
    int diff = 0;
    if (size) {
        diff = int(d.getBits(size));
        if (diff < (1 << (size - 1))) diff -= (1 << size) - 1;
    }
    dcPred[cc] += diff;
    // Centred on zero: the put adds the 128 back.
    blk[0] = int16_t((dcPred[cc] << (3 - precision)) - 1024);
}

// The AC coefficients of an intra block, or every coefficient of a
// non-intra one, up to the end of block; returns the scan position of the
// last (0 when only the first is there). Each of the four instances is a
// loop of its own: the first-coefficient short code, the escape layout and
// the scaling are settled at compile time.
template <bool Intra, bool Mpeg1>
int Mpeg2Decoder::SliceContext::coefficients(int16_t* blk, const int* q,
                                              const vlc::CoefficientTable& table) {
    // Intra: level x q / 16 (MPEG-2) or / 8 (MPEG-1); non-intra: (2 level + 1) x q / 32 or / 16.
    constexpr int shift = (Intra ? 3 : 4) + (Mpeg1 ? 0 : 1);
    // The loop is a chain of dependent shifts of the bit window: a copy in
    // registers spares every link a store and a load around the refill
    // call. While eight bytes of the run are ahead the window is topped up
    // after every code without a branch: the next eight bytes go in below
    // the bits it holds and the whole bytes among them count as read (the
    // bits of the part byte are put in again, the same, next time). Near
    // the run's end the decoder's own refill takes over.
    uint64_t window = d.window_;
    int count = d.windowBits_;
    const uint8_t* cursor = d.demux_.cursor;
    const uint8_t* end = d.demux_.videoEnd;
    const auto handBack = [&] {
        // Only the bits counted: the decoder's refill adds below them.
        d.window_ = window & ~(~uint64_t(0) >> count);
        d.windowBits_ = count;
        d.demux_.cursor = cursor;
    };
    const auto takeBack = [&] {
        window = d.window_;
        count = d.windowBits_;
        cursor = d.demux_.cursor;
        end = d.demux_.videoEnd;
    };
    const auto flush = [&](int n) {
        window <<= n;
        count -= n;
        if (end - cursor >= 8) [[likely]] {
            window |= readBe64(cursor) >> count;
            cursor += (63 - count) >> 3;
            count |= 56;
        } else if (count < 32) {
            handBack();
            d.refillWindow();
            takeBack();
        }
    };
    // Locals, so the loop reads neither through `this` after each store.
    const uint8_t* const order = scan;
    // The pairs of the tables for intra blocks hold the levels, those of
    // the non-intra table the factors already.
    const auto put = [&](int at, int factor) {
        const int pos = order[at];
        blk[pos] = dequantised<Mpeg1>(factor, q[pos], shift);
    };
    const auto putLevel = [&](int at, int level, bool negative) {
        const int factor = Intra ? level : 2 * level + 1;
        put(at, negative ? -factor : factor);
    };
    int i = Intra ? 0 : -1;
    if constexpr (!Intra) {
        // "1s": the short form of (0, 1) for the first coefficient; a first
        // code starting with 0 is an ordinary one (the end of block, "10",
        // cannot come first).
        if (const uint32_t bits = uint32_t(window >> 32); bits >> 31) {
            i = 0;
            putLevel(0, 1, (bits >> 30) & 1);
            flush(2);
        }
    }
    for (;;) {
        const uint32_t bits = uint32_t(window >> 32);
        // Most steps take one or two ordinary codes: a chain of lookups and
        // shifts, each waiting for the one before, so two codes a link
        // halve it. A one-code entry writes its coefficient twice.
        const vlc::CoefficientPair& p = table.lookupPair(bits);
        const int first = i + p.skip[0], second = first + p.skip[1];
        if (second <= 63) [[likely]] {
            flush(p.length);
            put(first, p.level[0]);
            put(second, p.level[1]);
            i = second;
            continue;
        }
        // The end of block, an escape, a bad code or a run past the block:
        // one code, the long way.
        int level;
        bool negative;
        const vlc::Coefficient& c = table.lookup(bits);
        if (c.run == vlc::kEob) {
            flush(c.length);
            handBack();
            return i;
        }
        bool ok;
        if (c.run == vlc::kEscape) {
            if constexpr (Mpeg1) {
                handBack();
                ok = mpeg1Escape(d, i, level, negative);
                takeBack();
            } else {
                ok = mpeg2Escape(bits, i, level, negative);
                if (ok) flush(24);
            }
        } else {
            i += c.run + 1;
            ok = c.length && i <= 63;
            negative = c.level < 0;
            level = negative ? -c.level : c.level;
            if (ok) flush(c.length);
        }
        if (!ok) {
            handBack();
            d.status_ = DecodeStatus::BadCoefficient;
            return i;
        }
        putLevel(i, level, negative);
    }
}

void Mpeg2Decoder::SliceContext::mcBlock(const uint8_t* base, int stride, int pw, int ph,
                                         uint8_t* dst, int dstStride, int sx, int sy, int half,
                                         int w, int h, bool avg) {
    const int needW = w + (half & 1), needH = h + (half >> 1);
    const uint8_t* src;
    int ss;
    if (sx < 0 || sy < 0 || sx + needW > pw || sy + needH > ph) {
        // The source reaches outside the plane (a damaged or hostile vector):
        // read the nearest edge pixels instead, never past the plane.
        for (int r = 0; r < needH; ++r) {
            const int yy = std::clamp(sy + r, 0, ph - 1);
            const uint8_t* row = base + size_t(yy) * stride;
            for (int c = 0; c < needW; ++c) edge[r * 24 + c] = row[std::clamp(sx + c, 0, pw - 1)];
        }
        src = edge;
        ss = 24;
    } else {
        src = base + size_t(sy) * stride + sx;
        ss = stride;
    }
    mc->fn[avg ? 1 : 0][w == 16 ? 1 : 0][half](dst, dstStride, src, ss, h);
}

// Prediction of one macroblock (or one field or half of it) from `ref`.
// refParity: -1 the whole frame, 0/1 one of its fields. lx, ly: position of
// the block in the reference view; lh: luma rows. The destination is the
// macroblock, moved down by dstRowOffset rows of the picture and, for a field
// of a frame picture (fieldInFrame), starting at row dstParityRow with the
// stride doubled.
void Mpeg2Decoder::SliceContext::mcPlanes(const Picture* ref, int refParity, int dstParityRow,
                                          int lx, int ly, int lh, int mvx, int mvy, bool avg,
                                          int mbx, int mby, int dstRowOffset, bool fieldInFrame) {
    if (!ref) return;
    // Luma.
    {
        const int stride = refParity >= 0 ? 2 * W : W;
        const int ph = refParity >= 0 ? H / 2 : H;
        const uint8_t* base = ref->plane[0] + (refParity == 1 ? W : 0);
        int dstStride = fieldInFrame ? 2 * lumaStride : lumaStride;
        uint8_t* dst = dest(0, mbx, mby) + (fieldInFrame ? dstParityRow * lumaStride : 0) +
                       size_t(dstRowOffset) * lumaStride;
        const int half = (mvx & 1) | ((mvy & 1) << 1);
        mcBlock(base, stride, W, ph, dst, dstStride, lx + (mvx >> 1), ly + (mvy >> 1), half, 16, lh,
                avg);
    }
    // Chroma.
    const int cmvx = fmt == 3 ? mvx : mvx / 2;
    const int cmvy = fmt == 1 ? mvy / 2 : mvy;
    const int cx = fmt == 3 ? lx : lx / 2;
    const int cy = fmt == 1 ? ly / 2 : ly;
    const int ch = fmt == 1 ? lh / 2 : lh;
    const int cRowOffset = fmt == 1 ? dstRowOffset / 2 : dstRowOffset;
    const int stride = refParity >= 0 ? 2 * CW : CW;
    const int ph = refParity >= 0 ? CH / 2 : CH;
    const int half = (cmvx & 1) | ((cmvy & 1) << 1);
    const int dstStride = fieldInFrame ? 2 * chromaStride : chromaStride;
    for (int p = 1; p < 3; ++p) {
        const uint8_t* base = ref->plane[p] + (refParity == 1 ? CW : 0);
        uint8_t* dst = dest(p, mbx, mby) + (fieldInFrame ? dstParityRow * chromaStride : 0) +
                       size_t(cRowOffset) * chromaStride;
        mcBlock(base, stride, CW, ph, dst, dstStride, cx + (cmvx >> 1), cy + (cmvy >> 1), half,
                cmbW, ch, avg);
    }
}

// A frame prediction of a frame picture, most macroblocks' prediction: when
// the vector's blocks lie inside the reference the kernels read them there
// directly, with mcPlanes' positions, which takes every other case.
void Mpeg2Decoder::SliceContext::mcFrame(const Picture* ref, int mvx, int mvy, bool avg, int mbx,
                                         int mby) {
    const int sx = mbx * 16 + (mvx >> 1), sy = mby * 16 + (mvy >> 1);
    const int half = (mvx & 1) | ((mvy & 1) << 1);
    const int cmvx = fmt == 3 ? mvx : mvx / 2, cmvy = fmt == 1 ? mvy / 2 : mvy;
    const int csx = mbx * cmbW + (cmvx >> 1), csy = mby * cmbH + (cmvy >> 1);
    const int chalf = (cmvx & 1) | ((cmvy & 1) << 1);
    const bool inside = ref && sx >= 0 && sy >= 0 && sx + 16 + (half & 1) <= W &&
                        sy + 16 + (half >> 1) <= H && csx >= 0 && csy >= 0 &&
                        csx + cmbW + (chalf & 1) <= CW && csy + cmbH + (chalf >> 1) <= CH;
    if (!inside) {
        mcPlanes(ref, -1, 0, mbx * 16, mby * 16, 16, mvx, mvy, avg, mbx, mby, 0, false);
        return;
    }
    const McFn(&kernel)[2][4] = mc->fn[avg ? 1 : 0];
    kernel[1][half](dest(0, mbx, mby), lumaStride, ref->plane[0] + size_t(sy) * size_t(W) + sx, W,
                    16);
    const size_t at = size_t(csy) * size_t(CW) + size_t(csx);
    const McFn chroma = kernel[cmbW == 16 ? 1 : 0][chalf];
    chroma(dest(1, mbx, mby), chromaStride, ref->plane[1] + at, CW, cmbH);
    chroma(dest(2, mbx, mby), chromaStride, ref->plane[2] + at, CW, cmbH);
}

void Mpeg2Decoder::SliceContext::predictDir(int dir, bool avg, int mbx, int mby) {
    const Picture* ref = dir == 0 ? fwd : bwd;
    if (!field) {
        if (motionType == kMotionFrame) {
            mcFrame(ref, mv[0][dir][0], mv[0][dir][1], avg, mbx, mby);
        } else if (motionType == kMotionField) {
            for (int r = 0; r < 2; ++r)
                mcPlanes(ref, fieldSelect[r][dir], r, mbx * 16, mby * 8, 8, mv[r][dir][0],
                         mv[r][dir][1], avg, mbx, mby, 0, true);
        } else {  // dual prime, forward only
            const int mx = mv[0][0][0], my = mv[0][0][1];
            for (int p = 0; p < 2; ++p) {
                int m = d.picture_.topFieldFirst ? (p == 0 ? 1 : 3) : (p == 0 ? 3 : 1);
                const int dmx = ((mx * m + (mx > 0)) >> 1) + dmvector[0];
                const int dmy = ((my * m + (my > 0)) >> 1) + dmvector[1] + (p == 0 ? -1 : 1);
                mcPlanes(ref, p, p, mbx * 16, mby * 8, 8, mx, my, false, mbx, mby, 0, true);
                mcPlanes(ref, 1 - p, p, mbx * 16, mby * 8, 8, dmx, dmy, true, mbx, mby, 0, true);
            }
        }
        return;
    }
    // Field pictures: the second field of a P picture may predict from the
    // first field of its own frame.
    auto refFor = [&](int sel) -> const Picture* {
        if (dir == 0 && type == mpeg::PictureType::P && secondField && sel != parity) return cur;
        return ref;
    };
    if (motionType == kMotionField) {
        const int sel = fieldSelect[0][dir];
        mcPlanes(refFor(sel), sel, 0, mbx * 16, mby * 16, 16, mv[0][dir][0], mv[0][dir][1], avg,
                 mbx, mby, 0, false);
    } else if (motionType == kMotion16x8) {
        for (int r = 0; r < 2; ++r) {
            const int sel = fieldSelect[r][dir];
            mcPlanes(refFor(sel), sel, 0, mbx * 16, mby * 16 + 8 * r, 8, mv[r][dir][0],
                     mv[r][dir][1], avg, mbx, mby, 8 * r, false);
        }
    } else {  // dual prime
        const int mx = mv[0][0][0], my = mv[0][0][1];
        const int dmx = ((mx + (mx > 0)) >> 1) + dmvector[0];
        const int dmy = ((my + (my > 0)) >> 1) + dmvector[1] + (parity == 0 ? -1 : 1);
        mcPlanes(ref, parity, 0, mbx * 16, mby * 16, 16, mx, my, false, mbx, mby, 0, false);
        const Picture* opposite = secondField ? cur : ref;
        mcPlanes(opposite, 1 - parity, 0, mbx * 16, mby * 16, 16, dmx, dmy, true, mbx, mby, 0,
                 false);
    }
}

void Mpeg2Decoder::SliceContext::predict(int mbx, int mby) {
    const bool f = mbType & vlc::kMbForward, b = mbType & vlc::kMbBackward;
    if (f) predictDir(0, false, mbx, mby);
    if (b) predictDir(1, f, mbx, mby);
    if (!f && !b && type == mpeg::PictureType::P) {
        // P macroblock without motion: zero vector from the same position.
        const int saveType = motionType;
        motionType = field ? kMotionField : kMotionFrame;
        fieldSelect[0][0] = parity;
        std::memset(mv, 0, sizeof mv);
        predictDir(0, false, mbx, mby);
        motionType = saveType;
    }
}

void Mpeg2Decoder::SliceContext::skipped(int addr) {
    const int mbx = addr % d.sequence_.mbWidth, mby = addr / d.sequence_.mbWidth;
    const int dcReset = 128 << (d.sequence_.mpeg2 ? d.picture_.intraDcPrecision : 0);
    dcPred[0] = dcPred[1] = dcPred[2] = dcReset;
    if (type == mpeg::PictureType::P) {
        std::memset(pmv, 0, sizeof pmv);
        std::memset(mv, 0, sizeof mv);
        mbType = vlc::kMbForward;
        motionType = field ? kMotionField : kMotionFrame;
        fieldSelect[0][0] = parity;
    } else {
        if (mbType & vlc::kMbIntra) return;  // not allowed after intra: nothing to predict from
        // B pictures predict in the previous directions with the predicted
        // vectors, as a frame (or same-parity field) prediction.
        motionType = field ? kMotionField : kMotionFrame;
        for (int s = 0; s < 2; ++s) {
            mv[0][s][0] = pmv[0][s][0];
            mv[0][s][1] = pmv[0][s][1];
            fieldSelect[0][s] = parity;
        }
    }
    predict(mbx, mby);
}

// n skipped macroblocks from addr, all in one row. Each sets the same state
// and predicts the same way from the same vectors, so after the first the
// rest are often one copy of a rectangle.
void Mpeg2Decoder::SliceContext::skippedRun(int addr, int n) {
    skipped(addr);
    if (n > 1 && copySkipped(addr + 1, n - 1)) return;
    for (int k = 1; k < n; ++k) skipped(addr + k);
}

// The prediction of n skipped macroblocks from addr when it copies whole
// pixels from one reference inside its planes (a P picture's skipped
// macroblocks, most B ones): row by row across all of them, the bytes the
// per-macroblock copies write. False, having done nothing, otherwise.
bool Mpeg2Decoder::SliceContext::copySkipped(int addr, int n) {
    if (field || motionType != kMotionFrame) return false;
    const int dirs = mbType & (vlc::kMbForward | vlc::kMbBackward);
    if ((mbType & vlc::kMbIntra) || (dirs != vlc::kMbForward && dirs != vlc::kMbBackward))
        return false;
    const int dir = dirs == vlc::kMbForward ? 0 : 1;
    const Picture* ref = dir == 0 ? fwd : bwd;
    if (!ref || ref == cur) return false;
    const int mvx = mv[0][dir][0], mvy = mv[0][dir][1];
    const int cmvx = fmt == 3 ? mvx : mvx / 2, cmvy = fmt == 1 ? mvy / 2 : mvy;
    if (((mvx | mvy | cmvx | cmvy) & 1) != 0) return false;
    const int mbx = addr % d.sequence_.mbWidth, mby = addr / d.sequence_.mbWidth;
    const int sx = mbx * 16 + (mvx >> 1), sy = mby * 16 + (mvy >> 1);
    const int csx = mbx * cmbW + (cmvx >> 1), csy = mby * cmbH + (cmvy >> 1);
    const int width = 16 * n, chromaWidth = cmbW * n;
    if (sx < 0 || sy < 0 || sx + width > W || sy + 16 > H || csx < 0 || csy < 0 ||
        csx + chromaWidth > CW || csy + cmbH > CH)
        return false;
    copyRows(dest(0, mbx, mby), lumaStride, ref->plane[0] + size_t(sy) * size_t(W) + size_t(sx),
             W, width, 16);
    const size_t at = size_t(csy) * size_t(CW) + size_t(csx);
    copyRows(dest(1, mbx, mby), chromaStride, ref->plane[1] + at, CW, chromaWidth, cmbH);
    copyRows(dest(2, mbx, mby), chromaStride, ref->plane[2] + at, CW, chromaWidth, cmbH);
    return true;
}

void Mpeg2Decoder::SliceContext::macroblock(int addr) {
    const int mbx = addr % d.sequence_.mbWidth, mby = addr / d.sequence_.mbWidth;
    if (!modes()) return;
    if (mbType & vlc::kMbQuant) {
        qscaleCode = int(d.getBits(5));
        qscale = !d.sequence_.mpeg2      ? qscaleCode
                 : d.picture_.qScaleType ? mpeg::kNonLinearQuant[qscaleCode]
                                         : 2 * qscaleCode;
    }
    const bool intra = mbType & vlc::kMbIntra;
    if (intra) {
        if (d.sequence_.mpeg2 && d.picture_.concealmentMotionVectors) {
            motionVectors(0);
            d.flushBits(1);  // marker
        } else {
            std::memset(pmv, 0, sizeof pmv);
        }
    } else {
        const int dcReset = 128 << (d.sequence_.mpeg2 ? d.picture_.intraDcPrecision : 0);
        dcPred[0] = dcPred[1] = dcPred[2] = dcReset;
        if (d.sequence_.mpeg2) {
            if (mbType & vlc::kMbForward) motionVectors(0);
            if (mbType & vlc::kMbBackward) motionVectors(1);
        } else {
            if (mbType & vlc::kMbForward) mpeg1Vectors(0);
            if (mbType & vlc::kMbBackward) mpeg1Vectors(1);
        }
        if (type == mpeg::PictureType::P && !(mbType & vlc::kMbForward))
            std::memset(pmv, 0, sizeof pmv);
    }
    if (d.status_ != DecodeStatus::Ok) return;

    const int nb = d.sequence_.blockCount;
    int cbp;
    if (intra) {
        cbp = (1 << nb) - 1;
    } else if (mbType & vlc::kMbPattern) {
        const vlc::Entry e = vlc::cbpTable()[d.showBits(9)];
        if (e.length == 0 || (!d.sequence_.mpeg2 && e.value == 0)) {
            d.status_ = DecodeStatus::BadBlockPattern;
            return;
        }
        d.flushBits(e.length);
        cbp = e.value;
        if (nb == 8)
            cbp = (cbp << 2) | int(d.getBits(2));
        else if (nb == 12)
            cbp = (cbp << 6) | int(d.getBits(6));
    } else {
        cbp = 0;
    }

    if (!intra) predict(mbx, mby);
    if (cbp == 0) return;

    updateQuant();
    const int dcPrecision = d.sequence_.mpeg2 ? d.picture_.intraDcPrecision : 0;
    int dcOnly = 0;  // blocks whose only coefficient is the DC, a bit each
    for (int b = 0; b < nb; ++b) {
        if (!(cbp & (1 << (nb - 1 - b)))) continue;
        int16_t* blk = blocks[b];
        const bool chroma = b >= 4;
        const int* q = qmat[(chroma && fmt != 1 ? 2 : 0) + (intra ? 0 : 1)];
        if (intra) intraDc(blk, chroma ? 1 + ((b - 4) & 1) : 0, dcPrecision);
        int last;
        if (d.sequence_.mpeg2) {
            if (intra)
                last = coefficients<true, false>(blk, q, *intraTable);
            else
                last = coefficients<false, false>(blk, q, *interTable);
        } else {
            if (intra)
                last = coefficients<true, true>(blk, q, *intraTable);
            else
                last = coefficients<false, true>(blk, q, *interTable);
        }
        if (last == 0) dcOnly |= 1 << b;
        if (d.status_ != DecodeStatus::Ok) {
            for (int k = 0; k < nb; ++k) std::memset(blocks[k], 0, sizeof blocks[k]);
            return;
        }
    }

    for (int b = 0; b < nb; ++b) {
        if (!(cbp & (1 << (nb - 1 - b)))) continue;
        int16_t* blk = blocks[b];
        inverseTransform(d.idctVariant_, blk, idct, (dcOnly >> b) & 1);
        uint8_t* dst;
        int stride;
        if (b < 4) {
            stride = dctType ? 2 * lumaStride : lumaStride;
            dst = dest(0, mbx, mby) + (b & 1) * 8 +
                  (dctType ? (b >> 1) * lumaStride : (b >> 1) * 8 * lumaStride);
        } else {
            const int ci = b - 4;
            const int plane = 1 + (ci & 1);
            const int k = ci >> 1;  // 4:2:2: 0 top, 1 bottom; 4:4:4: also 2, 3 on the right
            const bool fieldDct = dctType && fmt != 1;
            stride = fieldDct ? 2 * chromaStride : chromaStride;
            dst = dest(plane, mbx, mby) + (k >> 1) * 8 +
                  ((k & 1) ? (fieldDct ? chromaStride : 8 * chromaStride) : 0);
        }
        if (intra)
            ops.put(blk, dst, stride);
        else
            ops.add(blk, dst, stride);
        clearBlock(blk);
    }
}

}  // namespace zembra
