#pragma once
// The rip's source side over the real engines: the title reader feeding the
// MPEG-2 decoder, the audio decoder on its audio route, and the frame queue
// that paces pictures and PCM to the output rate.

#include <memory>

#include "app/rip_seams.h"

namespace zembra {

class UiHost;
class SourceReader;
class Mpeg2Decoder;
class AudioDecoder;
class FrameQueue;
class DecoderFrameSource;
class DecoderInput;
struct DecoderOpenParams;

class DecoderRipSource : public RipSource {
public:
    DecoderRipSource(UiHost& host, TitleCatalogue& catalogue);
    ~DecoderRipSource() override;

    Status openDecoder(const InputSettings& input, const TitleCatalogue& catalogue,
                       SourceFacts& facts) override;
    bool isOpen() const override;
    void closeDecoder() override;
    Status reopenDecoder() override;
    Status scanVobFiles(const std::vector<std::string>& files, const InputSettings& input,
                        TitleCatalogue& catalogue, const CancelToken* cancel) override;
    void setRunMode(int mode) override;
    int getRunMode() const override;
    Status reseek(int64_t sector) override;
    int getNextFrame(FrameRecord& frame, int& width, int& height, const int16_t*& pcm,
                     int& pcmValues) override;
    int peekFrame(FrameRecord& frame, int& width, int& height) override;
    int currentTimeSeconds() const override;
    void setPrefill(int flag) override;
    int64_t getCurrentSector() const override;
    End howEnded() const override;
    std::vector<SkippedSectors> skippedSectors() const override;
    void setIdleStatus(const std::string& text) override;
    void setCancel(const CancelToken* flag) override;
    int audioSampleRate() const override;
    HostRelay* relay() override { return relay_.get(); }

    // The decoder settings a title is opened with.
    static DecoderOpenParams openParams(const InputSettings& input);

private:
    class CancellableInput;

    // First member: the engines below are built on it and talk through it.
    std::unique_ptr<HostRelay> relay_;
    std::unique_ptr<SourceReader> reader_;
    std::unique_ptr<Mpeg2Decoder> decoder_;
    std::unique_ptr<CancellableInput> input_;
    std::unique_ptr<AudioDecoder> audio_;
    std::unique_ptr<FrameQueue> queue_;
    std::unique_ptr<DecoderFrameSource> frames_;
    std::unique_ptr<DecoderOpenParams> lastParams_;
    bool hasParams_ = false;
};

}  // namespace zembra
