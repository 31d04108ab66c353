#include "encoder/layer2/layer2_encoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "encoder/layer2/layer2_kernels.h"
#include "encoder/layer2/layer2_tables.h"
#include "encoder/layer2/psycho_model.h"
#include "mpeg/bit_writer.h"
#include "platform/bessel.h"
#include "platform/job_reporter.h"
#include "platform/priority.h"

namespace zembra {

using layer2::AllocTable;

namespace {

constexpr int kSubbands = 32;
constexpr int kBlocks = 36;  // subband samples per subband and frame
constexpr int kHistory = 512;

// Prototype low-pass of the 32-band cosine-modulated filter bank: a Kaiser
// windowed sinc whose cut-off makes neighbouring bands power complementary.
// This shape matches the window decoders synthesise with closely enough that
// the aliasing between neighbouring bands cancels to about -55 dB.
constexpr double kKaiserBeta = 10.9;
constexpr double kCutoff = 0.0561763;
constexpr double kPrototypeGain = 2.0;

// One frame's samples as taken from the PCM store, completed with silence.
struct FrameJob {
    std::array<std::int16_t, Layer2Encoder::kFrameValues> pcm{};
};

struct CodedFrame {
    std::vector<std::uint8_t> bytes;
    double ticks = 0;
    int padding = 0;
};

}  // namespace

struct Layer2Encoder::State {
    Layer2Settings settings;
    EsStore* store = nullptr;
    AudioUnitSink sink;
    int kbps = 0;
    AllocTable table{};
    // Slots per frame as the fraction num/den: W whole slots, rest r/den.
    long slotsWhole = 0, slotsRest = 0, slotsDen = 441;
    long lag = 0;  // in units of 1/den
    int frames = 0;
    int padding = 0;
    PcmStore* lastPcm = nullptr;  // coded to its end by audioEnd
    bool ending = false;

    const layer2::Layer2Kernels* kernels = nullptr;
    layer2::AnalysisTables tables{};
    std::array<std::array<double, 2 * kHistory>, 2> history{};  // analysis input, twice over
    int historyPos = 0;
    std::array<std::array<double, 2 * Layer2Encoder::kFrameSamples>, 2> input{};  // prev + current
    layer2::PsychoModel psycho[2];

    double sample[2][kBlocks][kSubbands]{};
    int scf[2][kSubbands][3]{};
    int scfsi[2][kSubbands]{};
    int alloc[2][kSubbands]{};
    double smr[2][kSubbands]{};
    mpeg::BitWriter frame;  // the frame being written
    int deliveredPadding = 0;

    // Everything above the queues from `table` on belongs to the coding of
    // one frame at a time (`coding`, mostly on the worker while there is
    // one); the caller's side otherwise only reads the settings and hands
    // frames over here.
    std::mutex mutex;
    std::condition_variable jobReady, frameReady, room;
    std::deque<FrameJob> jobs;     // waiting to be coded, in order
    std::deque<CodedFrame> coded;  // coded, waiting to be delivered
    // A frame is being coded, by the worker or by a caller that would
    // otherwise wait for it: one at a time, in order.
    bool coding = false;
    int inFlight = 0;  // submitted and not yet delivered
    int framesTaken = 0;
    bool stopping = false;
    // Why the frame after those in `coded` could not be coded (out of
    // memory); no frame is coded after it.
    std::exception_ptr failure;
    std::thread worker;

    ~State() { stopWorker(); }

    CodedFrame codeFrame(const FrameJob& job);
    // The steps of codeFrame, in order.
    void takeSamples(const FrameJob& job);
    double frameTicks() const;
    long nextFrameBits();
    void analyse();
    void chooseScaleFactors();
    void modelMasking();
    void allocateBits(long frameBits);
    void writeFrame(long frameBits);
    void writeHeader();
    void writeSideInfo();
    void writeSamples();
    void workerLoop();
    // Codes the first waiting frame, with the lock let go meanwhile; what
    // it throws becomes `failure`.
    void codeNextJob(std::unique_lock<std::mutex>& lock);
    bool canCodeNext() const { return !jobs.empty() && !coding && !failure; }
    // Ends the thread; frames it had not coded yet are dropped.
    void stopWorker() {
        if (!worker.joinable()) return;
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        jobReady.notify_all();
        worker.join();
    }
};

void Layer2Encoder::State::workerLoop() {
    // A caller that needs the frames codes those not begun itself, so the
    // threads it and the pictures wait for get a core first.
    constexpr int kNiceSteps = 5;
    lowerThisThreadPriority(kNiceSteps);
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        jobReady.wait(lock, [this] { return stopping || canCodeNext(); });
        if (stopping) return;
        codeNextJob(lock);
    }
}

