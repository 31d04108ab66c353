#include "audio/ac3_decoder.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>

#include "audio/ac3_tables.h"

namespace zembra {

namespace {

using namespace ac3;

constexpr int kNfChans[8] = {2, 1, 2, 3, 3, 4, 4, 5};

struct Tables {
    uint8_t bandOfBin[256];
    double window[512];  // Kaiser-Bessel-derived, alpha 5
    uint16_t crc[256];
    // DCT-IV by a half-size complex FFT, for sizes 256 and 128.
    std::complex<double> pre256[128], post256[128], pre128[64], post128[64];
    std::complex<double> root128[64], root64[32];
    double pow2neg[64];

    Tables() {
        for (int band = 0; band < 50; ++band)
            for (int bin = kBandStart[band]; bin < kBandStart[band + 1]; ++bin)
                bandOfBin[bin] = uint8_t(band);
        for (int bin = 253; bin < 256; ++bin) bandOfBin[bin] = 49;

        auto bessel = [](double x) {
            double sum = 1.0, term = 1.0;
            for (int k = 1; k < 50; ++k) {
                term *= (x / 2) / k;
                sum += term * term;
            }
            return sum;
        };
        double kaiser[257], total = 0;
        for (int j = 0; j <= 256; ++j) {
            double r = (j - 128) / 128.0;
            kaiser[j] = bessel(M_PI * 5.0 * std::sqrt(std::max(0.0, 1.0 - r * r)));
            total += kaiser[j];
        }
        double running = 0;
        for (int n = 0; n < 256; ++n) {
            running += kaiser[n];
            window[n] = window[511 - n] = std::sqrt(running / total);
        }

        for (int i = 0; i < 256; ++i) {
            uint16_t c = uint16_t(i << 8);
            for (int b = 0; b < 8; ++b)
                c = (c & 0x8000) ? uint16_t((c << 1) ^ 0x8005) : uint16_t(c << 1);
            crc[i] = c;
        }

        for (int n = 0; n < 128; ++n) {
            pre256[n] = post256[n] = std::polar(1.0, -M_PI * (n + 0.125) / 256);
        }
        for (int n = 0; n < 64; ++n) {
            root128[n] = std::polar(1.0, -2 * M_PI * n / 128);
            pre128[n] = post128[n] = std::polar(1.0, -M_PI * (n + 0.125) / 128);
        }
        for (int n = 0; n < 32; ++n) root64[n] = std::polar(1.0, -2 * M_PI * n / 64);
        for (int e = 0; e < 64; ++e) pow2neg[e] = std::ldexp(1.0, -e);
    }
};

const Tables& tables() {
    static const Tables t;
    return t;
}

// Complex products written out: the library's operator* takes the slow
// path that guards against infinities, which the transform never meets.
inline std::complex<double> mul(std::complex<double> a, std::complex<double> b) {
    return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

// In-place radix-2 complex FFT of size n (64 or 128), forward direction.
void fft(std::complex<double>* a, int n, const std::complex<double>* roots) {
    for (int i = 1, j = 0; i < n; ++i) {
        int bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (int len = 2; len <= n; len <<= 1) {
        int step = n / len;
        for (int i = 0; i < n; i += len)
            for (int k = 0; k < len / 2; ++k) {
                std::complex<double> t = mul(a[i + k + len / 2], roots[k * step]);
                a[i + k + len / 2] = a[i + k] - t;
                a[i + k] += t;
            }
    }
}

// C[m] = sum_k X[k] cos(pi/M (m + 1/2)(k + 1/2)), M = 256 or 128.
void dct4(const double* x, double* c, int m) {
    const Tables& t = tables();
    const std::complex<double>* pre = m == 256 ? t.pre256 : t.pre128;
    const std::complex<double>* post = m == 256 ? t.post256 : t.post128;
    const std::complex<double>* roots = m == 256 ? t.root128 : t.root64;
    std::complex<double> z[128];
    int half = m / 2;
    for (int n = 0; n < half; ++n)
        z[n] = mul(std::complex<double>(x[2 * n], x[m - 1 - 2 * n]), pre[n]);
    fft(z, half, roots);
    for (int k = 0; k < half; ++k) {
        std::complex<double> y = mul(z[k], post[k]);
        c[2 * k] = y.real();
        c[m - 1 - 2 * k] = -y.imag();
    }
}

}  // namespace

struct Ac3Decoder::Bits {
    const uint8_t* data;
    int bitCount;
    int pos = 0;
    bool overrun = false;

    Bits(const uint8_t* d, int bytes) : data(d), bitCount(bytes * 8) {}

    uint32_t get(int n) {
        if (n == 0) return 0;
        if (pos + n > bitCount) {
            overrun = true;
            pos = bitCount;
            return 0;
        }
        // The frame buffer is padded by 8 bytes, so reading 8 bytes is safe.
        uint64_t w;
        std::memcpy(&w, data + (pos >> 3), 8);
        w = __builtin_bswap64(w) << (pos & 7);
        pos += n;
        return uint32_t(w >> (64 - n));
    }
    void skip(int n) {
        if (pos + n > bitCount) {
            overrun = true;
            pos = bitCount;
        } else {
            pos += n;
        }
    }
};

Ac3Decoder::Ac3Decoder() { start(); }

void Ac3Decoder::start() {
    (void)tables();
    have_ = need_ = 0;
    shift_ = 0;
    error_ = false;
    framesDecoded_ = framesDropped_ = 0;
    for (auto& c : ch_) c = Channel{};
    cplinu_ = false;
    std::memset(surround_, 0, sizeof(surround_));
    dither_ = 0;
}

int Ac3Decoder::frameBytes(int fscod, int frmsizecod) {
    if (fscod < 0 || fscod > 2 || frmsizecod < 0 || frmsizecod > 37) return 0;
    return kFrameWords[frmsizecod][fscod] * 2;
}

uint16_t Ac3Decoder::crc16(const uint8_t* data, size_t length, uint16_t crc) {
    const uint16_t* table = tables().crc;
    for (size_t i = 0; i < length; ++i) crc = uint16_t((crc << 8) ^ table[(crc >> 8) ^ data[i]]);
    return crc;
}

int Ac3Decoder::nextDither() {
    dither_ = dither_ * 214013u + 2531011u;
    return int((dither_ >> 16) & 0x7fff);
}

int Ac3Decoder::decodeNext(const uint8_t*& data, size_t& length, int16_t* out) {
    while (length > 0) {
        if (have_ == 0) {
            shift_ = (shift_ << 8) | *data++;
            --length;
            if ((shift_ & 0xffff) == 0x0b77) {
                frame_[0] = 0x0b;
                frame_[1] = 0x77;
                have_ = 2;
                need_ = 0;
            }
            continue;
        }
        if (need_ == 0) {
            frame_[have_++] = *data++;
            --length;
            if (have_ == 5) {
                need_ = frameBytes(frame_[4] >> 6, frame_[4] & 63);
                if (need_ == 0) {
                    // Not a frame header: look for a sync word in what was taken.
                    shift_ = (uint32_t(frame_[2]) << 16) | (uint32_t(frame_[3]) << 8) | frame_[4];
                    have_ = 0;
                    if ((shift_ & 0xffff) == 0x0b77) have_ = 2, need_ = 0;
                }
            }
            continue;
        }
        size_t take = std::min<size_t>(size_t(need_ - have_), length);
        std::memcpy(frame_.data() + have_, data, take);
        have_ += int(take);
        data += take;
        length -= take;
        if (have_ < need_) break;

        have_ = 0;
        shift_ = 0;
        std::memset(frame_.data() + need_, 0, 8);
        bool ok = crc16(frame_.data() + 2, size_t(need_ - 2)) == 0;
        if (ok) {
            error_ = false;
            ok = decodeFrame(out);
        }
        if (ok) {
            ++framesDecoded_;
            return kFrameSamples;
        }
        ++framesDropped_;
    }
    return 0;
}

bool Ac3Decoder::decodeFrame(int16_t* out) {
    Bits b(frame_.data(), need_);
    b.skip(32);  // sync word, crc1
    fscod_ = int(b.get(2));
    b.skip(6);
    bsid_ = int(b.get(5));
    if (bsid_ > 8) return false;
    b.skip(3);  // bsmod
    acmod_ = int(b.get(3));
    if ((acmod_ & 1) && acmod_ != 1) cmixlev_ = int(b.get(2));
    if (acmod_ & 4) surmixlev_ = int(b.get(2));
    if (acmod_ == 2) b.skip(2);  // dsurmod
    lfeon_ = b.get(1);
    nfchans_ = kNfChans[acmod_];
    for (int pass = 0; pass < (acmod_ == 0 ? 2 : 1); ++pass) {
        b.skip(5);                    // dialnorm
        if (b.get(1)) b.skip(8);      // compr: parsed, not applied
        if (b.get(1)) b.skip(8);      // langcod
        if (b.get(1)) b.skip(5 + 2);  // mixlevel, roomtyp
    }
    b.skip(2);  // copyrightb, origbs
    if (b.get(1)) b.skip(14);
    if (b.get(1)) b.skip(14);
    if (b.get(1)) b.skip((int(b.get(6)) + 1) * 8);
    if (b.overrun) return false;

    for (int blk = 0; blk < 6; ++blk) {
        if (!decodeBlock(b, blk, out + blk * 512)) {
            error_ = true;
            return false;
        }
    }
    return true;
}

void Ac3Decoder::allocate(const int* exps, int start, int end, int fgain, int snroffset,
                          int fastleak, int slowleak, bool delta, int nseg, const int* offst,
                          const int* len, const int* ba, int* bap) const {
    const Tables& t = tables();
    int sdecay = kSlowDecay[sdcycod_], fdecay = kFastDecay[fdcycod_];
    int sgain = kSlowGain[sgaincod_], dbknee = kDbPerBit[dbpbcod_], floor = kFloor[floorcod_];
    int psd[256], bndpsd[50], excite[50], mask[50];

    for (int bin = start; bin < end; ++bin) psd[bin] = 3072 - (exps[bin] << 7);

    int j = start, k = t.bandOfBin[start], lastbin;
    do {
        lastbin = std::min<int>(kBandStart[k + 1], end);
        bndpsd[k] = psd[j++];
        for (; j < lastbin; ++j) {
            int c = bndpsd[k] - psd[j];
            int address = std::min(std::abs(c) >> 1, 255);
            bndpsd[k] = (c >= 0 ? bndpsd[k] : psd[j]) + kLogAdd[address];
        }
        ++k;
    } while (end > lastbin);

    auto lowcomp = [](int a, int b0, int b1, int bin) {
        if (bin < 7) {
            if (b0 + 256 == b1) return 384;
            if (b0 > b1) return std::max(0, a - 64);
        } else if (bin < 20) {
            if (b0 + 256 == b1) return 320;
            if (b0 > b1) return std::max(0, a - 64);
        } else {
            return std::max(0, a - 128);
        }
        return a;
    };

    int bndstrt = t.bandOfBin[start], bndend = t.bandOfBin[end - 1] + 1;
    int begin;
    if (bndstrt == 0) {
        int lc = 0;
        lc = lowcomp(lc, bndpsd[0], bndpsd[1], 0);
        excite[0] = bndpsd[0] - fgain - lc;
        lc = lowcomp(lc, bndpsd[1], bndpsd[2], 1);
        excite[1] = bndpsd[1] - fgain - lc;
        begin = 7;
        for (int bin = 2; bin < 7; ++bin) {
            bool notLfeEdge = bndend != 7 || bin != 6;
            if (notLfeEdge) lc = lowcomp(lc, bndpsd[bin], bndpsd[bin + 1], bin);
            fastleak = bndpsd[bin] - fgain;
            slowleak = bndpsd[bin] - sgain;
            excite[bin] = fastleak - lc;
            if (notLfeEdge && bndpsd[bin] <= bndpsd[bin + 1]) {
                begin = bin + 1;
                break;
            }
        }
        for (int bin = begin; bin < std::min(bndend, 22); ++bin) {
            if (bndend != 7 || bin != 6) lc = lowcomp(lc, bndpsd[bin], bndpsd[bin + 1], bin);
            fastleak = std::max(fastleak - fdecay, bndpsd[bin] - fgain);
            slowleak = std::max(slowleak - sdecay, bndpsd[bin] - sgain);
            excite[bin] = std::max(fastleak - lc, slowleak);
        }
        begin = 22;
    } else {
        begin = bndstrt;
    }
    for (int bin = begin; bin < bndend; ++bin) {
        fastleak = std::max(fastleak - fdecay, bndpsd[bin] - fgain);
        slowleak = std::max(slowleak - sdecay, bndpsd[bin] - sgain);
        excite[bin] = std::max(fastleak, slowleak);
    }
    for (int bin = bndstrt; bin < bndend; ++bin) {
        if (bndpsd[bin] < dbknee) excite[bin] += (dbknee - bndpsd[bin]) >> 2;
        mask[bin] = std::max<int>(excite[bin], kHearingThreshold[fscod_][bin]);
    }
    if (delta) {
        int band = 0;
        for (int seg = 0; seg <= nseg; ++seg) {
            band += offst[seg];
            int d = ba[seg] >= 4 ? (ba[seg] - 3) << 7 : (ba[seg] - 4) << 7;
            for (int n = 0; n < len[seg] && band < 50; ++n) mask[band++] += d;
        }
    }
    int i = start;
    j = t.bandOfBin[start];
    do {
        lastbin = std::min<int>(kBandStart[j + 1], end);
        int m = mask[j] - snroffset - floor;
        if (m < 0) m = 0;
        m = (m & 0x1fe0) + floor;
        for (; i < lastbin; ++i) {
            int address = std::clamp((psd[i] - m) >> 5, 0, 63);
            bap[i] = kBapTable[address];
        }
        ++j;
    } while (end > lastbin);
}

// Grouped exponents: `groups` 7-bit codes of three differentials, each
// applying to `size` bins from `first`, starting from `value`.
bool Ac3Decoder::unpackExponents(Bits& b, int groups, int size, int value, int* exps, int first,
                                 int end) {
    int bin = first;
    for (int g = 0; g < groups; ++g) {
        int code = int(b.get(7));
        if (code >= 125) return false;
        int d[3] = {code / 25 - 2, (code % 25) / 5 - 2, code % 5 - 2};
        for (int i = 0; i < 3; ++i) {
            value += d[i];
            // Padding differentials past the last bin may stray; ignore them.
            if ((value < 0 || value > 24) && bin < end) return false;
            for (int k = 0; k < size && bin < 256; ++k) exps[bin++] = std::clamp(value, 0, 24);
        }
    }
    return true;
}

void Ac3Decoder::readDeltaSegments(Bits& b, int& nseg, int* offst, int* len, int* ba) {
    nseg = int(b.get(3));
    for (int s = 0; s <= nseg; ++s) {
        offst[s] = int(b.get(5));
        len[s] = int(b.get(4));
        ba[s] = int(b.get(3));
    }
}

// Mantissas of bap 1, 2 and 4 come in grouped codes, which carry over from
// one channel to the next within a block.
struct Ac3Decoder::MantissaReader {
    explicit MantissaReader(Bits& bits) : b(bits) {}

    Bits& b;
    int group1[3], group2[3], group4[2];
    int left1 = 0, left2 = 0, left4 = 0;
    bool bad = false;

    double read(int bap) {
        switch (bap) {
            case 1: {
                if (left1 == 0) {
                    int g = int(b.get(5));
                    if (g >= 27) bad = true;
                    group1[0] = g / 9, group1[1] = (g % 9) / 3, group1[2] = g % 3;
                    left1 = 3;
                }
                return (2 * group1[3 - left1--] - 2) / 3.0;
            }
            case 2: {
                if (left2 == 0) {
                    int g = int(b.get(7));
                    if (g >= 125) bad = true;
                    group2[0] = g / 25, group2[1] = (g % 25) / 5, group2[2] = g % 5;
                    left2 = 3;
                }
                return (2 * group2[3 - left2--] - 4) / 5.0;
            }
            case 3:
                return (2 * int(b.get(3)) - 6) / 7.0;
            case 4: {
                if (left4 == 0) {
                    int g = int(b.get(7));
                    if (g >= 121) bad = true;
                    group4[0] = g / 11, group4[1] = g % 11;
                    left4 = 2;
                }
                return (2 * group4[2 - left4--] - 10) / 11.0;
            }
            case 5:
                return (2 * int(b.get(4)) - 14) / 15.0;
            default: {
                int bits = kMantissaBits[bap];
                int v = int(b.get(bits));
                if (v & (1 << (bits - 1))) v -= 1 << bits;
                return std::ldexp(double(v), 1 - bits);
            }
        }
    }
};

// The coupling channel's mantissas, read once with the first coupled
// channel and spread over every coupled channel afterwards.
struct Ac3Decoder::CouplingMantissas {
    double mant[256];
    bool zero[256];
};

bool Ac3Decoder::decodeBlock(Bits& b, int blk, int16_t* out) {
    readBlockFlags(b);
    // Bit allocation is redone only for what changed since the last block.
    BlockPlan plan;
    plan.paramsChanged = blk == 0;
    if (!readCouplingStrategy(b, blk, plan)) return false;
    if (cplinu_) readCouplingCoordinates(b);
    plan.nrematbd = readRematrixFlags(b);
    if (!readExponentStrategies(b, plan)) return false;
    if (!readExponents(b, blk, plan)) return false;
    if (!readAllocationParams(b, blk, plan)) return false;
    if (!readDeltaAllocation(b, blk, plan)) return false;
    if (b.get(1)) b.skip(int(b.get(9)) * 8);  // skip field
    if (b.overrun) return false;

    allocateBits(plan);
    CouplingMantissas cpl;
    if (!readMantissas(b, cpl)) return false;
    if (cplinu_) decouple(cpl);
    if (acmod_ == 2) rematrix(plan.nrematbd);
    synthesize(out);
    return true;
}

void Ac3Decoder::readBlockFlags(Bits& b) {
    for (int c = 0; c < nfchans_; ++c) ch_[c].blksw = b.get(1);
    for (int c = 0; c < nfchans_; ++c) {
        if (ditherFlagBits) ditherFlagBits->push_back(b.pos);
        ch_[c].dithflag = b.get(1);
    }
    if (b.get(1)) b.skip(8);  // dynrng: parsed, not applied
    if (acmod_ == 0 && b.get(1)) b.skip(8);
}

bool Ac3Decoder::readCouplingStrategy(Bits& b, int blk, BlockPlan& plan) {
    const int nf = nfchans_;
    if (!b.get(1)) return blk != 0;
    plan.paramsChanged = true;
    cplinu_ = b.get(1);
    if (!cplinu_) {
        for (int c = 0; c < nf; ++c) ch_[c].chincpl = false;
        return true;
    }
    for (int c = 0; c < nf; ++c) ch_[c].chincpl = b.get(1);
    phsflginu_ = acmod_ == 2 ? int(b.get(1)) : 0;
    cplbegf_ = int(b.get(4));
    cplendf_ = int(b.get(4));
    ncplsubnd_ = 3 + cplendf_ - cplbegf_;
    if (ncplsubnd_ < 1) return false;
    ncplbnd_ = ncplsubnd_;
    cplbndOf_[0] = 0;
    for (int s = 1; s < ncplsubnd_; ++s) {
        cplbndstrc_[s] = int(b.get(1));
        ncplbnd_ -= cplbndstrc_[s];
        cplbndOf_[s] = cplbndOf_[s - 1] + (cplbndstrc_[s] ? 0 : 1);
    }
    cplstrtmant_ = cplbegf_ * 12 + 37;
    cplendmant_ = (cplendf_ + 3) * 12 + 37;
    std::memset(phsflg_, 0, sizeof(phsflg_));
    return true;
}

void Ac3Decoder::readCouplingCoordinates(Bits& b) {
    bool anyNew = false;
    for (int c = 0; c < nfchans_; ++c) {
        if (!ch_[c].chincpl) continue;
        if (b.get(1)) {
            anyNew = true;
            int mstrcplco = int(b.get(2));
            for (int bnd = 0; bnd < ncplbnd_; ++bnd) {
                int e = int(b.get(4)), m = int(b.get(4));
                double mant = e == 15 ? m / 16.0 : (m + 16) / 32.0;
                cplco_[c][bnd] = mant * std::ldexp(1.0, -(e + 3 * mstrcplco));
            }
        }
    }
    if (acmod_ == 2 && phsflginu_ && anyNew)
        for (int bnd = 0; bnd < ncplbnd_; ++bnd) phsflg_[bnd] = b.get(1);
}

int Ac3Decoder::readRematrixFlags(Bits& b) {
    if (acmod_ != 2) return 0;
    int nrematbd = !cplinu_ || cplbegf_ > 2 ? 4 : cplbegf_ > 0 ? 3 : 2;
    if (b.get(1))
        for (int r = 0; r < nrematbd; ++r) rematflg_[r] = b.get(1);
    return nrematbd;
}

bool Ac3Decoder::readExponentStrategies(Bits& b, BlockPlan& plan) {
    const int nf = nfchans_;
    plan.cplexpstr = cplinu_ ? int(b.get(2)) : 0;
    for (int c = 0; c < nf; ++c) ch_[c].chexpstr = int(b.get(2));
    ch_[nf].chexpstr = lfeon_ ? int(b.get(1)) : 0;
    for (int c = 0; c < nf; ++c) {
        Channel& ch = ch_[c];
        if (ch.chexpstr != 0 && !ch.chincpl) {
            int chbwcod = int(b.get(6));
            if (chbwcod > 60) return false;
            ch.chbwcod = chbwcod;
        }
        int endmant = ch.chincpl ? cplstrtmant_ : 37 + 3 * (ch.chbwcod + 12);
        // Reused exponents must cover the same bins as before.
        if (ch.chexpstr == 0 && endmant != ch.endmant) return false;
        ch.endmant = endmant;
    }
    return true;
}

// A block that reuses exponents needs a block before it: the first block of
// a frame must send them all.
bool Ac3Decoder::readExponents(Bits& b, int blk, const BlockPlan& plan) {
    const int nf = nfchans_;
    if (cplinu_ && plan.cplexpstr != 0) {
        int size = 1 << (plan.cplexpstr - 1);
        int groups = (cplendmant_ - cplstrtmant_) / (3 * size);
        int absexp = int(b.get(4)) << 1;
        if (!unpackExponents(b, groups, size, absexp, cplexps_, cplstrtmant_, cplendmant_))
            return false;
    } else if (cplinu_ && blk == 0) {
        return false;
    }
    for (int c = 0; c < nf; ++c) {
        Channel& ch = ch_[c];
        if (ch.chexpstr == 0) {
            if (blk == 0) return false;
            continue;
        }
        int size = 1 << (ch.chexpstr - 1);
        int groups = (ch.endmant - 1 + 3 * size - 3) / (3 * size);
        ch.exps[0] = int(b.get(4));
        if (!unpackExponents(b, groups, size, ch.exps[0], ch.exps, 1, ch.endmant)) return false;
        b.skip(2);  // gainrng
    }
    if (lfeon_) {
        Channel& lfe = ch_[nf];
        if (lfe.chexpstr) {
            lfe.exps[0] = int(b.get(4));
            if (!unpackExponents(b, 2, 1, lfe.exps[0], lfe.exps, 1, 7)) return false;
        } else if (blk == 0) {
            return false;
        }
        lfe.endmant = 7;
    }
    return true;
}

// The parametric allocation, the SNR offsets and the coupling leak; the
// first block of a frame must send the first two.
bool Ac3Decoder::readAllocationParams(Bits& b, int blk, BlockPlan& plan) {
    const int nf = nfchans_;
    if (b.get(1)) {
        plan.paramsChanged = true;
        sdcycod_ = int(b.get(2));
        fdcycod_ = int(b.get(2));
        sgaincod_ = int(b.get(2));
        dbpbcod_ = int(b.get(2));
        floorcod_ = int(b.get(3));
    } else if (blk == 0) {
        return false;
    }
    if (b.get(1)) {
        plan.paramsChanged = true;
        csnroffst_ = int(b.get(6));
        if (cplinu_) {
            cplfsnroffst_ = int(b.get(4));
            cplfgaincod_ = int(b.get(3));
        }
        for (int c = 0; c < nf; ++c) {
            ch_[c].fsnroffst = int(b.get(4));
            ch_[c].fgaincod = int(b.get(3));
        }
        if (lfeon_) {
            ch_[nf].fsnroffst = int(b.get(4));
            ch_[nf].fgaincod = int(b.get(3));
        }
    } else if (blk == 0) {
        return false;
    }
    if (cplinu_ && b.get(1)) {
        plan.paramsChanged = true;
        cplfleak_ = int(b.get(3));
        cplsleak_ = int(b.get(3));
    }
    return true;
}

bool Ac3Decoder::readDeltaAllocation(Bits& b, int blk, BlockPlan& plan) {
    const int nf = nfchans_;
    if (!b.get(1)) {
        if (blk == 0) {
            cplDeltaOn_ = false;
            for (int c = 0; c < nf; ++c) ch_[c].deltaOn = false;
        }
        return true;
    }
    plan.paramsChanged = true;
    int cplbae = cplinu_ ? int(b.get(2)) : 0;
    int bae[5];
    for (int c = 0; c < nf; ++c) bae[c] = int(b.get(2));
    if (cplbae == 3) return false;
    if (cplbae) cplDeltaOn_ = cplbae == 1;
    if (cplbae == 1) readDeltaSegments(b, cpldeltnseg_, cpldeltoffst_, cpldeltlen_, cpldeltba_);
    for (int c = 0; c < nf; ++c) {
        Channel& ch = ch_[c];
        if (bae[c] == 3) return false;
        if (bae[c]) ch.deltaOn = bae[c] == 1;
        if (bae[c] == 1) readDeltaSegments(b, ch.deltnseg, ch.deltoffst, ch.deltlen, ch.deltba);
    }
    return true;
}

int Ac3Decoder::snrOffset(int fine) const { return (((csnroffst_ - 15) << 4) + fine) << 2; }

void Ac3Decoder::allocateBits(BlockPlan& plan) {
    const int nf = nfchans_;
    Channel& lfe = ch_[nf];
    bool silent =
        csnroffst_ == 0 && (!cplinu_ || cplfsnroffst_ == 0) && (!lfeon_ || lfe.fsnroffst == 0);
    for (int c = 0; c < nf; ++c) silent = silent && ch_[c].fsnroffst == 0;
    if (silent || silentBefore_) plan.paramsChanged = true;
    silentBefore_ = silent;
    if (silent) {
        for (int c = 0; c <= nf; ++c) std::fill(std::begin(ch_[c].bap), std::end(ch_[c].bap), 0);
        std::fill(std::begin(cplbap_), std::end(cplbap_), 0);
        return;
    }
    for (int c = 0; c < nf; ++c) {
        Channel& ch = ch_[c];
        if (!plan.paramsChanged && ch.chexpstr == 0) continue;
        allocate(ch.exps, 0, ch.endmant, kFastGain[ch.fgaincod], snrOffset(ch.fsnroffst), 0, 0,
                 ch.deltaOn, ch.deltnseg, ch.deltoffst, ch.deltlen, ch.deltba, ch.bap);
    }
    if (cplinu_ && (plan.paramsChanged || plan.cplexpstr != 0))
        allocate(cplexps_, cplstrtmant_, cplendmant_, kFastGain[cplfgaincod_],
                 snrOffset(cplfsnroffst_), (cplfleak_ << 8) + 768, (cplsleak_ << 8) + 768,
                 cplDeltaOn_, cpldeltnseg_, cpldeltoffst_, cpldeltlen_, cpldeltba_, cplbap_);
    if (lfeon_ && (plan.paramsChanged || lfe.chexpstr != 0))
        allocate(lfe.exps, 0, 7, kFastGain[lfe.fgaincod], snrOffset(lfe.fsnroffst), 0, 0, false, 0,
                 nullptr, nullptr, nullptr, lfe.bap);
}

double Ac3Decoder::ditherValue() {
    int d = int(nextDither() * 46340 / 32767) - 23170;
    return d / 32768.0;
}

bool Ac3Decoder::readMantissas(Bits& b, CouplingMantissas& cpl) {
    const Tables& t = tables();
    const int nf = nfchans_;
    MantissaReader mantissas(b);
    bool cplDone = false;
    for (int c = 0; c < nf; ++c) {
        Channel& ch = ch_[c];
        for (int bin = 0; bin < ch.endmant; ++bin) {
            double m = ch.bap[bin]   ? mantissas.read(ch.bap[bin])
                       : ch.dithflag ? ditherValue()
                                     : 0.0;
            ch.coef[bin] = m * t.pow2neg[ch.exps[bin]];
        }
        std::fill(ch.coef + ch.endmant, ch.coef + 256, 0.0);
        if (ch.chincpl && !cplDone) {
            cplDone = true;
            for (int bin = cplstrtmant_; bin < cplendmant_; ++bin) {
                cpl.zero[bin] = cplbap_[bin] == 0;
                cpl.mant[bin] = cpl.zero[bin] ? 0.0 : mantissas.read(cplbap_[bin]);
            }
        }
    }
    if (lfeon_) {
        Channel& lfe = ch_[nf];
        for (int bin = 0; bin < 7; ++bin)
            lfe.coef[bin] =
                lfe.bap[bin] ? mantissas.read(lfe.bap[bin]) * t.pow2neg[lfe.exps[bin]] : 0.0;
        std::fill(lfe.coef + 7, lfe.coef + 256, 0.0);
    }
    return !mantissas.bad && !b.overrun;
}

void Ac3Decoder::decouple(const CouplingMantissas& cpl) {
    const Tables& t = tables();
    for (int c = 0; c < nfchans_; ++c) {
        Channel& ch = ch_[c];
        if (!ch.chincpl) continue;
        for (int bin = cplstrtmant_; bin < cplendmant_; ++bin) {
            int bnd = cplbndOf_[(bin - 37) / 12 - cplbegf_];
            double co = cplco_[c][bnd] * 8.0;
            if (acmod_ == 2 && c == 1 && phsflginu_ && phsflg_[bnd]) co = -co;
            double m = cpl.zero[bin] ? (ch.dithflag ? ditherValue() : 0.0) : cpl.mant[bin];
            ch.coef[bin] = m * t.pow2neg[cplexps_[bin]] * co;
        }
    }
}

void Ac3Decoder::rematrix(int nrematbd) {
    int limit = std::min(ch_[0].endmant, ch_[1].endmant);
    if (cplinu_) limit = std::min(limit, cplstrtmant_);
    for (int r = 0; r < nrematbd; ++r) {
        if (!rematflg_[r]) continue;
        for (int bin = kRematBands[r]; bin < std::min(kRematBands[r + 1], limit); ++bin) {
            double l = ch_[0].coef[bin], rr = ch_[1].coef[bin];
            ch_[0].coef[bin] = l + rr;
            ch_[1].coef[bin] = l - rr;
        }
    }
}

void Ac3Decoder::synthesize(int16_t* out) {
    const int nf = nfchans_;
    double pcm[6][256];
    for (int c = 0; c < nf; ++c) inverseTransform(ch_[c], ch_[c].blksw, pcm[c]);
    if (lfeon_) inverseTransform(ch_[nf], false, pcm[nf]);
    if (channelTap)
        channelTap->insert(channelTap->end(), &pcm[0][0], &pcm[0][0] + 256 * (nf + lfeon_));
    downmix(pcm, out);
}

void ac3WindowedImdct(const double* coef, bool shortBlocks, double* out) {
    const double* w = tables().window;
    double x[512];
    if (!shortBlocks) {
        double c[256];
        dct4(coef, c, 256);
        // IMDCT with the phase of the long transform, unfolded from the DCT-IV.
        for (int n = 0; n < 128; ++n) x[n] = c[n + 128];
        for (int n = 128; n < 384; ++n) x[n] = -c[383 - n];
        for (int n = 384; n < 512; ++n) x[n] = -c[n - 384];
    } else {
        // Two 256-point transforms of the interleaved coefficients, the first
        // on the block's first half, the second on its second half.
        double a[128], b[128], c1[128], c2[128];
        for (int k = 0; k < 128; ++k) a[k] = coef[2 * k], b[k] = coef[2 * k + 1];
        dct4(a, c1, 128);
        dct4(b, c2, 128);
        for (int n = 0; n < 128; ++n) x[n] = c1[n];
        for (int n = 128; n < 256; ++n) x[n] = -c1[255 - n];
        for (int n = 0; n < 128; ++n) x[256 + n] = -c2[127 - n];
        for (int n = 128; n < 256; ++n) x[256 + n] = -c2[n - 128];
    }
    for (int n = 0; n < 512; ++n) out[n] = -2.0 * w[n] * x[n];
}

double ac3Window(int n) { return tables().window[n]; }

void Ac3Decoder::inverseTransform(Channel& ch, bool shortBlocks, double* pcm) {
    double x[512];
    ac3WindowedImdct(ch.coef, shortBlocks, x);
    for (int n = 0; n < 256; ++n) {
        pcm[n] = x[n] + ch.delay[n];
        ch.delay[n] = x[256 + n];
    }
}

void Ac3Decoder::downmix(const double (*pcm)[256], int16_t* out) {
    static constexpr double kClev[4] = {0.2928, 0.2468, 0.2071, 0.2468};
    static constexpr double kSlev[4] = {0.2928, 0.2071, 0.0, 0.2071};
    const double scale = gain_ * 32767.0;
    const double clev = kClev[cmixlev_], slev = kSlev[surmixlev_];
    const bool lfe = lfeon_;
    const int nf = nfchans_;
    double* s = surround_;  // x1, x2, y1, y2

    auto lowpass = [s](double x) {
        double y = 0.12531781 * (x + 2 * s[0] + s[1]) + 0.77997062 * s[2] - 0.28124186 * s[3];
        s[1] = s[0], s[0] = x, s[3] = s[2], s[2] = y;
        return y;
    };
    auto put = [scale](double v) {
        double r = std::nearbyint(scale * v);
        return int16_t(std::clamp(r, -32768.0, 32767.0));
    };

    for (int n = 0; n < 256; ++n) {
        double l = 0, r = 0;
        switch (acmod_) {
            case 0:
            case 1:
                l = r = 0.7071 * pcm[0][n];
                break;
            case 2:
                l = pcm[0][n], r = pcm[1][n];
                break;
            case 3:
                l = 0.4143 * pcm[0][n] + clev * pcm[1][n];
                r = 0.4143 * pcm[2][n] + clev * pcm[1][n];
                break;
            case 4:
                if (dolby_) {
                    double sp = lowpass(pcm[2][n]);
                    l = 0.5857 * pcm[0][n] - 0.4143 * sp;
                    r = 0.5857 * pcm[1][n] + 0.4143 * sp;
                } else {
                    l = 0.4143 * pcm[0][n] + slev * pcm[2][n];
                    r = 0.4143 * pcm[1][n] + slev * pcm[2][n];
                }
                break;
            case 5:
                if (dolby_) {
                    double sp = lowpass(pcm[3][n]);
                    l = 0.4143 * pcm[0][n] + 0.2928 * (pcm[1][n] - sp);
                    r = 0.4143 * pcm[2][n] + 0.2928 * (pcm[1][n] + sp);
                } else {
                    double cs = clev * pcm[1][n] + slev * pcm[3][n];
                    l = 0.4143 * pcm[0][n] + cs;
                    r = 0.4143 * pcm[2][n] + cs;
                }
                break;
            case 6:
                if (dolby_) {
                    double sp = lowpass(pcm[2][n] + pcm[3][n]);
                    l = 0.4143 * pcm[0][n] - 0.2928 * sp;
                    r = 0.4143 * pcm[1][n] + 0.2928 * sp;
                } else {
                    l = 0.4143 * pcm[0][n] + slev * pcm[2][n];
                    r = 0.4143 * pcm[1][n] + slev * pcm[3][n];
                }
                break;
            case 7: {
                double c = pcm[1][n] + (lfe ? pcm[nf][n] : 0.0);
                if (dolby_) {
                    double sp = lowpass(pcm[3][n] + pcm[4][n]);
                    l = 0.3204 * pcm[0][n] + 0.2265 * (c - sp);
                    r = 0.3204 * pcm[2][n] + 0.2265 * (c + sp);
                } else {
                    l = 0.4143 * pcm[0][n] + clev * c + slev * pcm[3][n];
                    r = 0.4143 * pcm[2][n] + clev * c + slev * pcm[4][n];
                }
                break;
            }
        }
        out[2 * n] = put(l);
        out[2 * n + 1] = put(r);
    }
}

}  // namespace zembra
