#pragma once
// MPEG-1 / MPEG-2 (MP@ML) video encoder: fixed GOP of N = 15, M = 3, frame
// pictures, motion-compensated prediction with half-pel vectors, TM5 rate
// control bounded by the VBV. Each coded picture goes to the elementary
// stream store and is announced to the multiplexer as a VideoUnit.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "encoder/encoder_params.h"
#include "encoder/kernels.h"
#include "encoder/mux/es_store.h"
#include "encoder/units.h"
#include "platform/status.h"

namespace zembra {

class JobReporter;

// Receives each coded picture; a status that is not done stops the encoder.
using VideoUnitSink = std::function<Status(const VideoUnit&)>;

// One step of the coding order: the picture coded as number i of the piece.
struct CodingStep {
    mpeg::PictureType type = mpeg::PictureType::I;
    int display = 0;   // f
    int gopStart = 0;  // f0
    bool anchor = true;
    bool newGop = false;  // I picture: a GOP header precedes it
    bool firstGop = true;
    int gopPictures = 0, gopP = 0, gopB = 0;  // g, np, nb when newGop
};
CodingStep codingStep(int i, int frameCount);

// Ring slot of display picture f.
inline int ringSlot(int f) { return f == 0 ? 0 : (f - 1) % kAnchorDistance; }

// Macroblock decisions (costs as in the encoder: var = variance of the source
// block, the others sums of squared differences).
enum class MbMode { Intra, Forward, NoMc, Backward, Interpolated };
MbMode decideP(int vmc, int var, int vz);
MbMode decideB(int vmcf, int vmcr, int vmci, int var);
// The per-macroblock quantiser keeps the picture's starting one when close.
int stickToStartQ(int q, int qStart);

// Time stamps in 27 MHz ticks.
double decodeTicks(int i, double frameRate, bool pulldown);
double presentTicks(int f, double frameRate, bool pulldown);

// Pull-down flags by display number: top_field_first, repeat_first_field.
void pulldownFlags(int f, int& topFieldFirst, int& repeatFirstField);

// Decimation of a 4:4:4 chroma plane to 4:2:0.
void decimateChroma(const std::uint8_t* in, int width, int height, bool mpeg2, std::uint8_t* out);

struct PictureRecord {
    int coded = 0;  // i
    mpeg::PictureType type = mpeg::PictureType::I;
    int display = 0;  // f
    int temporalReference = 0;
    int qStart = 0;
    long long bits = 0;  // the unit's bits, headers included
    int vbvDelay = 0;    // as computed (before 0xFFFF for MPEG-1)
    double dts = 0, pts = 0;
    int topFieldFirst = 0, repeatFirstField = 0;
};

class VideoEncoder {
public:
    // Failures come back as the returned statuses; `reporter` hears only
    // what cannot wait: a warning in the middle of a picture, a full store.
    explicit VideoEncoder(JobReporter& reporter);
    ~VideoEncoder();
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    // Allocates, builds the matrices, starts rate control and writes the
    // sequence header. `kernels` selects the arithmetic.
    Status videoStart(const EncoderParams& params, const EncoderKernels& kernels, EsStore& store,
                      VideoUnitSink sink);
    // `buffers` (null: none) are the three vectors the planes lie in; when
    // they hold exactly the coded size of 4:2:0 planes they are exchanged
    // for the encoder's own instead of copied, and come back holding
    // buffers of the same sizes whose contents are not the picture.
    // `holder` (null: none) keeps the planes alive and unchanged for as long
    // as it lives: 4:2:0 planes of the coded size are then read where they
    // lie, holder kept until the picture is no longer needed, and neither
    // copied nor exchanged.
    Status videoPut(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr,
                    std::vector<std::uint8_t>* buffers = nullptr,
                    std::shared_ptr<const void> holder = nullptr);
    // A sink that refuses the picture's unit fails the call with the sink's
    // status.
    Status videoCodeNext();
    // Codes the pictures still waiting in the ring as anchors, in display
    // order, so nothing fed is lost when a piece ends.
    Status videoCodeRest();
    void videoEnd();

    bool running() const { return running_; }
    int ringFill() const { return fill_; }
    int picturesCoded() const { return coded_; }
    int vbvOverflows() const { return vbvOverflows_; }
    int vbvUnderflows() const { return vbvUnderflows_; }
    const std::string& diagnostics() const { return diag_; }
    const std::vector<PictureRecord>& pictures() const { return records_; }
    long long bitsWritten() const { return totalBits_; }

    // Called with every reconstructed picture (anchors, and B pictures when
    // set) in coding order: display number and the three planes.
    std::function<void(int, const std::uint8_t*, const std::uint8_t*, const std::uint8_t*)>
        onReconstructed;

    struct Impl;

private:
    Status codePicture(const CodingStep& step, int slot);

    JobReporter& reporter_;
    std::unique_ptr<Impl> impl_;
    int gopStart_ = 0;
    int pastAnchor_ = 0, futureAnchor_ = 0;
    bool running_ = false;
    int fill_ = 0;
    int coded_ = 0;
    int vbvOverflows_ = 0, vbvUnderflows_ = 0;
    long long totalBits_ = 0;
    std::string diag_;
    std::vector<PictureRecord> records_;
};

}  // namespace zembra