void Layer2Encoder::State::codeNextJob(std::unique_lock<std::mutex>& lock) {
    const FrameJob job = jobs.front();
    jobs.pop_front();
    coding = true;
    room.notify_all();
    lock.unlock();
    try {
        CodedFrame f = codeFrame(job);
        lock.lock();
        coded.push_back(std::move(f));
    } catch (...) {
        // On the worker nothing could take the exception: the collecting
        // caller throws it in the frame's turn.
        if (!lock.owns_lock()) lock.lock();
        failure = std::current_exception();
    }
    coding = false;
    frameReady.notify_all();
    jobReady.notify_all();
}

Layer2Encoder::Layer2Encoder(JobReporter& reporter) : reporter_(reporter) {}
Layer2Encoder::~Layer2Encoder() = default;

int Layer2Encoder::bitrateKbps(int index) {
    return index >= 1 && index <= 14 ? mpeg::kLayer2BitrateKbps[index] : 0;
}

int layer2Sblimit(int kbps) {
    const int a = kbps / 2;  // per channel
    if (a >= 56 && a <= 80) return 27;
    if (a < 96) return 8;
    return 30;
}

int Layer2Encoder::lastPadding() const { return state_ ? state_->deliveredPadding : 0; }

Status Layer2Encoder::audioStart(const Layer2Settings& settings, EsStore& store,
                                 AudioUnitSink sink) {
    state_.reset();
    try {
        state_ = std::make_unique<State>();
    } catch (const std::bad_alloc&) {
        return Status::error("STR_ERROR_340");
    }
    State& s = *state_;
    s.settings = settings;
    s.store = &store;
    s.sink = std::move(sink);
    s.kernels = settings.kernels ? settings.kernels : &layer2::layer2Kernels();
    s.kbps = bitrateKbps(settings.bitrateIndex);
    if (s.kbps == 0) s.kbps = 224;
    s.table = layer2::makeTable(layer2Sblimit(s.kbps));
    // 1152 / 44.1 * kbps / 8 slots = 1440 * kbps / 441.
    const long num = 1440L * s.kbps;
    s.slotsWhole = num / s.slotsDen;
    s.slotsRest = num % s.slotsDen;
    s.lag = -s.slotsRest;
    s.frames = 0;
    s.deliveredPadding = 0;

    for (int n = 0; n < 512; ++n) {
        double h = 0;
        if (n > 0) {
            const double m = n - 256.0;
            const double r = m / 256.0;
            const double w =
                besselI0(kKaiserBeta * std::sqrt(std::max(0.0, 1 - r * r))) / besselI0(kKaiserBeta);
            h = w * (m == 0 ? kCutoff / M_PI : std::sin(kCutoff * m) / (M_PI * m));
        }
        // Fold the alternating sign of the 64-sample blocks into the window.
        s.tables.window[n] = kPrototypeGain * h * (((n / 64) & 1) ? -1.0 : 1.0);
    }
    for (int k = 0; k < kSubbands; ++k)
        for (int i = 0; i < 64; ++i)
            s.tables.cosColumns[i][k] = std::cos((2 * k + 1) * (i - 16) * M_PI / 64.0);

    // Without a thread of its own (or when none can be started) the encoder
    // codes each frame as it is submitted; the frames are the same.
    if (settings.ownThread) {
        try {
            s.worker = std::thread([&s] { s.workerLoop(); });
        } catch (const std::system_error&) {
        }
    }
    return {};
}

