#pragma once
// MPEG-1 audio Layer II encoder (44.1 kHz stereo, psychoacoustic model 2).
// One call of audioEncodeFrame codes 1152 sample pairs from the front of the
// writer's PCM store into the audio elementary-stream store and hands the
// frame to the multiplexer as an AudioUnit.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "encoder/mux/es_store.h"
#include "encoder/mux/multiplexer.h"
#include "encoder/units.h"
#include "platform/status.h"

namespace zembra {

class JobReporter;
namespace layer2 {
struct Layer2Kernels;
}

// Interleaved 16-bit stereo PCM waiting to be coded (filled by the MPEG
// writer, emptied from the front by the encoder).
struct PcmStore {
    static constexpr std::size_t kCapacity = 100000;  // 16-bit values
    std::vector<std::int16_t> values;

    // False when the store would hold more than kCapacity values.
    [[nodiscard]] bool append(const std::int16_t* pcm, std::size_t count) {
        if (values.size() + count > kCapacity) return false;
        values.insert(values.end(), pcm, pcm + count);
        return true;
    }
    std::size_t size() const { return values.size(); }
    void clear() { values.clear(); }
};

struct Layer2Settings {
    int bitrateIndex = 11;              // Layer II table index: 10 = 192, 11 = 224 kbit/s
    double frameRate = 25.0;            // video frame rate: the audio starts one period in
    MuxLayout layout = MuxLayout::Vcd;  // form of the time stamps
    // Code the frames on a thread of the encoder's own, beside the caller
    // (the frames and their order are the same).
    bool ownThread = false;
    // The filter bank and model kernels; null: the process's own table.
    const layer2::Layer2Kernels* kernels = nullptr;
};

// Receives each finished frame; a status that is not done stops the encoder.
using AudioUnitSink = std::function<Status(const AudioUnit&)>;

class Layer2Encoder {
public:
    static constexpr int kFrameSamples = 1152;              // per channel
    static constexpr int kFrameValues = 2 * kFrameSamples;  // interleaved values

    // Failures come back as the returned statuses; `reporter` hears the one
    // that comes up while audioEnd releases the encoder.
    explicit Layer2Encoder(JobReporter& reporter);
    ~Layer2Encoder();
    Layer2Encoder(const Layer2Encoder&) = delete;
    Layer2Encoder& operator=(const Layer2Encoder&) = delete;

    // Fresh encoder for a new piece: filter and model state cleared, table
    // chosen, frame counter and slot lag reset. The bytes go to `store`, the
    // units to `sink`.
    Status audioStart(const Layer2Settings& settings, EsStore& store, AudioUnitSink sink);
    // Codes one frame from the front of `pcm`. With `last` set a store holding
    // less than a frame is accepted and the frame is completed with silence
    // (the close of a piece); otherwise such a store is an error.
    // audioSubmitFrame + audioCollect.
    Status audioEncodeFrame(PcmStore& pcm, bool last = false);
    // Takes one frame's samples from the front of `pcm` and starts coding
    // it: on the encoder's thread when it has one, otherwise at once. The
    // frame reaches the store and the sink at the next audioCollect. At most
    // kQueuedFrames wait for the thread; more make the caller wait.
    Status audioSubmitFrame(PcmStore& pcm, bool last = false);
    // Hands every submitted frame, in order, to the store and the sink.
    // Running out of memory while a frame was coded, on whichever thread,
    // throws std::bad_alloc here once the frames before it are delivered;
    // the encoder is released then (the frames after it are dropped).
    Status audioCollect();
    static constexpr int kQueuedFrames = 8;
    // Delivers the submitted frames, codes what is left in the PCM store last
    // passed to audioSubmitFrame as a final frame completed with silence,
    // then releases the encoder (its thread ends). That store must still
    // exist.
    void audioEnd();

    bool running() const { return state_ != nullptr; }
    // Padding bit of the most recently delivered frame (0 or 1).
    int lastPadding() const;
    // Layer II bit rate in kbit/s of a table index (0 for an invalid one).
    static int bitrateKbps(int index);

    struct State;

private:
    // A delivery failed: the encoder is released without coding more into
    // the failed store.
    Status failDelivery();

    JobReporter& reporter_;
    std::unique_ptr<State> state_;
};

// The AudioBitRate setting picks from 32, 48, ... 384 kbit/s: the Layer II
// table without its free-format index 0, so entry n is table index n + 1.
constexpr int layer2IndexOfListEntry(int entry) { return entry + 1; }

// Number of subbands the allocation table for this total bit rate codes
// (44.1 kHz stereo): 8, 27 or 30.
int layer2Sblimit(int bitrateKbps);

}  // namespace zembra
