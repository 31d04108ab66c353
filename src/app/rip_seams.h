#pragma once
// The two engine sides of a rip as the main window drives them: the source
// (title reader, decoder and frame queue behind getNextFrame) and the writer
// in use (AVI or MPEG). The concrete classes wire the engines; tests can put
// their own behind the same calls.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/settings_store.h"
#include "decoder/frame_record.h"
#include "dvd/title_catalogue.h"
#include "platform/cancel_token.h"
#include "platform/status.h"

namespace zembra {

class HostRelay;

// What openDecoder reports about the opened title.
struct SourceFacts {
    double frameRate = 0.0;
    int chromaFormat = 1;
    int width = 0;
    int height = 0;
    // Display aspect ratio in the codes of an MPEG-2 sequence header (an
    // MPEG-1 source's pixel aspect is mapped onto them): 1 square pixels,
    // 2 4:3, 3 16:9, 4 2.21:1; 0 unknown.
    int aspectRatio = 0;
};

class RipSource {
public:
    virtual ~RipSource() = default;
    // openDecoder on the title of `catalogue` chosen by `input` (PGC, ids,
    // VobFiles, ...). These four return their failure for the caller to show.
    virtual Status openDecoder(const InputSettings& input, const TitleCatalogue& catalogue,
                               SourceFacts& facts) = 0;
    virtual bool isOpen() const = 0;
    virtual void closeDecoder() = 0;
    virtual Status reopenDecoder() = 0;
    // Builds a one-title catalogue from plain VOB/MPEG files.
    virtual Status scanVobFiles(const std::vector<std::string>& files, const InputSettings& input,
                                TitleCatalogue& catalogue, const CancelToken* cancel) = 0;
    virtual void setRunMode(int mode) = 0;
    virtual int getRunMode() const = 0;
    virtual Status reseek(int64_t sector) = 0;
    // 1 with a frame and its PCM, 0 at the end, on a fatal error or cancel.
    virtual int getNextFrame(FrameRecord& frame, int& width, int& height, const int16_t*& pcm,
                             int& pcmValues) = 0;
    virtual int peekFrame(FrameRecord& frame, int& width, int& height) = 0;
    virtual int currentTimeSeconds() const = 0;
    virtual void setPrefill(int flag) = 0;
    virtual int64_t getCurrentSector() const = 0;  // -1 when unknown
    // The status line to put back after the reader's buffering message.
    virtual void setIdleStatus(const std::string& /*text*/) {}
    // Why getNextFrame gave 0.
    enum class End { Title, ReadError, FilesShort };
    virtual End howEnded() const { return End::Title; }
    // Sectors skipped over read errors in the last pass.
    virtual std::vector<SkippedSectors> skippedSectors() const { return {}; }
    // The reader's and scan's cancel flag.
    virtual void setCancel(const CancelToken* flag) = 0;
    // The sample rate of the PCM getNextFrame hands out, known once decoding
    // has begun; 0 when the source cannot say.
    virtual int audioSampleRate() const { return 0; }
    // The host the source's engines talk through, when getNextFrame may run
    // on a thread of its own while the rip thread writes (between reseek
    // and the end of the pass no other call is made then); null when it
    // must run on the rip thread.
    virtual HostRelay* relay() { return nullptr; }
};

// Everything a writer is opened with for one pass.
struct WriterOpen {
    std::string fileName;
    const ApplicationSettings* app = nullptr;
    const InputSettings* input = nullptr;
    const OutputSettings* output = nullptr;
    int chromaFormat = 1;
    int passIndex = 0;
    int passCount = 1;
    int audioMode = 0;  // AVI: DoAVIAudio of this pass (0 none)
    int audioRate = 0;  // AVI: the rate of the PCM to be written, 0 when not known
};

// The three output planes of a frame (Width x Height luma, 4:2:0 chroma).
// `buffers`, when set, are the three vectors they lie in: a writer that
// keeps the picture may take those over instead of copying it, leaving
// vectors of the same sizes whose contents are not the picture. `holder`,
// when set, keeps the planes alive and unchanged for as long as it lives:
// a writer may keep it instead of a copy.
struct FramePlanes {
    FramePlanes(const uint8_t* const planes[3], std::vector<uint8_t>* vectors = nullptr)
        : plane{planes[0], planes[1], planes[2]}, buffers(vectors) {}
    // The picture of a frame record, read where the frame queue made it.
    explicit FramePlanes(const FrameRecord& frame)
        : plane{frame.y, frame.cb, frame.cr}, buffers(nullptr), holder(frame.planes) {}
    const uint8_t* plane[3];
    std::vector<uint8_t>* buffers;
    std::shared_ptr<const void> holder;
};

class RipWriter {
public:
    virtual ~RipWriter() = default;
    virtual bool open(const WriterOpen& params) = 0;
    // One frame's output planes and its PCM.
    virtual bool writeFrame(const FramePlanes& planes, const int16_t* pcm, int pcmValues) = 0;
    virtual double sizeMB() = 0;
    virtual bool nextPiece() = 0;
    // False when the piece could not be completed (its last write failed).
    [[nodiscard]] virtual bool close() = 0;
    // The title's last pass is over, however it ended: what the run kept
    // between its passes goes.
    virtual void endRun() {}
    virtual void setCancel(const CancelToken* flag) = 0;
    // Frames that an overlapping piece repeats are added to the frame limit.
    virtual void extendFrameLimit(int /*frames*/) {}
    // True once writeFrame refused a frame because the title's expected
    // frame count (MaxFrames) had been written: the normal end of a title
    // that decodes a frame or two more than its stated length, not a fault.
    virtual bool frameLimitReached() const { return false; }
};

}  // namespace zembra