void Layer2Encoder::audioEnd() {
    // The samples left over at the end of a piece (less than a frame) are
    // coded as a last frame completed with silence; dropping them would make
    // the sound of every piece up to a frame shorter than its pictures.
    // Frames already handed over come first.
    if (state_ && !state_->ending) {
        state_->ending = true;
        const Status collected = audioCollect();
        reporter_.notice(collected);
        if (collected && state_) {
            state_->stopWorker();
            while (state_ && state_->lastPcm && state_->lastPcm->size() > 0) {
                const Status coded = audioEncodeFrame(*state_->lastPcm, true);
                reporter_.notice(coded);
                if (!coded) break;
            }
        }
    }
    state_.reset();
}

Status Layer2Encoder::failDelivery() {
    state_.reset();
    return Status::error("STR_ERROR_341");
}

namespace {

// The scale factors 2 * 2^(-index / 3), index 0..62, worked out once.
struct ScaleTable {
    std::array<double, 63> value{};
    ScaleTable() {
        for (int i = 0; i < 63; ++i) value[static_cast<std::size_t>(i)] = 2.0 * std::exp2(-i / 3.0);
    }
};

double scaleValue(int index) {
    static const ScaleTable table;
    return table.value[static_cast<std::size_t>(index)];
}

int scaleIndex(double peak) {
    if (peak <= 0) return 62;
    int i = static_cast<int>(std::floor(3.0 * (1.0 - std::log2(peak))));
    i = std::clamp(i, 0, 62);
    while (i > 0 && scaleValue(i) < peak) --i;
    return i;
}

int classOf(int d) {
    if (d <= -3) return 0;
    if (d < 0) return 1;
    if (d == 0) return 2;
    if (d < 3) return 3;
    return 4;
}

// Transmission patterns by the classes of the two scale-factor differences:
// 0 = 123, 1 = 122, 2 = 133, 3 = 113, 4 = 111, 5 = 222, 6 = 333, 7 = 444.
constexpr int kPattern[5][5] = {
    {0, 1, 1, 2, 0}, {3, 4, 4, 7, 3}, {4, 4, 4, 6, 3}, {5, 5, 5, 6, 0}, {0, 1, 1, 2, 0}};

}  // namespace

Status Layer2Encoder::audioEncodeFrame(PcmStore& pcm, bool last) {
    if (Status submitted = audioSubmitFrame(pcm, last); !submitted) return submitted;
    return audioCollect();
}

Status Layer2Encoder::audioSubmitFrame(PcmStore& pcm, bool last) {
    if (!state_) return Status::failed();
    State& s = *state_;
    s.lastPcm = &pcm;
    const std::size_t need = kFrameValues;
    if (pcm.size() < need && !last) {
        return Status::warning(
            "STR_ERROR_355",
            spaced(std::to_string(static_cast<long>(s.framesTaken) * kFrameSamples)));
    }

    // 1. Take the frame's samples; a short store (the last frame of a piece)
    // is completed with silence.
    FrameJob job;
    const std::size_t take = std::min(need, pcm.size());
    std::copy(pcm.values.begin(), pcm.values.begin() + static_cast<std::ptrdiff_t>(take),
              job.pcm.begin());
    pcm.values.erase(pcm.values.begin(), pcm.values.begin() + static_cast<std::ptrdiff_t>(take));

    ++s.framesTaken;
    if (!s.worker.joinable()) {
        // Coded at once; a failure waits for the collection, as it does on
        // the thread, so the frames before it are delivered either way.
        if (!s.failure) {
            try {
                s.coded.push_back(s.codeFrame(job));
            } catch (...) {
                s.failure = std::current_exception();
            }
        }
        ++s.inFlight;
        return {};
    }
    std::unique_lock<std::mutex> lock(s.mutex);
    s.room.wait(lock, [&s] { return static_cast<int>(s.jobs.size()) < kQueuedFrames; });
    s.jobs.push_back(job);
    ++s.inFlight;
    s.jobReady.notify_one();
    return {};
}

