#pragma once
// The MPEG writer as the rip loop's writer: "Rip Now" hands it the output
// planes and PCM of each frame; the settings are passed field by field as
// openMpeg takes them.

#include <memory>

#include "app/rip_seams.h"

namespace zembra {

class MpegWriter;
class UiHost;
struct MpegOpenArgs;

class MpegRipWriter : public RipWriter {
public:
    explicit MpegRipWriter(UiHost& host);
    ~MpegRipWriter() override;

    bool open(const WriterOpen& params) override;
    bool writeFrame(const FramePlanes& planes, const int16_t* pcm, int pcmValues) override;
    double sizeMB() override;
    bool nextPiece() override;
    bool close() override;
    void setCancel(const CancelToken* flag) override { cancel_ = flag; }
    void extendFrameLimit(int frames) override;
    bool frameLimitReached() const override;

    // The arguments openMpeg gets from the settings of a pass.
    static MpegOpenArgs openArgs(const WriterOpen& params);

private:
    UiHost& host_;
    const CancelToken* cancel_ = nullptr;
    std::unique_ptr<MpegWriter> writer_;
};

}  // namespace zembra
