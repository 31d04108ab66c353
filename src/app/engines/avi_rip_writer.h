#pragma once
// The AVI writer as the rip loop's writer: each frame's output planes are
// converted to the export format (RGB32, RGB24 or YUY2) and handed with the
// frame's PCM to the writer; the pass decides the compressor state and
// whether sound is written.

#include <memory>
#include <vector>

#include "app/rip_seams.h"
#include "avi/codecs/stats_file.h"

namespace zembra {

class UiHost;
namespace avi {
class AviWriter;
}

class AviRipWriter : public RipWriter {
public:
    explicit AviRipWriter(UiHost& host);
    ~AviRipWriter() override;

    bool open(const WriterOpen& params) override;
    bool writeFrame(const FramePlanes& planes, const int16_t* pcm, int pcmValues) override;
    double sizeMB() override;
    bool nextPiece() override;
    bool close() override;
    void endRun() override;
    void setCancel(const CancelToken* flag) override;
    void extendFrameLimit(int frames) override;
    bool frameLimitReached() const override { return limitReached_; }

    avi::AviWriter& writer() { return *writer_; }

private:
    UiHost& host_;
    std::unique_ptr<avi::AviWriter> writer_;
    WriterOpen params_;
    std::vector<uint8_t> picture_;
    // The statistics the first of two passes writes for the second.
    avi::PrivateStatsFile stats_;
    bool open_ = false;
    int frameLimit_ = 0;
    bool limitReached_ = false;
};

}  // namespace zembra