Status Layer2Encoder::audioCollect() {
    while (state_ && state_->inFlight > 0) {
        State& s = *state_;
        CodedFrame f;
        std::exception_ptr failure;
        {
            std::unique_lock<std::mutex> lock(s.mutex);
            // A frame the worker has not begun is coded here rather than
            // waited for: the worker may be waiting for a core meanwhile.
            while (s.coded.empty() && !s.failure) {
                if (s.canCodeNext())
                    s.codeNextJob(lock);
                else
                    s.frameReady.wait(lock);
            }
            if (s.coded.empty()) {
                failure = s.failure;
            } else {
                f = std::move(s.coded.front());
                s.coded.pop_front();
            }
        }
        if (failure) {
            state_.reset();
            std::rethrow_exception(failure);
        }
        --s.inFlight;
        // 2. and 11. Into the store (refused once it has overflowed) and
        // to the multiplexer.
        if (s.store->overflowed() || !s.store->append(f.bytes.data(), f.bytes.size()))
            return failDelivery();
        s.deliveredPadding = f.padding;
        AudioUnit unit{};
        unit.size = static_cast<int>(f.bytes.size());
        unit.pts = clockFromTicks(f.ticks, s.settings.layout);
        if (s.sink) {
            if (Status taken = s.sink(unit); !taken) return taken;
        }
    }
    return state_ ? Status{} : Status::failed();
}

CodedFrame Layer2Encoder::State::codeFrame(const FrameJob& job) {
    takeSamples(job);
    const double ticks = frameTicks();
    const long frameBits = nextFrameBits();
    analyse();
    chooseScaleFactors();
    modelMasking();
    allocateBits(frameBits);
    writeFrame(frameBits);

    CodedFrame out;
    out.bytes = frame.bytes();
    out.ticks = ticks;
    out.padding = padding;
    ++frames;
    return out;
}

// The model looks back into the previous frame, so the input keeps two.
void Layer2Encoder::State::takeSamples(const FrameJob& job) {
    for (int ch = 0; ch < 2; ++ch)
        std::memmove(input[ch].data(), input[ch].data() + kFrameSamples,
                     sizeof(double) * kFrameSamples);
    for (int i = 0; i < kFrameSamples; ++i) {
        input[0][kFrameSamples + i] = job.pcm[2 * static_cast<std::size_t>(i)] / 32768.0;
        input[1][kFrameSamples + i] = job.pcm[2 * static_cast<std::size_t>(i) + 1] / 32768.0;
    }
}

// The audio starts one video frame period in.
double Layer2Encoder::State::frameTicks() const {
    return frames * (kFrameSamples / 44.1) * 27000.0 +
           27000000.0 / (settings.frameRate > 0 ? settings.frameRate : 25.0);
}

// Sets the padding slot where the whole slots have fallen a slot behind the
// rate, and returns the frame's length in bits.
long Layer2Encoder::State::nextFrameBits() {
    padding = 0;
    if (slotsRest != 0) {
        if (slotsRest - slotsDen < lag) {
            lag -= slotsRest;
        } else {
            padding = 1;
            lag += slotsDen - slotsRest;
        }
    }
    return (slotsWhole + padding) * 8;
}

void Layer2Encoder::State::analyse() {
    for (int ch = 0; ch < 2; ++ch) {
        auto& hist = history[ch];
        int pos = historyPos;
        for (int blk = 0; blk < kBlocks; ++blk) {
            // The newest sample sits at hist[pos]; the buffer is kept twice
            // so that 512 values from pos are always contiguous.
            for (int i = 0; i < 32; ++i) {
                pos = (pos + kHistory - 1) % kHistory;
                const double v = input[ch][kFrameSamples + blk * 32 + i];
                hist[pos] = v;
                hist[pos + kHistory] = v;
            }
            kernels->analyseBlock(tables, hist.data() + pos, sample[ch][blk]);
        }
        if (ch == 1) historyPos = pos;
    }
}

