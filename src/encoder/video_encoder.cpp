#include "encoder/video_encoder.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <system_error>
#include <thread>

#include "encoder/headers.h"
#include "encoder/level_trim.h"
#include "encoder/mode_cost.h"
#include "encoder/motion_best.h"
#include "encoder/quantiser_scale.h"
#include "encoder/rate_control.h"
#include "encoder/row_pool.h"
#include "encoder/vbv_model.h"
#include "encoder/vlc_tables.h"
#include "mpeg/bit_writer.h"
#include "mpeg/start_codes.h"
#include "platform/job_reporter.h"

namespace zembra {

using mpeg::BitWriter;
using mpeg::PictureType;

// ---------------------------------------------------------------------------
// Pure helpers

CodingStep codingStep(int i, int n) {
    const int N = kGopSize, M = kAnchorDistance;
    CodingStep s;
    int f0 = N * ((i + M - 1) / N) - (M - 1);
    if (f0 < 0) f0 = 0;
    s.gopStart = f0;
    s.firstGop = f0 == 0;
    if (i == 0 || (i - 1) % M == 0) {
        s.anchor = true;
        s.display = i == 0 ? 0 : i + M - 1;
        if (n > 0 && s.display > n - 1) s.display = n - 1;
        if (i == f0) {
            s.type = PictureType::I;
            s.newGop = true;
            int g = s.firstGop ? N - (M - 1) : N;
            if (n > 0 && g > n - f0) g = n - f0;
            s.gopPictures = g;
            s.gopP = s.firstGop ? (g + 2 * (M - 1)) / M - 1 : (g + M - 1) / M - 1;
            if (s.gopP < 0) s.gopP = 0;
            s.gopB = g - s.gopP - 1;
            if (s.gopB < 0) s.gopB = 0;
        } else {
            s.type = PictureType::P;
        }
    } else {
        s.anchor = false;
        s.type = PictureType::B;
        s.display = i - 1;
    }
    return s;
}

MbMode decideP(int vmc, int var, int vz) {
    if (vmc > var && vmc >= 2304) return MbMode::Intra;
    if (4 * vz > 5 * vmc && vz >= 2304) return MbMode::Forward;
    return MbMode::NoMc;
}

MbMode decideB(int vmcf, int vmcr, int vmci, int var) {
    MbMode m;
    int cost;
    if (vmcf <= vmcr && vmcf <= vmci) {
        m = MbMode::Forward;
        cost = vmcf;
    } else if (vmci < vmcr) {
        m = MbMode::Interpolated;
        cost = vmci;
    } else {
        m = MbMode::Backward;
        cost = vmcr;
    }
    if (cost > var && cost >= 2304) return MbMode::Intra;
    return m;
}

int stickToStartQ(int q, int qStart) {
    if (q > 7 && std::abs(q - qStart) <= 4) return qStart;
    return q;
}

static double pulldownTicks(int k) {
    const double tp = 1001.0 / 30000.0;
    double t = (k / 2) * (tp + 1.5 * tp);
    if (k & 1) t += tp;
    return t * 27000000.0;
}

double decodeTicks(int i, double frameRate, bool pulldown) {
    if (pulldown) return pulldownTicks(i);
    return i * (1.0 / frameRate) * 27000000.0;
}

double presentTicks(int f, double frameRate, bool pulldown) {
    if (pulldown) return pulldownTicks(f + 1);
    return (f + 1) * (1.0 / frameRate) * 27000000.0;
}

void pulldownFlags(int f, int& tff, int& rff) {
    static const int kTff[4] = {1, 0, 0, 1};
    static const int kRff[4] = {1, 0, 1, 0};
    tff = kTff[f & 3];
    rff = kRff[f & 3];
}

static inline std::uint8_t clip8(int v) {
    return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// 12-tap field filter for the interlaced vertical decimation (sum 512).
static const int kFieldTaps[12] = {5, 8, -30, -18, 113, 242, 192, 35, -38, -10, 11, 2};

void decimateChroma(const std::uint8_t* in, int w, int h, bool mpeg2, std::uint8_t* out) {
    const int w2 = w / 2, h2 = h / 2;
    std::vector<std::uint8_t> half(static_cast<std::size_t>(w2) * h);
    auto at = [](const std::uint8_t* row, int x, int n) {
        return row[x < 0 ? 0 : x >= n ? n - 1 : x];
    };
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* r = in + static_cast<std::size_t>(y) * w;
        std::uint8_t* o = half.data() + static_cast<std::size_t>(y) * w2;
        for (int i = 0; i < w2; ++i) {
            int x = 2 * i, s;
            if (mpeg2) {
                s = 256 * at(r, x, w) + 159 * (at(r, x - 1, w) + at(r, x + 1, w)) -
                    52 * (at(r, x - 3, w) + at(r, x + 3, w)) +
                    22 * (at(r, x - 5, w) + at(r, x + 5, w));
            } else {
                s = 228 * (at(r, x, w) + at(r, x + 1, w)) +
                    70 * (at(r, x - 1, w) + at(r, x + 2, w)) -
                    37 * (at(r, x - 2, w) + at(r, x + 3, w)) -
                    21 * (at(r, x - 3, w) + at(r, x + 4, w)) +
                    11 * (at(r, x - 4, w) + at(r, x + 5, w)) +
                    5 * (at(r, x - 5, w) + at(r, x + 6, w));
            }
            o[i] = clip8((s + 256) >> 9);
        }
    }
    auto px = [&](int x, int y) {
        y = y < 0 ? 0 : y >= h ? h - 1 : y;
        return static_cast<int>(half[static_cast<std::size_t>(y) * w2 + x]);
    };
    for (int x = 0; x < w2; ++x) {
        if (!mpeg2) {
            for (int j = 0; j < h2; ++j) {
                int y = 2 * j;
                int s = 228 * (px(x, y) + px(x, y + 1)) + 70 * (px(x, y - 1) + px(x, y + 2)) -
                        37 * (px(x, y - 2) + px(x, y + 3)) - 21 * (px(x, y - 3) + px(x, y + 4)) +
                        11 * (px(x, y - 4) + px(x, y + 5)) + 5 * (px(x, y - 5) + px(x, y + 6));
                out[static_cast<std::size_t>(j) * w2 + x] = clip8((s + 256) >> 9);
            }
        } else {
            // Each field alone; the top field's chroma sits a quarter of a
            // field line below its line 2k, the bottom field's three quarters.
            const int fieldLines = h / 2;
            for (int field = 0; field < 2; ++field) {
                auto fpx = [&](int l) {
                    l = l < 0 ? 0 : l >= fieldLines ? fieldLines - 1 : l;
                    return px(x, 2 * l + field);
                };
                for (int k = 0; k < fieldLines / 2; ++k) {
                    int s = 0;
                    for (int t = 0; t < 12; ++t) {
                        int wgt = field == 0 ? kFieldTaps[t] : kFieldTaps[11 - t];
                        s += wgt * fpx(2 * k + t - 5);
                    }
                    int outLine = 2 * k + field;
                    if (outLine < h2)
                        out[static_cast<std::size_t>(outLine) * w2 + x] = clip8((s + 256) >> 9);
                }
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Encoder state

namespace {

// Best's MPEG-2 scales with the flat non-intra matrix keep clear of those
// that rebuild every non-intra level even (see nearestOddSumScale), in the
// pictures others are predicted from: a decoder without mismatch control
// would carry their blocks' toggles on. B pictures pass nothing on and keep
// the finer choice of scales.
bool oddSumScales(const EncoderParams& p, PictureType type) {
    return p.mpeg2 && p.motionSearch == kBestMotionSearch && type != PictureType::B &&
           std::all_of(p.nonIntraMatrix.begin(), p.nonIntraMatrix.end(),
                       [](std::uint8_t w) { return w == 16; });
}

int pictureScale(double scale, bool nonLinear, const EncoderParams& p, PictureType type) {
    return nonLinear && oddSumScales(p, type) ? nearestOddSumScale(scale)
                                              : nearestQuantiserScale(scale, nonLinear);
}

// Rows of w samples: in the plane's own storage, or in a source picture the
// caller hands over read-only (see Frame::hold), which is never written.
struct Plane {
    std::vector<std::uint8_t> px;
    const std::uint8_t* held = nullptr;
    int w = 0, h = 0;
    const std::uint8_t* data() const { return held ? held : px.data(); }
    const std::uint8_t* row(int y) const { return data() + static_cast<std::size_t>(y) * w; }
    // Writing goes to the plane's own storage only.
    std::uint8_t* ownRow(int y) { return px.data() + static_cast<std::size_t>(y) * w; }
};

// Runs job(first, end) over bands of a plane's rows; on the pool, when
// there is one, as the bands do not depend on each other.
void forBands(RowPool* pool, int rows, const std::function<void(int, int)>& job) {
    constexpr int kBand = 32;
    const int bands = (rows + kBand - 1) / kBand;
    const auto band = [&](int b) { job(b * kBand, std::min(rows, (b + 1) * kBand)); };
    if (pool) {
        pool->run(bands, band);
    } else {
        for (int b = 0; b < bands; ++b) band(b);
    }
}

struct Frame {
    Plane p[3];
    // Luma at the half-pel positions right, below and diagonal of each
    // sample, made once per reference picture for the half-pel search.
    std::vector<std::uint8_t> half[3];

    void interpolate(const EncoderKernels& k, RowPool* pool) {
        const Plane& y = p[0];
        const int w = y.w, h = y.h;
        for (auto& v : half) v.resize(static_cast<std::size_t>(w) * h);
        forBands(pool, h, [&](int first, int end) {
            for (int r = first; r < end; ++r) {
                const std::size_t off = static_cast<std::size_t>(r) * w;
                k.halfPelRow(y.row(r), y.row(r + 1 < h ? r + 1 : r), w, half[0].data() + off,
                             half[1].data() + off, half[2].data() + off);
            }
        });
    }
    // Sums of the luma's 8x8 blocks at every integer position (x <= w - 8,
    // y <= h - 8; stride w, with room past the end for the SIMD bound
    // kernels' reads), for a source picture the motion search looks into:
    // the distances between a block's quarter sums and a candidate's bound
    // their SAD from below.
    std::vector<std::uint16_t> sums;

    void makeBlockSums(const EncoderKernels& k, RowPool* pool) {
        const Plane& y = p[0];
        const int w = y.w, h = y.h;
        if (w < 16 || h < 16) {
            sums.clear();
            return;
        }
        sums.resize(static_cast<std::size_t>(w) * (h - 7) + kSumsSlack);
        // Column sums of 8 rows, slid down a row at a time (each band of
        // rows starts its own); every sum fits 16 bits (8 * 255, 64 * 255),
        // so the wrapping steps are exact.
        forBands(pool, h - 7, [&](int first, int end) {
            std::vector<std::uint16_t> col(static_cast<std::size_t>(w), 0);
            // The band's first eight rows added by the row step against a
            // row of zeros (its sums land in the band's first row, made
            // again below).
            const std::vector<std::uint8_t> zeros(static_cast<std::size_t>(w), 0);
            for (int r = first; r < first + 8; ++r)
                k.blockSumsRow(col.data(), y.row(r), zeros.data(), w,
                               sums.data() + static_cast<std::size_t>(first) * w);
            for (int r = first; r < end; ++r) {
                std::uint16_t* o = sums.data() + static_cast<std::size_t>(r) * w;
                if (r > first)
                    k.blockSumsRow(col.data(), y.row(r + 7), y.row(r - 1), w, o);
                else
                    k.blockSumsRow(col.data(), nullptr, nullptr, w, o);
            }
        });
    }
    static constexpr std::size_t kSumsSlack = 32;

    // The block at half-pel position (hx, hy), counted in half pels.
    const std::uint8_t* at(int hx, int hy) const {
        const std::size_t off = static_cast<std::size_t>(hy >> 1) * p[0].w + (hx >> 1);
        const int kind = (hx & 1) | (hy & 1) << 1;
        return kind == 0 ? p[0].data() + off : half[kind - 1].data() + off;
    }

    // The caller's planes stand in for the frame's own until the next
    // release; `keep` keeps them alive and unchanged meanwhile. The frame's
    // own storage is given up: a caller that hands over one picture this
    // way hands over the rest the same way.
    std::shared_ptr<const void> keep;
    void hold(const std::uint8_t* const planes[3], std::shared_ptr<const void> holder) {
        for (int c = 0; c < 3; ++c) {
            p[c].held = planes[c];
            std::vector<std::uint8_t>().swap(p[c].px);
        }
        keep = std::move(holder);
    }
    // Back to the frame's own storage, made again if it was given up.
    bool release() {
        for (Plane& plane : p) plane.held = nullptr;
        keep.reset();
        return !p[0].px.empty() || alloc(p[0].w, p[0].h);
    }

    bool alloc(int w, int h) {
        try {
            p[0].px.assign(static_cast<std::size_t>(w) * h, 0);
            p[0].w = w;
            p[0].h = h;
            for (int c = 1; c < 3; ++c) {
                p[c].px.assign(static_cast<std::size_t>(w / 2) * (h / 2), 0);
                p[c].w = w / 2;
                p[c].h = h / 2;
            }
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }
};

struct Vec {
    int x = 0, y = 0;  // half-pel units
    bool operator==(const Vec& o) const { return x == o.x && y == o.y; }
};

// What the estimate stage hands the coding stage for one macroblock.
struct MbEstimate {
    MbMode mode = MbMode::Intra;
    Vec vf, vb;
    double act = 0;
    // Bit 5 - b set where block b's residual is all zero, so that its
    // coefficients are too (0 where not known).
    int zeroBlocks = 0;
    alignas(32) std::uint8_t pred[384];  // 256 luma + 64 + 64 chroma (unused for intra)
    // Forward DCT of the six blocks: of the source for intra, of source
    // minus prediction otherwise.
    alignas(32) std::int16_t coef[6][64];
};

}  // namespace

struct VideoEncoder::Impl {
    EncoderParams p;
    EncoderKernels k{};
    EsStore* store = nullptr;
    VideoUnitSink sink;
    BitWriter bw;
    bool storeFullShown = false;

    int mbW = 0, mbH = 0, codedH = 0;
    std::vector<Frame> ring;
    Frame oldRef, newRef, aux, oldOrg, newOrg, auxOrg;
    std::vector<std::uint8_t> u422, v422;
    int oldAnchorDisplay = 0;

    RateControl rc;
    VbvModel vbv;

    long long unitStartBits = 0;
    long long sequenceHeaders = 0;

    // The estimate stage's results for every macroblock of the picture, and
    // the threads that share its rows (none for a single thread).
    std::vector<MbEstimate> estimates;
    std::unique_ptr<RowPool> pool;
    // The estimates of the B picture shown at `aheadDisplay` (-1: none),
    // made beside the coding of the B picture before it; their rows may
    // still run on the pool from row `aheadRowsFrom` of its batch (-1: all
    // done). The source of the picture shown at `aheadSourceDisplay` (-1:
    // none) waits in aheadOrg rather than in the ring meanwhile, where the
    // B picture before would otherwise swap it away while they run.
    std::vector<MbEstimate> aheadEstimates;
    int aheadDisplay = -1;
    int aheadRowsFrom = -1;
    Frame aheadOrg;
    int aheadSourceDisplay = -1;

    // Best search: the vectors found in the picture being estimated, by
    // macroblock, and the forward vectors of the last anchor picture (zero
    // for an I picture), where the next pictures look for the motion at the
    // same place.
    std::vector<HalfPelVector> fieldF, fieldB, anchorField;
    // ... and what the integer stage of each search ended at.
    std::vector<int> costF, costB;
    std::unique_ptr<std::atomic<int>[]> rowProgress;
    // Best: whether a picture of each type (I, P, B) has been coded, so
    // that its complexity is measured rather than the starting guess; and
    // where the first of each type is coded once to measure it.
    bool complexityMeasured[3] = {false, false, false};
    // Best: the largest vector component the last picture of each kind
    // found (P; B forward at distance 1 and 2; B backward), -1 before one.
    int largestVector[4] = {-1, -1, -1, -1};
    // Best: the intra macroblocks of the last P picture, -1 before one.
    int intraInLastP = -1;
    BitWriter trialBw;

    // Rows still running read the frames and write the estimates above.
    ~Impl() {
        if (pool) pool->finish();
    }
};

VideoEncoder::VideoEncoder(JobReporter& reporter) : reporter_(reporter) {}
VideoEncoder::~VideoEncoder() = default;

Status VideoEncoder::videoStart(const EncoderParams& params, const EncoderKernels& kernels,
                                EsStore& store, VideoUnitSink sink) {
    impl_.reset(new (std::nothrow) Impl);
    if (!impl_) return Status::error("STR_ERROR_332");
    Impl& s = *impl_;
    s.p = params;
    s.k = kernels;
    s.store = &store;
    s.sink = std::move(sink);
    const EncoderParams& p = s.p;
    s.mbW = (p.width + 15) / 16;
    s.mbH = p.progressiveSequence ? (p.height + 15) / 16 : 2 * ((p.height + 31) / 32);
    s.codedH = s.mbH * 16;
    const int W = s.mbW * 16;

    struct Alloc {
        Frame* f;
        const char* key;
    };
    // The first buffer's failure reports the clip-table text, as it always has.
    const Alloc allocs[] = {{&s.newRef, "STR_ERROR_321"}, {&s.oldRef, "STR_ERROR_322"},
                            {&s.aux, "STR_ERROR_323"},    {&s.newOrg, "STR_ERROR_331"},
                            {&s.oldOrg, "STR_ERROR_324"}, {&s.auxOrg, "STR_ERROR_325"}};
    for (const Alloc& a : allocs) {
        if (!a.f->alloc(W, s.codedH)) {
            impl_.reset();
            return Status::error(a.key);
        }
    }
    try {
        s.estimates.resize(static_cast<std::size_t>(s.mbW) * s.mbH);
        s.ring.resize(kAnchorDistance);
        for (Frame& f : s.ring) {
            if (!f.alloc(W, s.codedH)) throw std::bad_alloc();
        }
        if (p.chromaCode == 3) {
            s.u422.resize(static_cast<std::size_t>(p.width) * p.height);
            s.v422.resize(static_cast<std::size_t>(p.width) * p.height);
        }
    } catch (const std::bad_alloc&) {
        impl_.reset();
        return Status::error("STR_ERROR_326");
    }
    // Threads only share out the estimate stage; an encoder that cannot
    // start them runs alone and writes the same stream.
    if (p.threads > 1) {
        try {
            s.pool = std::make_unique<RowPool>(std::min(p.threads, s.mbH));
            s.aheadEstimates.resize(s.estimates.size());
            if (!s.aheadOrg.alloc(W, s.codedH)) throw std::bad_alloc();
        } catch (const std::system_error&) {
            s.pool.reset();
        } catch (const std::bad_alloc&) {
            s.pool.reset();
        }
    }

    // Rate control.
    s.rc.start(p.bitRate, p.frameRate > 0 ? p.rate.rate : 25.0);
    // Best gives its I pictures a finer quantiser and its B pictures a
    // less coarse one than TM5 does: an I picture's detail carries through
    // the GOP's predictions (SSIM rose on every test clip, PSNR on most).
    if (p.motionSearch == kBestMotionSearch) s.rc.setQuantiserRatios(0.8, 1.25);
    s.vbv.start(p.vbvSize * 16384.0, p.bitRate, p.mpeg2);

    fill_ = 0;
    coded_ = 0;
    vbvOverflows_ = vbvUnderflows_ = 0;
    totalBits_ = 0;
    diag_.clear();
    records_.clear();

    writeSequenceHeader(s.bw, p);
    running_ = true;
    return {};
}

// Whether 4:2:0 planes of the picture size are ring frame f's coded size,
// so that they can stand in for its own.
static bool codedSize(const Frame& f, const EncoderParams& p) {
    return p.chromaCode != 3 && p.width == f.p[0].w && p.height == f.p[0].h;
}

// Whether the caller's plane buffers can stand in for ring frame f's: the
// same sizes and the planes' own storage.
static bool takesBuffers(const std::vector<std::uint8_t>* buffers, const Frame& f,
                         const EncoderParams& p, const std::uint8_t* const planes[3]) {
    if (!buffers || !codedSize(f, p)) return false;
    for (int c = 0; c < 3; ++c)
        if (buffers[c].size() != f.p[c].px.size() || buffers[c].data() != planes[c]) return false;
    return true;
}

Status VideoEncoder::videoPut(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr,
                              std::vector<std::uint8_t>* buffers,
                              std::shared_ptr<const void> holder) {
    if (!impl_) return Status::failed();
    Impl& s = *impl_;
    if (fill_ >= kAnchorDistance) return Status::error("STR_ERROR_402", std::to_string(fill_));
    // Estimates made ahead read the ring as it was.
    s.aheadDisplay = -1;
    Frame& f = s.ring[fill_];
    const std::uint8_t* const given[3] = {y, cb, cr};
    // A picture the caller keeps unchanged is read where it lies.
    if (holder && codedSize(f, s.p)) {
        f.hold(given, std::move(holder));
        ++fill_;
        return {};
    }
    if (!f.release()) return Status::error("STR_ERROR_326");
    // The ring's buffer at fill_ holds a picture already coded: it goes to
    // the caller in exchange, and the copy of a whole frame is saved.
    if (takesBuffers(buffers, f, s.p, given)) {
        for (int c = 0; c < 3; ++c) f.p[c].px.swap(buffers[c]);
        ++fill_;
        return {};
    }
    const int w = s.p.width, h = s.p.height;
    for (int row = 0; row < s.codedH; ++row)
        std::memcpy(f.p[0].ownRow(row), y + static_cast<std::size_t>(std::min(row, h - 1)) * w, w);
    const std::uint8_t* planes[2] = {cb, cr};
    for (int c = 0; c < 2; ++c) {
        const std::uint8_t* src = planes[c];
        if (s.p.chromaCode == 3) {
            std::vector<std::uint8_t>& tmp = c == 0 ? s.u422 : s.v422;
            decimateChroma(src, w, h, s.p.mpeg2, tmp.data());
            src = tmp.data();
        }
        for (int row = 0; row < s.codedH / 2; ++row)
            std::memcpy(f.p[c + 1].ownRow(row),
                        src + static_cast<std::size_t>(std::min(row, h / 2 - 1)) * (w / 2), w / 2);
    }
    ++fill_;
    return {};
}

// ---------------------------------------------------------------------------
// Picture coding, in two stages.
//
// The estimate stage (MotionEstimator) settles what rate control has no part
// in: the motion vectors, the macroblock's prediction mode and prediction,
// its activity and the forward transform of its blocks. It reads only the
// picture's source, the sources of the references (the integer search) and
// the reconstructed references with their half-pel planes (complete before
// the picture starts), and writes only its own macroblock's MbEstimate, so
// the macroblock rows run on any thread in any order. Another motion search
// plugs in here.
//
// The coding stage (PictureCoder) then runs the macroblocks in order: TM5's
// quantiser (it follows the bits written so far), quantisation, skipping,
// the variable-length codes and the reconstruction. The vector and DC
// predictions belong to it as they follow the macroblocks coded before, so
// the stream does not depend on how the rows were shared out.

namespace {

void blockOffsets(int b, int mbx, int mby, int& comp, int& x, int& y) {
    if (b < 4) {
        comp = 0;
        x = mbx * 16 + (b & 1) * 8;
        y = mby * 16 + (b >> 1) * 8;
    } else {
        comp = b - 3;
        x = mbx * 8;
        y = mby * 8;
    }
}

// The prediction block b reads from a 384-byte prediction, and its stride.
const std::uint8_t* predOfBlock(const std::uint8_t* pred, int b, int& stride) {
    stride = b < 4 ? 16 : 8;
    return b < 4 ? pred + (b >> 1) * 8 * 16 + (b & 1) * 8 : pred + 256 + (b - 4) * 64;
}

struct MotionEstimator {
    const EncoderParams& p;
    const EncoderKernels& k;
    PictureType type = PictureType::I;
    int rangeF = 0, rangeB = 0;
    const Frame* cur = nullptr;     // source of this picture
    const Frame* fwdOrg = nullptr;  // sources of the references (integer search)
    const Frame* bwdOrg = nullptr;
    const Frame* fwdRef = nullptr;  // reconstructed references
    const Frame* bwdRef = nullptr;
    bool thinned = false;
    // Best search: the f_codes, the price of a bit, the distance of a B
    // picture from its past anchor, and the vector fields (see Impl).
    int fcodeF = 1, fcodeB = 1;
    int lambda = 1;
    ModeCostParams modeCost{};  // the picture's quantiser, for the choice of a mode
    int pastDistance = 1;
    // Intra is weighed for every macroblock, not only where the prediction
    // is poor (see prepareBestSearch).
    bool intraEverywhere = false;
    // Intra is weighed only where the prediction is very poor (see
    // prepareBestSearch).
    bool intraRare = false;
    int mbW = 0;
    HalfPelVector* fieldF = nullptr;
    HalfPelVector* fieldB = nullptr;
    int* costF = nullptr;
    int* costB = nullptr;
    const HalfPelVector* anchorField = nullptr;  // null: none yet
    std::atomic<int>* rowProgress = nullptr;     // macroblocks done in each row

    // --- motion estimation -------------------------------------------------
    // `blk` is the macroblock's luma packed 16x16 (see estimate), `quarters`
    // the sums of its four 8x8 blocks. With the sums of the reference's 8x8
    // blocks (Frame::sums) they bound each candidate's SAD from below: a
    // candidate whose bound exceeds the best SAD cannot beat it, and is
    // passed over as its SAD would have been.
    //
    // The scan's winner is its least SAD, then the least distance from the
    // zero vector, then the earliest in the scan; the first SAD of 0 ends
    // the scan. `seed` (the offset the search found for the macroblock on
    // the left; it gets this one's) is tried before the scan, so that the
    // bar is low from the start and far fewer candidates need their SAD:
    // until another candidate beats it, those the scan meets before the
    // seed's own place win its ties, and the winner is the one the plain
    // scan finds.
    int fullSearch(const std::uint8_t* blk, const int* quarters, const Frame& refFrame, int x0,
                   int y0, int range, Vec& best, Vec& seed) const {
        const Plane& ref = refFrame.p[0];
        const int W = ref.w, H = ref.h;
        const std::uint16_t* sums = refFrame.sums.data();
        const int stride = W;
        int xmin = std::max(0, x0 - range), xmax = std::min(W - 16, x0 + range);
        int ymin = std::max(0, y0 - range), ymax = std::min(H - 16, y0 + range);
        const bool inside = xmin > 0 && xmax < W - 16 && ymin > 0 && ymax < H - 16;
        const bool onGrid = thinned && inside;  // every other row and column first
        int bx = x0, by = y0;
        int bestSad = k.sad16Packed(blk, ref.row(y0) + x0, stride, 1 << 30);
        if (bestSad != 0) {
            int bestDist = 0;
            bool bestIsSeed = false;
            int seedX = std::clamp(x0 + seed.x, xmin, xmax);
            int seedY = std::clamp(y0 + seed.y, ymin, ymax);
            if (onGrid) {
                seedX = xmin + ((seedX - xmin) & ~1);
                seedY = ymin + ((seedY - ymin) & ~1);
            }
            auto distance = [&](int x, int y) { return (x - x0) * (x - x0) + (y - y0) * (y - y0); };
            auto take = [&](int x, int y, int sad, int dist, bool isSeed) {
                bestSad = sad;
                bestDist = dist;
                bx = x;
                by = y;
                bestIsSeed = isSeed;
            };
            if (seedX != x0 || seedY != y0) {
                const int sad = k.sad16Packed(blk, ref.row(seedY) + seedX, stride, bestSad);
                if (sad < bestSad) take(seedX, seedY, sad, distance(seedX, seedY), true);
            }
            auto visit = [&](int x, int y, int bound) {
                if (bound > bestSad) return false;
                int sad = k.sad16Packed(blk, ref.row(y) + x, stride, bestSad);
                if (sad > bestSad) return false;
                if (sad == 0) {
                    take(x, y, sad, distance(x, y), false);
                    return true;
                }
                const int dist = distance(x, y);
                const bool beforeSeed = bestIsSeed && (y < seedY || (y == seedY && x < seedX));
                if (sad < bestSad || dist < bestDist || (dist == bestDist && beforeSeed))
                    take(x, y, sad, dist, false);
                return false;
            };
            // The candidates of row y from xmin, every one or every other,
            // their bounds made a chunk of positions at a time; only those
            // within the best SAD as the chunk starts are visited.
            auto visitRow = [&](int y, bool everyOther) {
                constexpr int kChunk = 64;  // even: a chunk keeps the grid's parity
                const std::uint64_t grid = everyOther ? 0x5555555555555555u : ~std::uint64_t{0};
                alignas(32) std::uint16_t bound[kChunk + 16];
                const std::uint16_t* line = sums + static_cast<std::size_t>(y) * W;
                for (int cx = xmin; cx <= xmax; cx += kChunk) {
                    const int n = std::min(kChunk, xmax - cx + 1);
                    std::uint64_t open =
                        k.quarterBounds(line + cx, W, quarters, n, bestSad, bound) & grid;
                    for (; open; open &= open - 1) {
                        const int i = std::countr_zero(open);
                        if (visit(cx + i, y, bound[i])) return true;
                    }
                }
                return false;
            };
            auto visitOne = [&](int x, int y) {
                alignas(32) std::uint16_t bound[16];
                k.quarterBounds(sums + static_cast<std::size_t>(y) * W + x, W, quarters, 1, bestSad,
                                bound);
                return visit(x, y, bound[0]);
            };
            if (onGrid) {
                bool done = false;
                for (int y = ymin; y <= ymax && !done; y += 2) done = visitRow(y, true);
                if (!done) {
                    // The neighbours come after the whole grid.
                    bestIsSeed = false;
                    int cx = bx, cy = by;
                    for (int y = cy - 1; y <= cy + 1 && !done; ++y)
                        for (int x = cx - 1; x <= cx + 1 && !done; ++x) {
                            if (x < xmin || x > xmax || y < ymin || y > ymax) continue;
                            if (x == cx && y == cy) continue;
                            done = visitOne(x, y);
                        }
                }
            } else {
                bool done = false;
                for (int y = ymin; y <= ymax && !done; ++y) done = visitRow(y, false);
            }
        }
        seed = {bx - x0, by - y0};
        best.x = 2 * (bx - x0);
        best.y = 2 * (by - y0);
        return bestSad;
    }

    // The column the next macroblock's integer search adds at the right of
    // this one's window: the reference rows and their block sums, asked for
    // while this macroblock is searched.
    static void prefetchNextWindow(const Frame& refFrame, int x0, int y0, int range) {
        const Plane& ref = refFrame.p[0];
        if (refFrame.sums.empty()) return;
        const int right = std::min(x0 + 16 + range, ref.w - 16);
        const int top = std::max(0, y0 - range), bottom = std::min(ref.h - 16, y0 + range);
        for (int y = top; y < bottom + 16; ++y) __builtin_prefetch(ref.row(y) + right + 15);
        const std::uint16_t* sums = refFrame.sums.data() + right + 8;
        for (int y = top; y <= bottom + 8; ++y)
            __builtin_prefetch(sums + static_cast<std::size_t>(y) * ref.w);
    }

    // The interpolated samples are those of the rounded averages, taken
    // from the reference's half-pel planes; a candidate stops being summed
    // once it cannot beat the best.
    void halfPel(const std::uint8_t* blk, const Frame& ref, int x0, int y0, Vec& v) const {
        const int W = ref.p[0].w, H = ref.p[0].h;
        int ix = x0 + v.x / 2, iy = y0 + v.y / 2;  // integer vector here
        int best = k.sad16Packed(blk, ref.at(2 * ix, 2 * iy), W, 1 << 30);
        if (best == 0) return;
        int bx = 2 * ix, by = 2 * iy;  // absolute half-pel position
        const int cx = bx, cy = by;
        if (k.halfPelSads && ix > 0 && iy > 0 && ix < W - 16 && iy < H - 16) {
            // All eight neighbours inside: their sums in one pass over the
            // reference, taken in the order the loop below takes them.
            int sads[8];
            k.halfPelSads(blk, ref.p[0].row(iy) + ix, W, sads);
            int n = 0;
            for (int hy = cy - 1; hy <= cy + 1; ++hy)
                for (int hx = cx - 1; hx <= cx + 1; ++hx) {
                    if (hx == cx && hy == cy) continue;
                    if (sads[n] < best) {
                        best = sads[n];
                        bx = hx;
                        by = hy;
                    }
                    ++n;
                }
            v.x = bx - 2 * x0;
            v.y = by - 2 * y0;
            return;
        }
        for (int hy = cy - 1; hy <= cy + 1; ++hy) {
            for (int hx = cx - 1; hx <= cx + 1; ++hx) {
                if (hx == cx && hy == cy) continue;
                if (hx < 0 || hy < 0 || hx > 2 * (W - 16) || hy > 2 * (H - 16)) continue;
                int sad = k.sad16Packed(blk, ref.at(hx, hy), W, best);
                if (sad < best) {
                    best = sad;
                    bx = hx;
                    by = hy;
                    if (best == 0) goto done;
                }
            }
        }
    done:
        v.x = bx - 2 * x0;
        v.y = by - 2 * y0;
    }

    // --- prediction --------------------------------------------------------
    static void predictBlock(const Plane& ref, int x, int y, int size, Vec v, std::uint8_t* out,
                             int outStride) {
        int ix = x + (v.x >> 1), iy = y + (v.y >> 1);
        int hx = v.x & 1, hy = v.y & 1;
        const int W = ref.w;
        for (int j = 0; j < size; ++j) {
            const std::uint8_t* r0 = ref.row(iy + j) + ix;
            const std::uint8_t* r1 = hy ? r0 + W : r0;
            std::uint8_t* o = out + j * outStride;
            if (!hx && !hy) {
                std::memcpy(o, r0, size);
            } else if (hx && hy) {
                for (int i = 0; i < size; ++i)
                    o[i] = (r0[i] + r0[i + 1] + r1[i] + r1[i + 1] + 2) >> 2;
            } else {
                for (int i = 0; i < size; ++i) o[i] = (r0[i] + r1[i + hx] + 1) >> 1;
            }
        }
    }

    static Vec chromaVec(Vec v) { return {v.x / 2, v.y / 2}; }

    // pred: 256 luma + 64 + 64 chroma bytes.
    void predict(const Frame& ref, int mbx, int mby, Vec v, std::uint8_t* pred) const {
        predictLuma(ref, mbx, mby, v, pred);
        predictChroma(ref, mbx, mby, v, pred);
    }

    // The mode decisions measure the luma alone, so the chroma is
    // predicted for the chosen mode only.
    void predictLuma(const Frame& ref, int mbx, int mby, Vec v, std::uint8_t* pred) const {
        if (!ref.half[0].empty()) {
            // Luma from the reference's half-pel planes: the same averages.
            const int W = ref.p[0].w;
            const std::uint8_t* src = ref.at(32 * mbx + v.x, 32 * mby + v.y);
            for (int j = 0; j < 16; ++j) std::memcpy(pred + 16 * j, src + j * W, 16);
        } else {
            // The chroma's vector kernel, a quarter at a time.
            const Plane& y = ref.p[0];
            const std::uint8_t* src = y.row(mby * 16 + (v.y >> 1)) + mbx * 16 + (v.x >> 1);
            for (int q = 0; q < 4; ++q)
                k.predict8(src + (q >> 1) * 8 * y.w + (q & 1) * 8, y.w, v.x & 1, v.y & 1,
                           pred + (q >> 1) * 128 + (q & 1) * 8, 16);
        }
    }

    void predictChroma(const Frame& ref, int mbx, int mby, Vec v, std::uint8_t* pred) const {
        const Vec c = chromaVec(v);
        const int cw = ref.p[1].w;
        const std::size_t off =
            static_cast<std::size_t>(mby * 8 + (c.y >> 1)) * cw + mbx * 8 + (c.x >> 1);
        k.predict8(ref.p[1].data() + off, cw, c.x & 1, c.y & 1, pred + 256, 8);
        k.predict8(ref.p[2].data() + off, cw, c.x & 1, c.y & 1, pred + 320, 8);
    }

    // --- rate control's measure and the transform ---------------------------
    // 1 + the smallest variance of the luma's 8x8 blocks (frame and field).
    double activity(int mbx, int mby) const {
        const Plane& y = cur->p[0];
        const std::uint8_t* base = y.row(mby * 16) + mbx * 16;
        return 1 + k.leastVariance8(base, y.w, !p.progressiveSequence) / 4096.0;
    }

    void forwardTransform(int mbx, int mby, MbEstimate& e) const {
        e.zeroBlocks = transform(mbx, mby, e.mode == MbMode::Intra ? nullptr : e.pred, e.coef);
    }

    // The six blocks of the source minus `pred` (null: the source itself).
    // They are gathered first: the integer transform takes them together,
    // which its vector versions do two at a time. A residual block that is
    // all zero (a still background, black bars) has all-zero coefficients
    // and is not transformed. Returns those blocks, bit 5 - b for block b.
    int transform(int mbx, int mby, const std::uint8_t* pred, std::int16_t (*coef)[64]) const {
        int zeroBlocks = 0;
        alignas(32) std::int16_t diff[6][64];
        int blockOf[6];  // the block each gathered residual belongs to
        int n = 0;
        for (int b = 0; b < 6; ++b) {
            int comp, x, y, ps;
            blockOffsets(b, mbx, mby, comp, x, y);
            const Plane& src = cur->p[comp];
            const std::uint8_t* pr = pred ? predOfBlock(pred, b, ps) : nullptr;
            if (!pr) ps = 0;
            if (!k.blockIn(src.row(y) + x, src.w, pr, ps, diff[n]) && pr) {
                static constexpr std::int16_t kZero[64] = {};
                std::memcpy(coef[b], kZero, sizeof kZero);
                zeroBlocks |= 1 << (5 - b);
                continue;
            }
            blockOf[n++] = b;
        }
        if (p.dctChoice == 2) {
            for (int i = 0; i < n; ++i) k.fdctFloat(diff[i], coef[blockOf[i]]);
        } else if (n == 6) {
            k.fdctIntBlocks(diff[0], coef[0], 6);
        } else if (n > 0) {
            alignas(32) std::int16_t out[6][64];
            k.fdctIntBlocks(diff[0], out[0], n);
            for (int i = 0; i < n; ++i) std::memcpy(coef[blockOf[i]], out[i], sizeof out[i]);
        }
        return zeroBlocks;
    }

    // --- Best motion search ---------------------------------------------------
    static HalfPelVector half(Vec v) { return {v.x, v.y}; }
    static Vec vec(HalfPelVector v) { return {v.x, v.y}; }

    static SearchReference searchIn(const Frame& org, const Frame& rec) {
        SearchReference r;
        r.source = org.p[0].data();
        r.recon = rec.p[0].data();
        for (int i = 0; i < 3; ++i) r.half[i] = rec.half[i].data();
        r.width = rec.p[0].w;
        r.height = rec.p[0].h;
        return r;
    }

    // Candidates: the vectors of the left, above and above-right neighbours
    // and their median (see waitForAbove), and the last anchor's motion at
    // this place and its four neighbours', scaled by `scale` /
    // kAnchorDistance, with the median of three of them.
    int candidates(const HalfPelVector* field, int mbx, int mby, int scale,
                   HalfPelVector* out) const {
        int n = 0;
        HalfPelVector left;
        const auto here = [&](int x, int y) {
            return field[static_cast<std::size_t>(y) * mbW + x];
        };
        HalfPelVector above, aboveRight;
        if (mbx > 0) out[n++] = left = here(mbx - 1, mby);
        if (mby > 0) {
            out[n++] = above = here(mbx, mby - 1);
            if (mbx + 1 < mbW) out[n++] = aboveRight = here(mbx + 1, mby - 1);
            out[n++] = medianVector(left, above, aboveRight);
        }
        if (!anchorField) return n;
        const int rows = cur->p[0].h / 16;
        const auto at = [&](int x, int y) {
            const HalfPelVector c = anchorField[static_cast<std::size_t>(y) * mbW + x];
            return HalfPelVector{c.x * scale / kAnchorDistance, c.y * scale / kAnchorDistance};
        };
        const HalfPelVector right = at(std::min(mbx + 1, mbW - 1), mby);
        const HalfPelVector below = at(mbx, std::min(mby + 1, rows - 1));
        out[n++] = at(mbx, mby);
        out[n++] = right;
        out[n++] = below;
        out[n++] = at(mbx, std::max(mby - 1, 0));
        out[n++] = at(std::max(mbx - 1, 0), mby);
        out[n++] = medianVector(left, right, below);
        return n;
    }

    // The cost a search's best candidate must reach to be taken without
    // large steps: the worse of what the left and the above macroblocks'
    // searches ended at (they are done: see waitForAbove). Without both
    // the search takes all its steps.
    int settledCost(const int* cost, int mbx, int mby) const {
        if (mbx == 0 || mby == 0) return -1;
        return std::max(cost[static_cast<std::size_t>(mby) * mbW + mbx - 1],
                        cost[static_cast<std::size_t>(mby - 1) * mbW + mbx]);
    }

    // The vector the coding stage will most likely code this one against:
    // the left neighbour's (a row is a slice, which starts from zero).
    static HalfPelVector predictedFrom(const HalfPelVector* field, int mbx, int mby, int mbW) {
        return mbx > 0 ? field[static_cast<std::size_t>(mby) * mbW + mbx - 1] : HalfPelVector{};
    }

    // Bits of a vector against the one it is coded after.
    static int vectorBits(HalfPelVector v, HalfPelVector pmv, int fcode) {
        return motionComponentBits(v.x - pmv.x, fcode) + motionComponentBits(v.y - pmv.y, fcode);
    }

    // The candidate modes of a macroblock, each coded at the picture's
    // quantiser as the coder would: the one with the least error + price x
    // bits wins, its prediction and blocks left in `pred` and `coef` by
    // finish(). A mode is transformed into next(), one of two buffers, so
    // that the best so far stays where it was made: each win would
    // otherwise copy its blocks and prediction.
    struct ModeChoice {
        const EncoderKernels& k;
        const ModeCostParams& mp;
        std::uint8_t* pred;
        std::int16_t (*coef)[64];
        std::int16_t (*spare)[64];  // the other buffer, as large as coef
        MbMode mode = MbMode::Intra;
        double best = 0;
        bool any = false;
        const std::int16_t (*bestCoef)[64] = nullptr;
        const std::uint8_t* bestPred = nullptr;  // the last inter mode that won
        // Where the next mode's blocks go: not where the best's are.
        std::int16_t (*next() const)[64] { return bestCoef == coef ? spare : coef; }
        // `typeBits` of the macroblock type: [not coded, coded]; a P
        // macroblock without motion and blocks is skipped (no bits).
        void offer(MbMode m, const std::uint8_t* candidate, const std::int16_t (*c)[64],
                   const int typeBits[2], int vectorBits) {
            // The blocks are counted only while the mode can still beat the
            // best: its vector and the shorter of its type codes at least.
            const double giveUp = any ? best : std::numeric_limits<double>::infinity();
            const int baseBits = vectorBits + std::min(typeBits[0], typeBits[1]);
            BlocksCost bc = candidate ? nonIntraBlocksCost(mp, c, giveUp, baseBits)
                                      : intraBlocksCost(mp, c, giveUp, baseBits);
            if (bc.gaveUp) return;
            int bits = bc.bits + vectorBits + typeBits[bc.cbp != 0];
            if (candidate && bc.cbp) bits += vlc::kCodedBlockPattern[bc.cbp].length;
            const double cost = bc.distortion + bitPrice(mp.quantiserScale) * bits;
            if (any && cost >= best) return;
            any = true;
            best = cost;
            mode = m;
            bestCoef = c;
            if (candidate) bestPred = candidate;
        }
        // The winner's blocks into `coef`, and into `pred` the prediction
        // of the last inter mode that won (intra leaves it there).
        void finish() const {
            if (bestPred && bestPred != pred) std::memcpy(pred, bestPred, 384);
            if (bestCoef && bestCoef != coef)
                std::memcpy(coef, bestCoef, sizeof(std::int16_t) * 6 * 64);
        }
    };

    // Searches the directions the picture type allows and weighs the
    // modes with their coded bits and error (see ModeChoice); the vectors
    // are found by SAD + lambda x vector bits.
    MbMode decideBest(int mbx, int mby, const std::uint8_t* packed, std::uint8_t* pred, Vec& vf,
                      Vec& vb, std::int16_t (*coef)[64]) const {
        const std::size_t j = static_cast<std::size_t>(mby) * mbW + mbx;
        HalfPelVector cand[16];
        const BestMotionSearch forward(k, lambda, fcodeF);
        const HalfPelVector pmvF = predictedFrom(fieldF, mbx, mby, mbW);
        const int nf = candidates(fieldF, mbx, mby,
                                  type == PictureType::P ? kAnchorDistance : pastDistance, cand);
        const MotionChoice f =
            forward.search(packed, searchIn(*fwdOrg, *fwdRef), mbx * 16, mby * 16, cand, nf, pmvF,
                           settledCost(costF, mbx, mby));
        fieldF[j] = f.vector;
        costF[j] = f.fullPelCost;
        vf = vec(f.vector);

        // The inter modes by SAD + lambda x vector bits, with what coding
        // each costs in bits besides its blocks.
        struct Inter {
            MbMode mode;
            const std::uint8_t* pred;
            int typeBits[2];  // the macroblock type's bits: [not coded, coded]
            int vectorBits;
            int cost;
        };
        Inter inter[3];
        int n = 0;
        // The modes are weighed by their luma; a prediction's chroma is
        // made once its mode is transformed (see withChroma).
        alignas(32) std::uint8_t predF[384], predB[384], predI[384];
        Vec biF, biB;  // the interpolated mode's vectors (B pictures)
        predictLuma(*fwdRef, mbx, mby, vf, predF);
        if (type == PictureType::P) {
            // No vector to code, and a skipped macroblock when nothing is.
            predictLuma(*fwdRef, mbx, mby, Vec{}, predB);
            inter[n++] = {
                MbMode::NoMc, predB, {0, 2}, 0, k.sad16Packed(packed, predB, 16, 1 << 30)};
            if (!(vf == Vec{}))
                inter[n++] = {
                    MbMode::Forward, predF, {3, 1}, vectorBits(f.vector, pmvF, fcodeF), f.cost};
        } else {
            const BestMotionSearch backward(k, lambda, fcodeB);
            const HalfPelVector pmvB = predictedFrom(fieldB, mbx, mby, mbW);
            const int nb = candidates(fieldB, mbx, mby, pastDistance - kAnchorDistance, cand);
            const MotionChoice b =
                backward.search(packed, searchIn(*bwdOrg, *bwdRef), mbx * 16, mby * 16, cand, nb,
                                pmvB, settledCost(costB, mbx, mby));
            fieldB[j] = b.vector;
            costB[j] = b.fullPelCost;
            vb = vec(b.vector);
            predictLuma(*bwdRef, mbx, mby, vb, predB);
            inter[n++] = {
                MbMode::Forward, predF, {4, 4}, vectorBits(f.vector, pmvF, fcodeF), f.cost};
            inter[n++] = {
                MbMode::Backward, predB, {3, 3}, vectorBits(b.vector, pmvB, fcodeB), b.cost};
            const Interpolation bi =
                interpolate(mbx, mby, packed, {&forward, f, pmvF, predF, fwdRef, fcodeF},
                            {&backward, b, pmvB, predB, bwdRef, fcodeB}, predI);
            biF = vec(bi.f);
            biB = vec(bi.b);
            inter[n++] = {MbMode::Interpolated, predI, {2, 2},
                          vectorBits(bi.f, pmvF, fcodeF) + vectorBits(bi.b, pmvB, fcodeB),
                          bi.cost};
        }
        const Inter* best = inter;
        for (int i = 1; i < n; ++i)
            if (inter[i].cost < best->cost) best = inter + i;
        bool chromaF = false, chromaB = false;
        const auto withChroma = [&](const Inter& m) {
            const bool forward = m.mode != MbMode::Backward;
            const bool backward = m.mode == MbMode::Backward || m.mode == MbMode::Interpolated;
            if (forward && !chromaF && m.mode != MbMode::NoMc) {
                predictChroma(*fwdRef, mbx, mby, vf, predF);
                chromaF = true;
            }
            if (m.mode == MbMode::NoMc) predictChroma(*fwdRef, mbx, mby, Vec{}, predB);
            if (backward && !chromaB) {
                predictChroma(*bwdRef, mbx, mby, vb, predB);
                chromaB = true;
            }
            if (m.mode == MbMode::Interpolated) {
                if (biF == vf && biB == vb) {
                    k.average(predF + 256, predB + 256, predI + 256, 128);
                } else {
                    alignas(32) std::uint8_t cf[384], cb[384];
                    predictChroma(*fwdRef, mbx, mby, biF, cf);
                    predictChroma(*bwdRef, mbx, mby, biB, cb);
                    k.average(cf + 256, cb + 256, predI + 256, 128);
                }
            }
            return m.pred;
        };

        // Coding a mode costs a transform of its blocks and more: only the
        // modes within a quarter of the best by SAD are weighed by their
        // coded bits (within an eighth lost 0.03 dB, within a half gained
        // little more for its time), and intra only where the prediction
        // leaves more than two thirds of the block's own variance (below
        // that intra seldom wins, and the test at half cost several per
        // cent of the time on noisy input) - or everywhere, where the
        // picture asks for it (see intraEverywhere), or only past twice the
        // variance (see intraRare).
        const int W = cur->p[0].w;
        const std::uint8_t* blk = cur->p[0].row(mby * 16) + mbx * 16;
        const int gate = intraRare ? 6 : 2;  // thirds of the variance
        const bool intraToo =
            intraEverywhere || 3 * k.ssd16(blk, W, best->pred) > gate * k.variance16(blk, W);
        int near = 0;
        for (int i = 0; i < n; ++i) near += 4 * inter[i].cost <= 5 * best->cost;
        if (near == 1 && !intraToo) {
            std::memcpy(pred, withChroma(*best), 384);
            transform(mbx, mby, pred, coef);
            if (best->mode == MbMode::NoMc) vf = Vec{};
            if (best->mode == MbMode::Interpolated) vf = biF, vb = biB;
            return best->mode;
        }
        alignas(32) std::int16_t spare[6][64];
        ModeChoice choice{k, modeCost, pred, coef, spare};
        for (int i = 0; i < n; ++i) {
            if (4 * inter[i].cost > 5 * best->cost) continue;
            std::int16_t (*c)[64] = choice.next();
            transform(mbx, mby, withChroma(inter[i]), c);
            choice.offer(inter[i].mode, inter[i].pred, c, inter[i].typeBits, inter[i].vectorBits);
        }
        if (intraToo) {
            static constexpr int kIntraBits[2] = {5, 5};
            std::int16_t (*c)[64] = choice.next();
            transform(mbx, mby, nullptr, c);
            choice.offer(MbMode::Intra, nullptr, c, kIntraBits, 0);
        }
        choice.finish();
        if (choice.mode == MbMode::NoMc) vf = Vec{};
        if (choice.mode == MbMode::Interpolated) vf = biF, vb = biB;
        return choice.mode;
    }

    // One direction's search result as the interpolated mode starts from it.
    struct Direction {
        const BestMotionSearch* search;
        MotionChoice found;
        HalfPelVector pmv;
        const std::uint8_t* pred;  // luma of found.vector
        const Frame* ref;
        int fcode;
    };

    struct Interpolation {
        HalfPelVector f, b;
        int cost;  // SAD + the price of both vectors' bits
    };

    // The interpolated prediction (luma, left in `predI`) and its vectors.
    // Each search fitted its own prediction, not the average of the two:
    // one half-pel step of either vector, the other held, often fits the
    // average better (+0.02-0.17 dB, every row of the quality bench). The
    // steps are tried where the mode can still be weighed by its coded
    // bits, within a quarter of the better single direction by SAD, and
    // along the axes only: the diagonals added 0.005 dB for twice the time.
    Interpolation interpolate(int mbx, int mby, const std::uint8_t* packed, const Direction& fwd,
                              const Direction& bwd, std::uint8_t* predI) const {
        k.average(fwd.pred, bwd.pred, predI, 256);
        Interpolation bi{fwd.found.vector, bwd.found.vector,
                         k.sad16Packed(packed, predI, 16, 1 << 30) +
                             fwd.search->vectorCost(fwd.found.vector, fwd.pmv) +
                             bwd.search->vectorCost(bwd.found.vector, bwd.pmv)};
        if (4 * bi.cost > 5 * std::min(fwd.found.cost, bwd.found.cost)) return bi;
        stepInterpolated(mbx, mby, packed, fwd, bwd.pred, bwd.search->vectorCost(bi.b, bwd.pmv),
                         bi.f, bi.cost, predI);
        // The backward steps hold the forward prediction as it now is.
        alignas(32) std::uint8_t stepped[256];
        const std::uint8_t* held = fwd.pred;
        if (!(bi.f == fwd.found.vector)) {
            predictLuma(*fwd.ref, mbx, mby, vec(bi.f), stepped);
            held = stepped;
        }
        stepInterpolated(mbx, mby, packed, bwd, held, fwd.search->vectorCost(bi.f, fwd.pmv), bi.b,
                         bi.cost, predI);
        return bi;
    }

    // The four half-pel steps of `v` (the vector of `dir`) averaged with the
    // other direction's prediction `held`, whose vector costs `heldCost`:
    // the best that beats `cost` replaces `v`, `cost` and the prediction in
    // `predI`.
    void stepInterpolated(int mbx, int mby, const std::uint8_t* packed, const Direction& dir,
                          const std::uint8_t* held, int heldCost, HalfPelVector& v, int& cost,
                          std::uint8_t* predI) const {
        const int W = cur->p[0].w, H = cur->p[0].h;
        const int high = (16 << (dir.fcode - 1)) - 1, low = -(16 << (dir.fcode - 1));
        alignas(32) std::uint8_t trial[256], mixed[256];
        static constexpr HalfPelVector kSteps[4] = {{0, -1}, {-1, 0}, {1, 0}, {0, 1}};
        const HalfPelVector centre = v;
        for (const HalfPelVector step : kSteps) {
            const HalfPelVector t{centre.x + step.x, centre.y + step.y};
            const int hx = 32 * mbx + t.x, hy = 32 * mby + t.y;
            if (t.x < low || t.x > high || t.y < low || t.y > high || hx < 0 || hy < 0 ||
                hx > 2 * (W - 16) || hy > 2 * (H - 16))
                continue;
            const int bits = dir.search->vectorCost(t, dir.pmv) + heldCost;
            if (bits >= cost) continue;
            predictLuma(*dir.ref, mbx, mby, vec(t), trial);
            k.average(trial, held, mixed, 256);
            const int sad = k.sad16Packed(packed, mixed, 16, cost - bits);
            if (sad + bits < cost) {
                cost = sad + bits;
                v = t;
                std::memcpy(predI, mixed, 256);
            }
        }
    }

    // --- one macroblock ---------------------------------------------------
    // Search, mode decision (the measures of the decide functions), the
    // prediction of the chosen mode, activity and transform.
    // `seeds`: the integer offsets found for the macroblock on the left,
    // forward and backward, where the searches start (see fullSearch).
    void estimate(int mbx, int mby, MbEstimate& e, Vec (&seeds)[2]) const {
        const int W = cur->p[0].w;
        const std::uint8_t* blk = cur->p[0].row(mby * 16) + mbx * 16;
        std::uint8_t* pred = e.pred;
        alignas(32) std::uint8_t predB[384];
        MbMode mode = MbMode::Intra;
        Vec vf, vb;

        // The source was stored pictures ago and has left the caches: the
        // next macroblock's rows are asked for while this one is searched.
        for (int r = 0; r < 16; ++r) __builtin_prefetch(blk + r * W + 31);
        for (int c = 1; c < 3; ++c) {
            const Plane& chroma = cur->p[c];
            const std::uint8_t* next = chroma.row(mby * 8) + mbx * 8 + 15;
            for (int r = 0; r < 8; ++r) __builtin_prefetch(next + r * chroma.w);
        }

        // The luma packed for the motion search.
        alignas(32) std::uint8_t packed[256];
        int quarters[4] = {};
        if (type != PictureType::I) {
            for (int r = 0; r < 16; ++r) std::memcpy(packed + 16 * r, blk + r * W, 16);
            if (p.motionSearch != kBestMotionSearch) k.quarterSums(packed, 16, quarters);
        }
        bool transformed = false;
        e.zeroBlocks = 0;
        if (p.motionSearch != kBestMotionSearch && type != PictureType::I) {
            prefetchNextWindow(*fwdOrg, mbx * 16, mby * 16, rangeF);
            if (type == PictureType::B) prefetchNextWindow(*bwdOrg, mbx * 16, mby * 16, rangeB);
        }
        if (type != PictureType::I && p.motionSearch == kBestMotionSearch) {
            mode = decideBest(mbx, mby, packed, pred, vf, vb, e.coef);
            transformed = true;
        } else if (type == PictureType::P) {
            fullSearch(packed, quarters, *fwdOrg, mbx * 16, mby * 16, rangeF, vf, seeds[0]);
            halfPel(packed, *fwdRef, mbx * 16, mby * 16, vf);
            predictLuma(*fwdRef, mbx, mby, vf, pred);
            int vmc = k.ssd16(blk, W, pred);
            int var = k.variance16(blk, W);
            if (vf == Vec{}) {
                mode = decideP(vmc, var, vmc);
            } else {
                alignas(32) std::uint8_t zero[384];
                predictBlock(fwdRef->p[0], mbx * 16, mby * 16, 16, Vec{}, zero, 16);
                int vz = k.ssd16(blk, W, zero);
                mode = decideP(vmc, var, vz);
            }
            if (mode == MbMode::NoMc && vf != Vec{}) {
                vf = Vec{};
                predictLuma(*fwdRef, mbx, mby, vf, pred);
            }
            if (mode != MbMode::Intra) predictChroma(*fwdRef, mbx, mby, vf, pred);
        } else if (type == PictureType::B) {
            fullSearch(packed, quarters, *fwdOrg, mbx * 16, mby * 16, rangeF, vf, seeds[0]);
            halfPel(packed, *fwdRef, mbx * 16, mby * 16, vf);
            fullSearch(packed, quarters, *bwdOrg, mbx * 16, mby * 16, rangeB, vb, seeds[1]);
            halfPel(packed, *bwdRef, mbx * 16, mby * 16, vb);
            predictLuma(*fwdRef, mbx, mby, vf, pred);
            predictLuma(*bwdRef, mbx, mby, vb, predB);
            alignas(32) std::uint8_t predI[384];
            k.average(pred, predB, predI, 256);
            int vmcf = k.ssd16(blk, W, pred);
            int vmcr = k.ssd16(blk, W, predB);
            int vmci = k.ssd16(blk, W, predI);
            int var = k.variance16(blk, W);
            mode = decideB(vmcf, vmcr, vmci, var);
            if (mode == MbMode::Forward) {
                predictChroma(*fwdRef, mbx, mby, vf, pred);
            } else if (mode == MbMode::Backward) {
                std::memcpy(pred, predB, 256);
                predictChroma(*bwdRef, mbx, mby, vb, pred);
            } else if (mode == MbMode::Interpolated) {
                predictChroma(*fwdRef, mbx, mby, vf, pred);
                predictChroma(*bwdRef, mbx, mby, vb, predB);
                k.average(pred + 256, predB + 256, predI + 256, 128);
                std::memcpy(pred, predI, 384);
            }
        }
        e.mode = mode;
        e.vf = vf;
        e.vb = vb;
        // Best without masking holds its quantiser near the picture's
        // whatever the activity (see boundedQuant): any finite value does.
        const bool masking = p.motionSearch != kBestMotionSearch || p.adaptiveQuant != 0;
        e.act = masking ? activity(mbx, mby) : 1;
        if (!transformed) forwardTransform(mbx, mby, e);
    }
    void estimateRow(int mby, int mbW, MbEstimate* row) const {
        Vec seeds[2];
        for (int mbx = 0; mbx < mbW; ++mbx) {
            if (rowProgress && mby > 0) waitForAbove(mby, mbx);
            estimate(mbx, mby, row[mbx], seeds);
            if (rowProgress) rowProgress[mby].store(mbx + 1, std::memory_order_release);
        }
    }

    // Best takes candidates from the row above, so a row runs a macroblock
    // and a half behind the one above it, on whichever threads they are:
    // the candidates, and so the stream, are the same at any thread count.
    // The pool hands out rows in order, so the row above has a thread.
    void waitForAbove(int mby, int mbx) const {
        const int needed = std::min(mbx + 2, mbW);
        while (rowProgress[mby - 1].load(std::memory_order_acquire) < needed)
            std::this_thread::yield();
    }
};

struct PictureCoder {
    VideoEncoder::Impl& s;
    JobReporter& reporter;
    const EncoderParams& p;
    const EncoderKernels& k;
    BitWriter& bw;
    PictureCoder(VideoEncoder::Impl& st, JobReporter& r, const EncoderParams& pp,
                 const EncoderKernels& kk, BitWriter& b)
        : s(st), reporter(r), p(pp), k(kk), bw(b) {}
    PictureType type = PictureType::I;
    int fcodeF = 1, fcodeB = 1;
    Frame* recon = nullptr;  // null: no reconstruction wanted

    // Per-slice state.
    int dcPred[3] = {0, 0, 0};
    Vec pmvF, pmvB;
    int curQ = 0;
    // Previous macroblock (B skipping).
    MbMode prevMode = MbMode::Intra;
    Vec prevF, prevB;
    int pendingSkip = 0;  // increment to the next coded macroblock

    // Rate control within the picture.
    double T = 0, d = 0;
    int qStart = 2;
    int qModel = 2;          // Best: the quantiser the complexity model gives the picture
    bool nonLinear = false;  // q_scale_type 1: the scales of the non-linear table
    long long picStartBits = 0;
    double sumQ = 0, sumAct = 0;

    void resetDc() {
        int v = 1 << (7 + p.intraDcPrecision);
        dcPred[0] = dcPred[1] = dcPred[2] = v;
    }

    // --- bit writing ---------------------------------------------------------
    void putCode(const vlc::Code& c) { bw.put(c.value, c.length); }

    void putAddressIncrement(int inc) {
        while (inc > 33) {
            bw.put(0x08, 11);  // escape
            inc -= 33;
        }
        putCode(vlc::kAddressIncrement[inc]);
    }

    void putMotion(int delta, int fcode) {
        const int rsize = fcode - 1, f = 1 << rsize;
        if (delta < -16 * f) delta += 32 * f;
        if (delta > 16 * f - 1) delta -= 32 * f;
        if (delta == 0) {
            putCode(vlc::kMotionCode[0]);
            return;
        }
        int a = std::abs(delta);
        int code = (a - 1) / f + 1;
        int residual = (a - 1) % f;
        putCode(vlc::kMotionCode[code]);
        bw.put(delta < 0 ? 1 : 0, 1);
        if (rsize > 0) bw.put(residual, rsize);
    }

    void putVector(Vec v, Vec& pmv, int fcode) {
        putMotion(v.x - pmv.x, fcode);
        putMotion(v.y - pmv.y, fcode);
        pmv = v;
    }

    void putDc(int comp, int value) {
        int diff = value - dcPred[comp];
        dcPred[comp] = value;
        int limit = p.mpeg2 ? 2048 : 256;
        if (std::abs(diff) >= limit) {
            reporter.notice(Status::warning("STR_ERROR_400", std::to_string(diff)));
        }
        int a = std::abs(diff), size = 0;
        while (a) {
            ++size;
            a >>= 1;
        }
        putCode(comp == 0 ? vlc::kDcSizeLuma[size] : vlc::kDcSizeChroma[size]);
        if (size) {
            int bits = diff > 0 ? diff : diff + (1 << size) - 1;
            bw.put(bits, size);
        }
    }

    // The most a block's coefficients take: 63 escapes of 28 bits, a short
    // code and the end of block.
    static constexpr int kMaxBlockBits = 64 * 28 + 2;

    bool putAc(const std::int16_t* q, bool intra) {
        std::uint64_t m = scanOrder(k.nonZeroMask(q));
        if (intra) m &= ~std::uint64_t{1};
        mpeg::BitWriter::Run out = bw.startRun(kMaxBlockBits);
        int next = intra ? 1 : 0;  // scan position after the last level written
        if (!intra && (q[0] == 1 || q[0] == -1)) {
            // First coefficient of a non-intra block: '1s'.
            out.put(2 | (q[0] < 0 ? 1u : 0u), 2);
            m &= m - 1;
            next = 1;
        }
        for (; m; m &= m - 1) {
            const int n = std::countr_zero(m);
            const int run = n - next;
            next = n + 1;
            const int level = q[mpeg::kZigZag[n]];
            const int size = std::min(std::abs(level), 41);  // 41: no short code
            const std::uint32_t c = run < 32 ? vlc::kSignedDctCoefficient.t[run][size] : 0;
            if (c != 0) {
                out.put(c >> 5 | (level < 0 ? 1u : 0u), static_cast<int>(c & 31));
            } else {
                std::uint32_t code;
                const int bits = escape(run, level, code);
                if (bits == 0) {
                    bw.endRun(out);
                    return false;
                }
                out.put(code, bits);
            }
        }
        out.put(2, 2);  // end of block
        bw.endRun(out);
        return true;
    }

    // Scan positions of the set bits of a mask in natural order, taken a
    // group of four natural positions at a time: a block's levels crowd
    // into its first rows, so there are far fewer groups than levels.
    static std::uint64_t scanOrder(std::uint64_t natural) {
        std::uint64_t m = 0;
        while (natural) {
            const int shift = std::countr_zero(natural) & ~3;
            m |= kGroupScanBits[shift >> 2][(natural >> shift) & 15];
            natural &= ~(std::uint64_t{15} << shift);
        }
        return m;
    }
    // For each group of four natural positions (a nibble of the mask) and
    // each subset of them, the bits of their scan positions.
    static constexpr auto kGroupScanBits = [] {
        std::array<std::array<std::uint64_t, 16>, 16> t{};
        for (int g = 0; g < 16; ++g)
            for (int v = 0; v < 16; ++v)
                for (int i = 0; i < 4; ++i)
                    if (v >> i & 1) t[g][v] |= std::uint64_t{1} << mpeg::kZigZagPosition[4 * g + i];
        return t;
    }();

    // Escape '000001', the run in 6 bits, then the level: the code's length,
    // or 0 for a level beyond the stream's range. Out of line, so that the
    // bit writer's run stays in registers.
    [[gnu::noinline]] int escape(int run, int level, std::uint32_t& code) const {
        if (std::abs(level) > (p.mpeg2 ? 2047 : 255)) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "(run=%d, signed_level=%d)\n", run, level);
            // The picture fails with its own message after this one.
            reporter.notice(Status::error("STR_ERROR_401", buf));
            return 0;
        }
        const std::uint32_t head = 1u << 6 | static_cast<std::uint32_t>(run);
        if (p.mpeg2) {
            code = head << 12 | (level & 0xFFF);
            return 24;
        }
        if (level >= 128) {
            code = head << 16 | static_cast<std::uint32_t>(level);
            return 28;
        }
        if (level <= -128) {
            code = head << 16 | 0x80u << 8 | static_cast<std::uint32_t>(level + 256);
            return 28;
        }
        code = head << 8 | (level & 0xFF);
        return 20;
    }

    void dequant(const std::int16_t* q, std::int16_t* out, bool intra, int qs) {
        const std::uint8_t* w = intra ? p.intraMatrix.data() : p.nonIntraMatrix.data();
        k.dequant(q, out, w, qs, intra, p.mpeg2, 8 >> p.intraDcPrecision);
    }

    // --- one macroblock ---------------------------------------------------
    struct Blocks {
        alignas(32) std::int16_t level[6][64];
    };

    // Quantises the macroblock's transformed blocks; returns the coded block
    // pattern (intra: 63). A block whose residual the estimate found all
    // zero is left out; only the coded blocks' levels are read.
    int quantise(const MbEstimate& e, bool intra, int q, Blocks& bl) {
        int cbp = 0;
        for (int b = 0; b < 6; ++b) {
            const std::int16_t* coef = e.coef[b];
            if (intra) {
                const int dd = 8 >> p.intraDcPrecision;
                int x0 = coef[0];
                int dc = x0 >= 0 ? (x0 + dd / 2) / dd : -((dd / 2 - x0) / dd);
                int maxDc = (1 << (8 + p.intraDcPrecision)) - 1;
                dc = dc < 0 ? 0 : dc > maxDc ? maxDc : dc;
                k.quantIntraAc(coef, bl.level[b], p.intraMatrix.data(), q, p.mpeg2 ? 2047 : 255);
                if (trimming()) trim(coef, bl.level[b], true, q);
                bl.level[b][0] = static_cast<std::int16_t>(dc);
                if (oddSums()) oddSum(coef, bl.level[b], true, q);
                cbp |= 1 << (5 - b);
            } else if (!(e.zeroBlocks & 1 << (5 - b))) {
                bool any = k.quantNonIntra(coef, bl.level[b], p.nonIntraMatrix.data(), q,
                                           p.mpeg2 ? 2047 : 255);
                if (roundingNearest(q))
                    any |= roundOutOfDeadZone(k, coef, bl.level[b], p.nonIntraMatrix.data(), q);
                if (any && trimming()) any = trim(coef, bl.level[b], false, q);
                if (any && oddSums()) any = oddSum(coef, bl.level[b], false, q);
                if (any) cbp |= 1 << (5 - b);
            }
        }
        return cbp;
    }

    // Best weighs each level's bits against its error; the other levels
    // keep the quantiser's levels as they are. With the linear scale a
    // picture at its floor keeps its levels; Best's non-linear pictures
    // trim there too, which measured better at DVD High Quality rates (the
    // bits one picture saves, the pictures after it spend).
    bool trimming() const {
        return p.motionSearch == kBestMotionSearch && (nonLinear || qModel > 2);
    }

    // Best's non-linear pictures at the finest scales take the level nearest
    // to each non-intra coefficient, and the trim then keeps the dead
    // zone's levels 1 only where their bits pay. At DVD Standard Play and
    // High Quality rates that measured +0.03 to +0.1 dB on most inputs; at
    // all scales it lost up to 0.13 dB at the lower rates (Long Play, SVCD).
    bool roundingNearest(int q) const {
        return trimming() && nonLinear && q <= kNearestRoundingMaxScale;
    }

    // What the level moves need to know of a block; `nonZero` must outlive it.
    TrimQuant trimQuant(const std::uint64_t& nonZero, bool intra, int q) const {
        TrimQuant tq;
        tq.nonZero = &nonZero;
        tq.matrix = intra ? p.intraMatrix.data() : p.nonIntraMatrix.data();
        tq.quantiserScale = q;
        tq.intra = intra;
        tq.mpeg2 = p.mpeg2;
        return tq;
    }

    bool trim(const std::int16_t* coef, std::int16_t* level, bool intra, int q) const {
        const std::uint64_t nonZero = k.nonZeroMask(level);
        return trimLevels(coef, level, trimQuant(nonZero, intra, q), bitPrice(q));
    }

    // Best keeps MPEG-2's mismatch control idle, so that decoders without
    // it rebuild the same picture, in the pictures others are predicted
    // from; a B picture's toggles stay in it (and cost as little drift
    // there). The other levels' streams stay as they were.
    bool oddSums() const {
        return p.mpeg2 && p.motionSearch == kBestMotionSearch && type != PictureType::B;
    }

    bool oddSum(const std::int16_t* coef, std::int16_t* level, bool intra, int q) const {
        const std::uint64_t nonZero = k.nonZeroMask(level);
        // A move worth more than two bits is dearer than the toggle's own
        // small error (the quality rows lost from three bits up).
        return makeSumOdd(coef, level, trimQuant(nonZero, intra, q), 8 >> p.intraDcPrecision,
                          bitPrice(q), 2 * bitPrice(q));
    }

    void reconstruct(int mbx, int mby, bool intra, const std::uint8_t* pred, int cbp, int q,
                     const Blocks& bl) {
        // The coded blocks' residuals first, their inverse transforms two
        // at a time.
        alignas(32) std::int16_t blk[6][64];
        int codedBlocks[6], n = 0;
        for (int b = 0; b < 6; ++b)
            if (cbp & (1 << (5 - b))) {
                dequant(bl.level[b], blk[b], intra, q);
                codedBlocks[n++] = b;
            }
        for (int i = 0; i + 1 < n; i += 2) k.idct2(blk[codedBlocks[i]], blk[codedBlocks[i + 1]]);
        if (n % 2) k.idct(blk[codedBlocks[n - 1]]);
        for (int b = 0; b < 6; ++b) {
            int comp, x, y;
            blockOffsets(b, mbx, mby, comp, x, y);
            Plane& dst = recon->p[comp];
            int ps;
            const std::uint8_t* pr = predOfBlock(pred, b, ps);
            const bool coded = cbp & (1 << (5 - b));
            std::uint8_t* o = dst.ownRow(y) + x;
            if (coded) {
                k.blockOut(blk[b], intra ? nullptr : pr, ps, o, dst.w);
            } else {
                for (int j = 0; j < 8; ++j) {
                    if (intra)
                        std::memset(o + j * dst.w, 0, 8);
                    else
                        std::memcpy(o + j * dst.w, pr + j * ps, 8);
                }
            }
        }
    }

    int mbQuant(int j, double act) {
        const int mbCount = s.mbW * s.mbH;
        double dj = static_cast<double>(bw.bits() - picStartBits) + d - j * T / mbCount;
        double Qj = dj * 31.0 / s.rc.reaction();
        const double avgAct = s.rc.averageActivity();
        double N = (2 * act + avgAct) / (act + 2 * avgAct);
        if (p.motionSearch == kBestMotionSearch) return boundedQuant(Qj, N);
        int q = 2 * static_cast<int>(std::floor(Qj * N + 0.5));
        q = std::clamp(q, 2, 62);
        return stickToStartQ(q, qStart);
    }

    // Best: the picture keeps near the quantiser its complexity model asks
    // for to meet its budget (X / T). TM5 swings the quantiser with each
    // macroblock's share of the budget and with its activity, which spends
    // the bits unevenly: at the same size a picture coded at one quantiser
    // has less error. The virtual buffer still moves it within a quarter
    // either way when the picture runs over or under its budget, at least
    // one step of the scale. Without masking the non-linear scale's finer
    // steps keep within a sixth: a step of 2 at its low end was a swing of
    // up to half, which cost 0.1-0.7 dB. Without masking small swings cost
    // more than they hold, too: the quantiser leaves the picture's only
    // when the buffer asks for more than two linear steps or a quarter of
    // the non-linear scale (0.05-0.25 dB).
    int boundedQuant(double Qj, double N) const {
        const double masked = Qj * (1 + p.adaptiveQuant * (N - 1));
        const bool unmasked = p.adaptiveQuant == 0;
        const double deadBand = nonLinear ? qModel / 4.0 : 4.0;
        if (unmasked && std::abs(2 * masked - qModel) <= deadBand) return qModel;
        const int swing = nonLinear && unmasked ? std::max(1, qModel / 6) : std::max(2, qModel / 4);
        if (nonLinear)
            return pictureScale(std::clamp(2 * masked, 1.0 * qModel - swing, 1.0 * qModel + swing),
                                true, p, type);
        const int q = 2 * static_cast<int>(std::floor(masked + 0.5));
        return std::clamp(std::clamp(q, qModel - swing, qModel + swing) & ~1, 2, 62);
    }

    bool codeMacroblock(int mbx, int mby, int j, const MbEstimate& e) {
        const bool first = mbx == 0, last = mbx == s.mbW - 1;
        const MbMode mode = e.mode;
        const Vec vf = e.vf, vb = e.vb;
        const std::uint8_t* pred = e.pred;
        const bool intra = mode == MbMode::Intra;

        const double act = e.act;
        sumAct += act;
        int q = mbQuant(j, act);
        if (first) {
            // The slice header carries this macroblock's quantiser.
            curQ = q;
            bw.startCode(static_cast<std::uint32_t>(mpeg::kSliceFirst + (mby & 127)));
            bw.put(quantiserScaleCode(q, nonLinear), 5);
            bw.put(0, 1);
            resetDc();
            pmvF = pmvB = Vec{};
            pendingSkip = mbx + 1;  // address increment from the slice start
        }
        sumQ += q;

        Blocks bl;
        int cbp = quantise(e, intra, q, bl);
        if (!intra && cbp == 0) q = curQ;  // nothing coded: no quantiser change

        // Skipping.
        if (!first && !last && !intra && cbp == 0) {
            bool skip = false;
            if (type == PictureType::P && mode == MbMode::NoMc) {
                skip = true;
                pmvF = Vec{};
            } else if (type == PictureType::B && prevMode == mode && prevMode != MbMode::Intra) {
                bool same = true;
                if (mode == MbMode::Forward || mode == MbMode::Interpolated)
                    same = same && vf == prevF;
                if (mode == MbMode::Backward || mode == MbMode::Interpolated)
                    same = same && vb == prevB;
                skip = same;
            }
            if (skip) {
                ++pendingSkip;
                resetDc();
                if (recon) reconstruct(mbx, mby, false, pred, 0, q, bl);
                return true;
            }
        }

        putAddressIncrement(pendingSkip);
        pendingSkip = 1;
        const bool quant = (intra || cbp) && q != curQ;
        if (quant) curQ = q;

        if (type == PictureType::I) {
            bw.put(quant ? 1 : 1, quant ? 2 : 1);  // '01' or '1'
        } else if (type == PictureType::P) {
            if (intra)
                bw.put(quant ? 1 : 3, quant ? 6 : 5);
            else if (mode == MbMode::NoMc && cbp)
                bw.put(1, quant ? 5 : 2);
            else if (cbp)
                bw.put(quant ? 2 : 1, quant ? 5 : 1);
            else
                bw.put(1, 3);  // motion compensated, not coded
        } else {
            if (intra)
                bw.put(quant ? 1 : 3, quant ? 6 : 5);
            else if (mode == MbMode::Interpolated)
                bw.put(cbp ? (quant ? 2 : 3) : 2, cbp && quant ? 5 : 2);
            else if (mode == MbMode::Backward)
                bw.put(cbp ? (quant ? 2 : 3) : 2, cbp && quant ? 6 : 3);
            else
                bw.put(cbp ? (quant ? 3 : 3) : 2, cbp && quant ? 6 : 4);
        }
        if (quant) bw.put(quantiserScaleCode(q, nonLinear), 5);

        if (intra) {
            pmvF = pmvB = Vec{};
        } else if (type == PictureType::P) {
            if (mode == MbMode::NoMc && cbp) {
                pmvF = Vec{};
            } else {
                putVector(vf, pmvF, fcodeF);
            }
        } else {
            if (mode == MbMode::Forward || mode == MbMode::Interpolated)
                putVector(vf, pmvF, fcodeF);
            if (mode == MbMode::Backward || mode == MbMode::Interpolated)
                putVector(vb, pmvB, fcodeB);
        }
        if (!intra && cbp) putCode(vlc::kCodedBlockPattern[cbp]);

        if (intra) {
            for (int b = 0; b < 6; ++b) {
                putDc(b < 4 ? 0 : b - 3, bl.level[b][0]);
                if (!putAc(bl.level[b], true)) return false;
            }
        } else {
            resetDc();
            for (int b = 0; b < 6; ++b)
                if (cbp & (1 << (5 - b)))
                    if (!putAc(bl.level[b], false)) return false;
        }
        if (recon) reconstruct(mbx, mby, intra, pred, intra ? 63 : cbp, curQ, bl);
        prevMode = mode;
        prevF = vf;
        prevB = vb;
        return true;
    }
};

// Best: the vector fields of the picture and the anchor's, the f_codes,
// the price of a vector bit and the rows' progress for the estimate.
void prepareBestSearch(VideoEncoder::Impl& s, MotionEstimator& me, int fcodeF, int fcodeB,
                       int qModel, int pastDistance) {
    const std::size_t mbs = static_cast<std::size_t>(s.mbW) * s.mbH;
    s.fieldF.assign(mbs, HalfPelVector{});
    s.fieldB.assign(mbs, HalfPelVector{});
    s.costF.assign(mbs, 0);
    s.costB.assign(mbs, 0);
    me.fcodeF = fcodeF;
    me.fcodeB = fcodeB;
    // The price of a vector bit follows the quantiser. A P picture's
    // prediction error lives on in every picture predicted from it, so its
    // search buys a closer match for more vector bits: at three tenths of
    // the price it measured best (+0.017 dB on average, SSIM up nearly
    // everywhere; at a half +0.014, at twice -0.022).
    const int price = qModel / 2;
    me.lambda = std::max(1, me.type == PictureType::P ? (3 * price + 5) / 10 : price);
    me.modeCost.kernels = &s.k;
    me.modeCost.intraMatrix = s.p.intraMatrix.data();
    me.modeCost.nonIntraMatrix = s.p.nonIntraMatrix.data();
    me.modeCost.quantiserScale = qModel;
    me.modeCost.intraDcPrecision = s.p.intraDcPrecision;
    me.modeCost.mpeg2 = s.p.mpeg2;
    me.pastDistance = pastDistance;
    // Where the source is sparse in the transform (pictures decoded from
    // an MPEG stream, flat synthetic areas with sharp edges) intra often
    // codes a block for fewer bits than a close prediction's residual: a
    // P picture then takes intra for one in ten of the macroblocks the
    // variance test passes over (up to 0.13 dB, 0.035 dB on average on such
    // input). Where the last P picture found intra for fewer than one
    // macroblock in a hundred, it seldom does (smooth motion, a zoom), and
    // the test saves the trials' time (12 % on such input). B pictures
    // gained nothing.
    me.intraEverywhere =
        me.type == PictureType::P &&
        (s.intraInLastP < 0 || 100LL * s.intraInLastP >= static_cast<long long>(mbs));
    // A B picture seldom takes intra where its P pictures do not: on smooth
    // motion (a zoom) one macroblock in 150 000 of those weighed. After a P
    // picture without intra it weighs intra only where the prediction
    // leaves more than twice the block's own variance (a flash, a cut),
    // which saves 1-2 % of the time there at the same pictures.
    me.intraRare = me.type == PictureType::B && s.intraInLastP == 0;
    me.mbW = s.mbW;
    me.fieldF = s.fieldF.data();
    me.fieldB = s.fieldB.data();
    me.costF = s.costF.data();
    me.costB = s.costB.data();
    me.anchorField = s.anchorField.size() == mbs ? s.anchorField.data() : nullptr;
    if (!s.rowProgress) s.rowProgress = std::make_unique<std::atomic<int>[]>(s.mbH);
    for (int r = 0; r < s.mbH; ++r) s.rowProgress[r].store(0, std::memory_order_relaxed);
    me.rowProgress = s.rowProgress.get();
}

// Best, after the estimate: the motion each kind of picture found (for the
// next one's f_code), for an anchor its field for the pictures after, and
// for a P picture its intra macroblocks (see prepareBestSearch).
void keepBestFields(VideoEncoder::Impl& s, PictureType type, int kindF) {
    if (type != PictureType::I) {
        s.largestVector[kindF] = largestComponent(s.fieldF.data(), s.fieldF.size());
        if (type == PictureType::B)
            s.largestVector[3] = largestComponent(s.fieldB.data(), s.fieldB.size());
    }
    if (type == PictureType::P) {
        s.intraInLastP = static_cast<int>(
            std::count_if(s.estimates.begin(), s.estimates.end(),
                          [](const MbEstimate& e) { return e.mode == MbMode::Intra; }));
        s.anchorField.swap(s.fieldF);
    } else if (type == PictureType::I)
        s.anchorField.assign(static_cast<std::size_t>(s.mbW) * s.mbH, HalfPelVector{});
}

// Estimates the picture's macroblocks and codes them with `pc`; false when
// a macroblock could not be coded. `me` is null when the estimates are made
// ahead already (some of their rows may still run on the pool); `ahead`
// (null: none) estimates the next picture into s.aheadEstimates on the pool
// meanwhile, so the pool's threads have work while this picture is coded,
// and those rows go on while the next picture is coded.
bool estimateAndCode(VideoEncoder::Impl& s, const MotionEstimator* me, const MotionEstimator* ahead,
                     PictureCoder& pc, JobReporter& reporter) {
    // The estimate of each row runs ahead on the pool (or here, just before
    // the row, without one); the coding follows row by row in order. The
    // next picture's rows come after this one's.
    MbEstimate* est = s.estimates.data();
    const int ownRows = me ? s.mbH : 0;
    // Where this picture's rows are in the pool's batch (-1: none there).
    const int firstRow = me ? 0 : s.aheadRowsFrom;
    s.aheadRowsFrom = -1;
    const int rows = ownRows + (ahead ? s.mbH : 0);
    if (s.pool && rows > 0) {
        // The rows made ahead outlive this call: they take their estimator
        // and where they write along.
        std::optional<MotionEstimator> next;
        if (ahead) next.emplace(*ahead);
        MbEstimate* nextEst = s.aheadEstimates.data();
        const int mbW = s.mbW;
        s.pool->start(rows, [me, est, ownRows, next, nextEst, mbW](int row) {
            if (row < ownRows)
                me->estimateRow(row, mbW, est + static_cast<std::size_t>(row) * mbW);
            else
                next->estimateRow(row - ownRows, mbW,
                                  nextEst + static_cast<std::size_t>(row - ownRows) * mbW);
        });
    }
    // The rows read this frame's estimators: should the coding throw (out of
    // memory), they end before the frames unwind.
    struct RowsEnd {
        RowPool* pool;
        ~RowsEnd() {
            if (pool) pool->finish();
        }
    } rowsEnd{s.pool.get()};
    bool ok = true;
    const int typeIndex = static_cast<int>(pc.type) - 1;
    // The starting guesses of the complexity are TM5's, made for its
    // reactive quantiser; Best holds the picture near its model's
    // quantiser, so the first picture of each type is coded once into a
    // scratch buffer to measure it (at high rates the guess is several
    // times too coarse).
    const bool measureFirst =
        s.p.motionSearch == kBestMotionSearch && !s.complexityMeasured[typeIndex];
    PictureCoder trial(s, reporter, s.p, s.k, s.trialBw);
    if (measureFirst) {
        trial.type = pc.type;
        trial.fcodeF = pc.fcodeF;
        trial.fcodeB = pc.fcodeB;
        trial.T = pc.T;
        trial.d = pc.d;
        trial.qStart = pc.qStart;
        trial.qModel = pc.qModel;
        s.trialBw.clear();
    }
    trial.nonLinear = pc.nonLinear;
    PictureCoder& first = measureFirst ? trial : pc;
    int j = 0;
    for (int mby = 0; mby < s.mbH && ok; ++mby) {
        if (s.pool)
            s.pool->waitRow(firstRow >= 0 ? firstRow + mby : -1);
        else if (me)
            me->estimateRow(mby, s.mbW, est + static_cast<std::size_t>(mby) * s.mbW);
        for (int mbx = 0; mbx < s.mbW && ok; ++mbx, ++j)
            ok = first.codeMacroblock(mbx, mby, j, est[j]);
    }
    // This picture's rows are done; the next picture's go on while it is
    // coded, unless this one failed.
    if (s.pool && ahead && ok)
        s.aheadRowsFrom = ownRows;
    else if (s.pool)
        s.pool->finish();
    rowsEnd.pool = nullptr;
    if (measureFirst && ok) {
        const int mbs = s.mbW * s.mbH;
        const double measured = s.trialBw.bits() * trial.sumQ / (2.0 * mbs);
        pc.qModel = pictureScale(2 * measured / std::max(pc.T, 1.0), pc.nonLinear, s.p, pc.type);
        for (j = 0; j < mbs && ok; ++j) ok = pc.codeMacroblock(j % s.mbW, j / s.mbW, j, est[j]);
    }
    s.complexityMeasured[typeIndex] = true;
    return ok;
}

// The f_codes and search ranges of a picture `pastDistance` pictures after
// its past anchor, and which kind of forward vector field it searches (P, or
// B one or two pictures after the anchor).
struct PictureMotion {
    int fcodeF = 1, fcodeB = 1;
    int rangeF = 0, rangeB = 0;
    int kindF = 0;
};

PictureMotion pictureMotion(const VideoEncoder::Impl& s, PictureType type, int pastDistance) {
    const EncoderParams& p = s.p;
    PictureMotion m;
    const int dist = std::clamp(pastDistance, 1, 2);
    if (type == PictureType::P) {
        m.fcodeF = p.pFcode;
        m.rangeF = p.pRange;
    } else if (type == PictureType::B) {
        m.fcodeF = p.bForwardFcode[dist];
        m.rangeF = p.bForwardRange[dist];
        m.fcodeB = p.bBackwardFcode;
        m.rangeB = p.bBackwardRange;
    }
    m.kindF = type == PictureType::P ? 0 : dist;
    // Best sizes each picture's f_code to the motion the last picture of its
    // kind found; the parameters' are the ceiling.
    if (p.motionSearch == kBestMotionSearch && type != PictureType::I) {
        m.fcodeF = nextFcode(s.largestVector[m.kindF], m.fcodeF);
        if (type == PictureType::B) m.fcodeB = nextFcode(s.largestVector[3], m.fcodeB);
    }
    return m;
}

// Picture end: stuffing up to the VBV's lower bound, then the rate
// control's and the VBV's models learn the picture. Returns its bits.
long long endPicture(VideoEncoder::Impl& s, const PictureCoder& pc, long long unitStart,
                     double lowerBound) {
    BitWriter& bw = s.bw;
    bw.align();
    const long long coded = bw.bits() - unitStart;
    while (bw.bits() - unitStart < lowerBound) bw.put(0, 32);
    bw.align();
    const long long S = bw.bits() - unitStart;
    // Best sets its quantiser from X: stuffing says nothing of the picture's
    // complexity, and counted in, it raises the quantiser of a picture that
    // already fell short of its budget (at high rates, over and over).
    const long long complexityBits = s.p.motionSearch == kBestMotionSearch ? coded : S;
    s.rc.pictureDone(pc.type, S, complexityBits, pc.sumQ, pc.sumAct, s.mbW * s.mbH, pc.T);
    s.vbv.pictureEnd(bw.bits());
    return S;
}

// The picture's bytes to the stream store; its unit for the multiplexer.
VideoUnit storePicture(VideoEncoder::Impl& s, JobReporter& reporter, PictureType type, double dts,
                       double pts) {
    std::vector<std::uint8_t>& bytes = s.bw.bytes();
    if (!s.store->append(bytes.data(), bytes.size()) && !s.storeFullShown) {
        s.storeFullShown = true;
        reporter.notice(Status::error("STR_ERROR_333"));
    }
    VideoUnit unit;
    unit.size = static_cast<int>(bytes.size());
    unit.type = type;
    unit.dts = mpeg::toClockStamp(dts, s.p.svcdLayout);
    unit.pts = mpeg::toClockStamp(pts, s.p.svcdLayout);
    bytes.clear();
    s.unitStartBits = s.bw.bits();
    return unit;
}

}  // namespace

Status VideoEncoder::codePicture(const CodingStep& st, int slot) {
    Impl& s = *impl_;
    const EncoderParams& p = s.p;
    BitWriter& bw = s.bw;
    const int f = st.display;
    const int i = coded_;
    const bool anchor = st.type != PictureType::B;
    // A B picture estimated ahead has its source in aheadOrg already.
    const bool sourceAhead = s.aheadSourceDisplay == f;
    s.aheadSourceDisplay = -1;

    if (anchor) {
        std::swap(s.oldRef, s.newRef);
        std::swap(s.oldOrg, s.newOrg);
        std::swap(s.newOrg, s.ring[slot]);
        // The block sums bound the window search's candidates; Best's
        // search never reads them.
        if (p.motionSearch != kBestMotionSearch) s.newOrg.makeBlockSums(s.k, s.pool.get());
        pastAnchor_ = futureAnchor_;
        futureAnchor_ = f;
    } else if (!sourceAhead) {
        std::swap(s.auxOrg, s.ring[slot]);
    }

    // Headers before the picture: the unit starts where the previous ended.
    const long long unitStart = s.unitStartBits;
    if (st.newGop) {
        // The first sequence header went out with the stream's start.
        if (i != 0) writeSequenceHeader(bw, p);
        gopStart_ = st.gopStart;
        s.rc.startGop(st.gopP, st.gopB);
        writeGopHeader(bw, p, st.gopStart, st.firstGop);
    }
    const int temporalRef = f - gopStart_;

    // VBV: decoding time and delay of this picture.
    int tff = 0, rff = 0;
    if (p.pulldown) pulldownFlags(f, tff, rff);
    const double vbvRate = p.pulldown ? 30000.0 / 1001 : s.rc.frameRate();
    double period = 90000.0 / vbvRate;
    if (rff) period *= 1.5;
    const VbvPicture vbv = s.vbv.next(anchor, period, bw.bits());
    vbvOverflows_ = s.vbv.overflows();

    // Best codes MPEG-2 with the non-linear scales: their finer low end
    // spends the bits of high rates where the linear ones cannot go below 2.
    const bool nonLinearQuant = p.mpeg2 && p.motionSearch == kBestMotionSearch;

    const PictureMotion motion = pictureMotion(s, st.type, f - pastAnchor_);
    const int fF = motion.fcodeF, fB = motion.fcodeB, kindF = motion.kindF;
    PictureHeader header;
    header.type = st.type;
    header.temporalReference = temporalRef;
    header.vbvDelay = vbv.field;
    header.fcodeF = fF;
    header.fcodeB = fB;
    header.topFieldFirst = tff;
    header.repeatFirstField = rff;
    header.nonLinearQuant = nonLinearQuant;
    writePictureHeader(bw, p, header);

    const double T = s.rc.target(st.type, vbv.lowerBound, vbv.upperBound);

    MotionEstimator me{p, s.k};
    me.type = st.type;
    me.rangeF = motion.rangeF;
    me.rangeB = motion.rangeB;
    me.cur = anchor ? &s.newOrg : sourceAhead ? &s.aheadOrg : &s.auxOrg;
    me.fwdOrg = &s.oldOrg;
    me.bwdOrg = &s.newOrg;
    me.fwdRef = &s.oldRef;
    me.bwdRef = &s.newRef;
    me.thinned = p.simd;
    // The picture's quantiser as the complexity model sees it: Best's
    // in-picture quantiser keeps near it, and its price of a vector bit
    // follows it.
    const double Xpic = s.rc.complexity(st.type);
    const int qModel = pictureScale(2 * Xpic / std::max(T, 1.0), nonLinearQuant, p, st.type);
    if (p.motionSearch == kBestMotionSearch)
        prepareBestSearch(s, me, fF, fB, qModel,
                          std::clamp(f - pastAnchor_, 1, kAnchorDistance - 1));

    PictureCoder pc(s, reporter_, p, s.k, bw);
    pc.type = st.type;
    pc.fcodeF = fF;
    pc.fcodeB = fB;
    pc.recon = anchor ? &s.newRef : (onReconstructed ? &s.aux : nullptr);
    pc.T = T;
    pc.d = s.rc.fullness(st.type);
    pc.qStart =
        std::clamp(2 * static_cast<int>(std::floor(pc.d * 31.0 / s.rc.reaction() + 0.5)), 2, 62);
    pc.picStartBits = bw.bits();
    pc.qModel = qModel;
    pc.nonLinear = nonLinearQuant;

    // The next picture, a B picture between the same anchors, has all it
    // reads: its source and the references are in place. Best's search
    // follows the pictures coded before it, so it waits its turn.
    const bool preEstimated = s.aheadDisplay == f;
    s.aheadDisplay = -1;
    if (preEstimated) s.estimates.swap(s.aheadEstimates);
    std::optional<MotionEstimator> ahead;
    const CodingStep next = codingStep(i + 1, p.frameCount);
    if (!anchor && s.pool && p.motionSearch != kBestMotionSearch && next.type == PictureType::B) {
        const PictureMotion nextMotion = pictureMotion(s, next.type, next.display - pastAnchor_);
        ahead.emplace(me);
        ahead->rangeF = nextMotion.rangeF;
        ahead->rangeB = nextMotion.rangeB;
        // The ring slot's buffer (a picture coded already) takes aheadOrg's.
        std::swap(s.aheadOrg, s.ring[ringSlot(next.display)]);
        s.aheadSourceDisplay = next.display;
        ahead->cur = &s.aheadOrg;
    }
    const bool ok =
        estimateAndCode(s, preEstimated ? nullptr : &me, ahead ? &*ahead : nullptr, pc, reporter_);
    if (ahead) s.aheadDisplay = next.display;
    if (!ok) {
        char buf[32];
        std::snprintf(buf, sizeof buf, " %d.", f);
        return Status::error("STR_ERROR_330", buf);
    }

    if (anchor) s.newRef.interpolate(s.k, s.pool.get());
    if (p.motionSearch == kBestMotionSearch) keepBestFields(s, st.type, kindF);

    const long long S = endPicture(s, pc, unitStart, vbv.lowerBound);
    vbvOverflows_ = s.vbv.overflows();
    vbvUnderflows_ = s.vbv.underflows();

    const double dts = decodeTicks(i, p.rate.rate, p.pulldown);
    const double pts = presentTicks(f, p.rate.rate, p.pulldown);
    const VideoUnit unit = storePicture(s, reporter_, st.type, dts, pts);
    totalBits_ = bw.bits();

    PictureRecord rec;
    rec.coded = i;
    rec.type = st.type;
    rec.display = f;
    rec.temporalReference = temporalRef;
    rec.qStart = pc.qStart;
    rec.bits = S;
    rec.vbvDelay = static_cast<int>(vbv.delay);
    rec.dts = dts;
    rec.pts = pts;
    rec.topFieldFirst = tff;
    rec.repeatFirstField = rff;
    records_.push_back(rec);
    ++coded_;

    if (onReconstructed && pc.recon)
        onReconstructed(f, pc.recon->p[0].px.data(), pc.recon->p[1].px.data(),
                        pc.recon->p[2].px.data());
    if (s.sink) return s.sink(unit);
    return {};
}

Status VideoEncoder::videoCodeNext() {
    if (!impl_ || !running_) return Status::failed();
    CodingStep st = codingStep(coded_, impl_->p.frameCount);
    int slot = ringSlot(st.display);
    Status done = codePicture(st, slot);
    if (slot == kAnchorDistance - 1)
        fill_ = 0;
    else if (coded_ == 1)
        fill_ = fill_ > 0 ? fill_ - 1 : 0;
    return done;
}

Status VideoEncoder::videoCodeRest() {
    if (!impl_ || !running_) return Status::failed();
    const int N = kGopSize, M = kAnchorDistance;
    const int left = fill_;
    for (int j = 0; j < left; ++j) {
        // Every picture before coded_ in display order is coded already.
        CodingStep st;
        st.display = coded_;
        st.anchor = true;
        bool gopStart = coded_ == 0 || (coded_ + M - 1) % N == 0;
        if (gopStart) {
            st.type = PictureType::I;
            st.newGop = true;
            st.gopStart = coded_;
            st.firstGop = coded_ == 0;
            st.gopPictures = left - j;
            st.gopP = left - j - 1;
            st.gopB = 0;
        } else {
            st.type = PictureType::P;
            st.gopStart = gopStart_;
            st.firstGop = gopStart_ == 0;
        }
        if (Status done = codePicture(st, j); !done) return done;
    }
    fill_ = 0;
    return {};
}

void VideoEncoder::videoEnd() {
    if (!impl_) return;
    Impl& s = *impl_;
    if (running_) {
        s.bw.startCode(mpeg::kSequenceEnd);
        std::vector<std::uint8_t>& bytes = s.bw.bytes();
        if (!s.store->append(bytes.data(), bytes.size()) && !s.storeFullShown) {
            s.storeFullShown = true;
            reporter_.notice(Status::error("STR_ERROR_333"));
        }
        bytes.clear();
        totalBits_ = s.bw.bits();
    }
    char buf[96];
    if (vbvOverflows_) {
        std::snprintf(buf, sizeof buf, "Warning VBV delay overflows = %d\n", vbvOverflows_);
        diag_ += buf;
    }
    if (vbvUnderflows_) {
        std::snprintf(buf, sizeof buf, "Warning VBV delay underflows = %d\n", vbvUnderflows_);
        diag_ += buf;
    }
    running_ = false;
    impl_.reset();
}

}  // namespace zembra
