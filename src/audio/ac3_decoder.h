#pragma once
// AC-3 (ATSC A/52) decoder with its own stereo downmix. Bytes are fed as
// they come; frames are found by the sync word, assembled across calls,
// checked by CRC and decoded into 1536 interleaved stereo sample frames.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zembra {

// The windowed inverse transform of one block: 256 coefficients to 512
// samples, whose first half overlaps the previous block's second half. Short
// blocks hold two interleaved 128-coefficient transforms.
void ac3WindowedImdct(const double* coef, bool shortBlocks, double* out);
// The 512-point Kaiser-Bessel-derived window.
double ac3Window(int n);

class Ac3Decoder {
public:
    static constexpr int kFrameSamples = 1536;
    static constexpr int kMaxFrameBytes = 3840;  // 1920 words

    Ac3Decoder();

    // Clears the state and seeds the dither generator with 0.
    void start();
    void setGain(double gain) { gain_ = gain; }
    void setDolby(bool dolby) { dolby_ = dolby; }

    // Consumes bytes until one frame has been decoded into `out` (3072 values)
    // or the bytes run out; returns kFrameSamples or 0. `data`/`length` are
    // advanced past what was consumed.
    int decodeNext(const uint8_t*& data, size_t& length, int16_t* out);

    // Frame length in bytes for the sampling-rate and frame-size codes, 0 if
    // invalid.
    static int frameBytes(int fscod, int frmsizecod);
    // CRC-16 (x^16 + x^15 + x^2 + 1, MSB first, initial 0) over the bytes.
    static uint16_t crc16(const uint8_t* data, size_t length, uint16_t crc = 0);

    // Sampling rate of the last frame decoded (A/52 allows 48, 44.1 and 32 kHz).
    int sampleRate() const { return fscod_ == 1 ? 44100 : fscod_ == 2 ? 32000 : 48000; }
    // Channel layout of the last frame decoded.
    int acmod() const { return acmod_; }
    bool lfeOn() const { return lfeon_; }
    int framesDecoded() const { return framesDecoded_; }
    int framesDropped() const { return framesDropped_; }
    bool errorFlag() const { return error_; }

    // When set, the channels of each block before the downmix are copied here
    // (A/52 order, LFE last, 256 doubles each, unscaled); for tests.
    std::vector<double>* channelTap = nullptr;
    // When set, the bit offsets (within the frame) of every dither flag read.
    std::vector<int>* ditherFlagBits = nullptr;

private:
    struct Bits;
    struct Channel;
    bool decodeFrame(int16_t* out);
    bool decodeBlock(Bits& bits, int blk, int16_t* out);
    // One audio block, step by step in stream order; the readers return
    // false for a block that cannot be decoded.
    struct BlockPlan {
        bool paramsChanged = false;  // bit allocation is redone for every channel
        int cplexpstr = 0;
        int nrematbd = 0;
    };
    struct MantissaReader;
    struct CouplingMantissas;
    void readBlockFlags(Bits& b);
    bool readCouplingStrategy(Bits& b, int blk, BlockPlan& plan);
    void readCouplingCoordinates(Bits& b);
    int readRematrixFlags(Bits& b);
    bool readExponentStrategies(Bits& b, BlockPlan& plan);
    bool readExponents(Bits& b, int blk, const BlockPlan& plan);
    bool readAllocationParams(Bits& b, int blk, BlockPlan& plan);
    bool readDeltaAllocation(Bits& b, int blk, BlockPlan& plan);
    void allocateBits(BlockPlan& plan);
    bool readMantissas(Bits& b, CouplingMantissas& cpl);
    void decouple(const CouplingMantissas& cpl);
    void rematrix(int nrematbd);
    void synthesize(int16_t* out);
    static bool unpackExponents(Bits& b, int groups, int size, int value, int* exps, int first,
                                int end);
    static void readDeltaSegments(Bits& b, int& nseg, int* offst, int* len, int* ba);
    int snrOffset(int fine) const;
    double ditherValue();
    void allocate(const int* exps, int start, int end, int fgain, int snroffset, int fastleak,
                  int slowleak, bool delta, int nseg, const int* offst, const int* len,
                  const int* ba, int* bap) const;
    void inverseTransform(Channel& ch, bool shortBlocks, double* pcm);
    void downmix(const double (*pcm)[256], int16_t* out);
    int nextDither();

    // frame assembly
    std::array<uint8_t, kMaxFrameBytes + 8> frame_{};  // padded for 64-bit reads
    int have_ = 0;  // bytes of the frame collected (0: searching)
    int need_ = 0;  // frame length once known
    uint32_t shift_ = 0;
    double gain_ = 3.0;
    bool dolby_ = true;
    bool error_ = false;
    int framesDecoded_ = 0;
    int framesDropped_ = 0;

    // bit-stream information
    int fscod_ = 0, bsid_ = 0, acmod_ = 2, cmixlev_ = 0, surmixlev_ = 0;
    bool lfeon_ = false;
    int nfchans_ = 2;

    // audio block state that carries over between blocks of a frame
    struct Channel {
        bool blksw = false, dithflag = false, chincpl = false;
        int chexpstr = 0, chbwcod = 0, endmant = 0;
        int exps[256] = {};
        int bap[256] = {};
        int fsnroffst = 0, fgaincod = 0;
        int lfeexpstr = 0;
        bool deltaOn = false;
        int deltnseg = 0;
        int deltoffst[8] = {}, deltlen[8] = {}, deltba[8] = {};
        double coef[256] = {};
        double delay[256] = {};
    };
    Channel ch_[6];  // fbw channels, then LFE at index nfchans_
    bool cplinu_ = false;
    int cplbegf_ = 0, cplendf_ = 0, ncplsubnd_ = 0, ncplbnd_ = 0;
    int cplbndstrc_[18] = {};
    int cplstrtmant_ = 0, cplendmant_ = 0;
    double cplco_[5][18] = {};
    int cplexpstr_ = 0;
    int cplexps_[256] = {};
    int cplbap_[256] = {};
    int cplabsexp_ = 0;
    int cplfsnroffst_ = 0, cplfgaincod_ = 0, cplfleak_ = 0, cplsleak_ = 0;
    bool cplDeltaOn_ = false;
    int cpldeltnseg_ = 0;
    bool phsflg_[18] = {};
    int cplbndOf_[18] = {};  // coupling sub-band -> band
    int cpldeltoffst_[8] = {}, cpldeltlen_[8] = {}, cpldeltba_[8] = {};
    int phsflginu_ = 0;
    bool rematflg_[4] = {};
    int sdcycod_ = 0, fdcycod_ = 0, sgaincod_ = 0, dbpbcod_ = 0, floorcod_ = 0;
    int csnroffst_ = 0;
    int lfefsnroffst_ = 0, lfefgaincod_ = 0;
    bool silentBefore_ = false;

    uint32_t dither_ = 0;
    double surround_[4] = {};  // low-pass state: x[n-1], x[n-2], y[n-1], y[n-2]
};

}  // namespace zembra