// Scale factors of the three parts of each subband and their transmission
// pattern.
void Layer2Encoder::State::chooseScaleFactors() {
    for (int ch = 0; ch < 2; ++ch) {
        for (int sb = 0; sb < kSubbands; ++sb) {
            for (int part = 0; part < 3; ++part) {
                double peak = 0;
                for (int b = part * 12; b < part * 12 + 12; ++b)
                    peak = std::max(peak, std::fabs(sample[ch][b][sb]));
                scf[ch][sb][part] = scaleIndex(peak);
            }
            int* f = scf[ch][sb];
            const int pattern = kPattern[classOf(f[0] - f[1])][classOf(f[1] - f[2])];
            // A shared factor is the largest of the parts it serves, so no
            // sample is clipped.
            switch (pattern) {
                case 0:
                    scfsi[ch][sb] = 0;
                    break;
                case 1:
                case 2:
                    f[1] = f[2] = std::min(f[1], f[2]);
                    scfsi[ch][sb] = 3;
                    break;
                case 3:
                    f[0] = f[1] = std::min(f[0], f[1]);
                    scfsi[ch][sb] = 1;
                    break;
                default: {
                    const int m = std::min({f[0], f[1], f[2]});
                    f[0] = f[1] = f[2] = m;
                    scfsi[ch][sb] = 2;
                }
            }
        }
    }
}

// A 1024-sample window centred on the samples the subband values of this
// frame stand for (the filter bank delays by 256 samples).
void Layer2Encoder::State::modelMasking() {
    for (int ch = 0; ch < 2; ++ch) {
        std::array<double, 32> ratios{};
        psycho[ch].analyse(input[ch].data() + kFrameSamples - 192, ratios);
        for (int sb = 0; sb < kSubbands; ++sb) smr[ch][sb] = ratios[sb];
    }
}

// Each step raises the allocation of the subband with the smallest
// mask-to-noise ratio (among equal ones the first in channel, subband order)
// while its cost fits; a subband whose step does not fit, or that is at its
// top class, drops out. The candidates wait in a heap instead of being
// searched anew at every step; the order is the same.
void Layer2Encoder::State::allocateBits(long frameBits) {
    const int sblimit = table.sblimit;
    long available = frameBits - 32;
    for (int sb = 0; sb < sblimit; ++sb) available -= 2 * table.rows[sb].nbal;
    auto sampleBits = [](int cls) {
        const auto& q = mpeg::kLayer2Classes[cls];
        return q.grouped ? 12L * q.bits : 36L * q.bits;
    };
    auto scfBits = [&](int ch, int sb) {
        static const int kCount[4] = {3, 2, 1, 2};
        return 2L + 6L * kCount[scfsi[ch][sb]];
    };
    struct Candidate {
        double mnr;
        int index;  // ch * kSubbands + sb
    };
    const auto later = [](const Candidate& x, const Candidate& y) {
        return x.mnr > y.mnr || (x.mnr == y.mnr && x.index > y.index);
    };
    Candidate heap[2 * kSubbands];
    int waiting = 0;
    // Ratios that are not below 1e300 (or not numbers) are never chosen.
    const auto offer = [&](int ch, int sb) {
        const double mnr = layer2::kClassSnr[table.rows[sb].classes[alloc[ch][sb]]] - smr[ch][sb];
        if (!(mnr < 1e300)) return;
        heap[waiting++] = {mnr, ch * kSubbands + sb};
        std::push_heap(heap, heap + waiting, later);
    };
    for (int ch = 0; ch < 2; ++ch)
        for (int sb = 0; sb < kSubbands; ++sb) alloc[ch][sb] = 0;
    for (int ch = 0; ch < 2; ++ch)
        for (int sb = 0; sb < sblimit; ++sb) offer(ch, sb);
    while (waiting > 0) {
        std::pop_heap(heap, heap + waiting, later);
        const int bestCh = heap[--waiting].index / kSubbands;
        const int bestSb = heap[waiting].index % kSubbands;
        const auto& row = table.rows[bestSb];
        int& a = alloc[bestCh][bestSb];
        const long cost = sampleBits(row.classes[a + 1]) - sampleBits(row.classes[a]) +
                          (a == 0 ? scfBits(bestCh, bestSb) : 0);
        if (cost <= available) {
            available -= cost;
            ++a;
            if (a + 1 < (1 << row.nbal)) offer(bestCh, bestSb);
        }
    }
}

