#pragma once
// The WAV file of the WAV export: a 44-byte PCM header written at open, the
// samples as they come, and the two sizes filled in at close.

#include <cstdint>
#include <string>

#include "platform/file_sink.h"

namespace zembra::avi {

class WavFile {
public:
    static constexpr int kHeaderSize = 44;

    // Creates the file with a header for 16-bit stereo at this rate.
    [[nodiscard]] bool open(const std::string& path, int sampleRate);
    [[nodiscard]] bool write(const void* data, size_t size);
    // 16-bit samples held in the host's byte order, stored little-endian.
    [[nodiscard]] bool writeSamples(const int16_t* samples, size_t count);
    // Restates the rate (and the byte rate with it) when the sound turned out
    // to have another one than the file was opened with.
    [[nodiscard]] bool setSampleRate(int sampleRate);
    // Fills in the sizes (offset 4: data + 36, offset 40: data) and closes.
    bool close();

    bool isOpen() const { return sink_.isOpen(); }
    // open failed because another rip is writing the file.
    bool lockedByAnother() const { return sink_.lockedByAnother(); }
    uint64_t dataBytes() const { return dataBytes_; }

private:
    FileSink sink_;
    uint64_t dataBytes_ = 0;
};

}  // namespace zembra::avi
