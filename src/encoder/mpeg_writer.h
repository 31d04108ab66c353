#pragma once
// The MPEG output of a rip: one video encoder, one Layer II encoder and one
// program-stream multiplexer writing one numbered piece at a time.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "encoder/encoder_params.h"
#include "encoder/kernels.h"
#include "platform/cancel_token.h"
#include "platform/status.h"

namespace zembra {

class JobReporter;
class VideoEncoder;
class Layer2Encoder;
struct Layer2Settings;
class Multiplexer;
class VideoStreamFile;
struct PcmStore;

// The output settings the writer is opened with, field by field.
struct MpegOpenArgs {
    std::string outputPath;
    int mpegStream = 0;  // "MPEGStream": 0 MPEG-1, 1 MPEG-2
    int frameCount = 0;  // "MaxFrames"
    int width = 352, height = 288;
    int motionSearch = 0;     // "MotionSearch"
    int adaptiveQuant = 0;    // "AdaptiveQuant": a step of kAdaptiveQuantLevels
    int cpu = 0;              // "CPU": 0 MMX, 1 3DNow, 2 SSE2, 3 plain
    int dct = 0;              // "DCT"
    int vbv = 20;             // "VBV"
    int chromaCode = 1;       // 1 4:2:0, 3 4:4:4
    int videoKbps = 1150;     // "VideoBitRate"
    int maxVideoKbps = 2600;  // "MaxVideoBitRate"
    int audioBitRate = 11;    // "AudioBitRate": entry of 32, 48, ... 384 kbit/s (10 = 224)
    double frameRate = 25.0;
    int paddMin = 30, paddMax = 90;
    double muxRateFactor = 1.014;  // 1 + "MuxRate" / 100
    bool overwrite = false;
    bool pulldown = false;
    int quantMat = 0;
    int threads = 1;  // the video encoder's threads; the stream is the same at any count
    // The video elementary stream alone (.m1v, .m2v): no sound is coded and
    // nothing is multiplexed; the samples handed over are ignored.
    bool videoOnly = false;
};

// What the Layer II encoder of a piece is started with.
Layer2Settings layer2SettingsOf(const EncoderParams& params);

class MpegWriter {
public:
    // `cancel` (may be null) is the flag the user interface sets to stop.
    // What the engines say in the middle of a piece goes to `reporter` as it
    // comes up; openMpeg returns its own failures.
    MpegWriter(JobReporter& reporter, const CancelToken* cancel = nullptr);
    ~MpegWriter();
    MpegWriter(const MpegWriter&) = delete;
    MpegWriter& operator=(const MpegWriter&) = delete;

    Status openMpeg(const MpegOpenArgs& args);
    // One picture in display order with the 44.1 kHz stereo samples that
    // belong to it (sampleCount counts 16-bit values). Not done means stop;
    // the writer has already finished the piece, and what stopped it was told
    // to the reporter before what finishing it had to say. `buffers` (null:
    // none), the vectors the planes lie in, may be exchanged for others of
    // the same sizes, and planes that `holder` keeps unchanged may be kept
    // rather than copied, as VideoEncoder::videoPut does.
    Status writeMpegFrame(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr,
                          const std::int16_t* pcm, int sampleCount,
                          std::vector<std::uint8_t>* buffers = nullptr,
                          std::shared_ptr<const void> holder = nullptr);
    double getMpegSizeMB() const;
    // Finishes the piece and starts the next one; not done, with why when
    // its engines could not start (the rest was told as it came up).
    Status nextMpegPiece();
    // Not done when the piece could not be completed (its last writes
    // failed, told as they came up); the file then ends with its last whole
    // sector.
    Status closeMpeg();

    // Pictures an overlapping new piece repeats come on top of the announced
    // count, so the title's end is not refused.
    void extendFrameCount(int pictures) {
        if (pictures > 0 && params_.frameCount > 0) params_.frameCount += pictures;
    }

    bool isOpen() const { return open_; }
    // writeMpegFrame refused a picture because frameCount had been fed.
    bool frameCountReached() const { return countReached_; }
    const EncoderParams& params() const { return params_; }
    int picturesFed() const { return fedTotal_; }
    // Pictures coded in the current piece.
    int picturesCoded() const;
    const VideoEncoder& video() const { return *video_; }
    // Name of piece n (n >= 2) of a base path: cut at the last '.' and
    // "_%02d." and the extension appended (a video stream alone: m1v, m2v).
    static std::string pieceName(const std::string& base, int n, const char* extension = "mpg");

private:
    Status startEngines();
    // Codes what is left, ends the encoders and closes the piece's file.
    bool finishEngines();
    Status fail();
    // The piece's file: the multiplexer, or the video stream alone.
    bool outputFailed() const;
    // An elementary-stream store ran full (said by its encoder): the bits
    // after it are lost, so the piece cannot be completed.
    bool storeOverflowed();
    bool outputStarted() const;
    Status pumpOutput();
    Status drainOutput();
    // Passes on what the status has to say; true when it is done.
    bool told(const Status& status);

    JobReporter& reporter_;
    const CancelToken* cancel_;
    EncoderParams params_;
    EncoderKernels kernels_{};
    std::unique_ptr<VideoEncoder> video_;
    std::unique_ptr<Layer2Encoder> audio_;
    std::unique_ptr<Multiplexer> mux_;
    std::unique_ptr<VideoStreamFile> videoFile_;
    bool videoOnly_ = false;
    std::unique_ptr<PcmStore> pcm_;
    bool open_ = false;
    bool videoFailed_ = false;
    int fedTotal_ = 0;  // every piece
    bool countReached_ = false;
    int fedPiece_ = 0;
};

}  // namespace zembra