void Layer2Encoder::State::writeFrame(long frameBits) {
    frame.clear();
    writeHeader();
    writeSideInfo();
    writeSamples();
    // Zero bits to the end of the frame.
    while (frame.bits() < frameBits)
        frame.put(0, int(std::min<long long>(8, frameBits - frame.bits())));
}

void Layer2Encoder::State::writeHeader() {
    mpeg::BitWriter& bw = frame;
    bw.put(0xFFF, 12);
    bw.put(1, 1);  // MPEG-1
    bw.put(2, 2);  // layer II
    bw.put(1, 1);  // no CRC
    bw.put(static_cast<std::uint32_t>(settings.bitrateIndex >= 1 && settings.bitrateIndex <= 14
                                          ? settings.bitrateIndex
                                          : 11),
           4);
    bw.put(0, 2);  // 44.1 kHz
    bw.put(static_cast<std::uint32_t>(padding), 1);
    bw.put(0, 1);  // private
    bw.put(0, 2);  // stereo
    bw.put(0, 2);  // mode extension
    bw.put(0, 4);  // copyright, original, emphasis
}

// Allocations, scale-factor patterns and the scale factors the patterns
// leave to send.
void Layer2Encoder::State::writeSideInfo() {
    mpeg::BitWriter& bw = frame;
    const int sblimit = table.sblimit;
    for (int sb = 0; sb < sblimit; ++sb)
        for (int ch = 0; ch < 2; ++ch)
            bw.put(static_cast<std::uint32_t>(alloc[ch][sb]), table.rows[sb].nbal);
    for (int sb = 0; sb < sblimit; ++sb)
        for (int ch = 0; ch < 2; ++ch)
            if (alloc[ch][sb]) bw.put(static_cast<std::uint32_t>(scfsi[ch][sb]), 2);
    for (int sb = 0; sb < sblimit; ++sb)
        for (int ch = 0; ch < 2; ++ch) {
            if (!alloc[ch][sb]) continue;
            const int* f = scf[ch][sb];
            switch (scfsi[ch][sb]) {
                case 0:
                    for (int p = 0; p < 3; ++p) bw.put(static_cast<std::uint32_t>(f[p]), 6);
                    break;
                case 1:
                    bw.put(static_cast<std::uint32_t>(f[0]), 6);
                    bw.put(static_cast<std::uint32_t>(f[2]), 6);
                    break;
                case 2:
                    bw.put(static_cast<std::uint32_t>(f[0]), 6);
                    break;
                default:
                    bw.put(static_cast<std::uint32_t>(f[0]), 6);
                    bw.put(static_cast<std::uint32_t>(f[1]), 6);
            }
        }
}

// Twelve granules of three samples per subband, quantised against their
// part's scale factor; three codes of a grouped class go as one.
void Layer2Encoder::State::writeSamples() {
    mpeg::BitWriter& bw = frame;
    const int sblimit = table.sblimit;
    for (int gr = 0; gr < 12; ++gr) {
        const int part = gr / 4;
        for (int sb = 0; sb < sblimit; ++sb)
            for (int ch = 0; ch < 2; ++ch) {
                if (!alloc[ch][sb]) continue;
                const auto& q = mpeg::kLayer2Classes[table.rows[sb].classes[alloc[ch][sb]]];
                const double scale = scaleValue(scf[ch][sb][part]);
                int code[3];
                for (int i = 0; i < 3; ++i) {
                    const double x = sample[ch][gr * 3 + i][sb] / scale;
                    const int c = static_cast<int>(std::floor((x + 1.0) * q.levels / 2.0));
                    code[i] = std::clamp(c, 0, q.levels - 1);
                }
                if (q.grouped) {
                    bw.put(static_cast<std::uint32_t>(code[0] +
                                                      q.levels * (code[1] + q.levels * code[2])),
                           q.bits);
                } else {
                    for (int i = 0; i < 3; ++i) bw.put(static_cast<std::uint32_t>(code[i]), q.bits);
                }
            }
    }
}

}  // namespace zembra
