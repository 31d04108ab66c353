#pragma once
// Installed video compressors: the built-in uncompressed ones and MPEG-4 ASP
// through libxvidcore when the system has it. A compressor is opened for one
// sequence at a time: query the input, load its state, announce the frame rate,
// start, compress frame after frame, end.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "avi/codecs/formats.h"

namespace zembra::avi {

struct CompressorInfo {  // the ICINFO record a compressor list shows
    uint32_t fccType = kTypeVideo, fccHandler = 0;
    std::string name, description;
};

class VideoCompressor {
public:
    virtual ~VideoCompressor() = default;
    virtual const CompressorInfo& info() const = 0;

    // True when the compressor takes pictures of this format.
    virtual bool queryInput(const BitmapInfoHeader& in) = 0;
    // The format of the compressed frames (what the stream format record holds).
    virtual BitmapInfoHeader outputFormat(const BitmapInfoHeader& in) = 0;

    // The state is the compressor's settings as an opaque blob of a fixed size
    // (0 for a compressor without settings); the application stores it.
    virtual size_t stateSize() = 0;
    virtual std::vector<uint8_t> getState() = 0;
    // False (nothing changed) for a blob of the wrong size or contents.
    virtual bool setState(const std::vector<uint8_t>& state) = 0;
    // Edits the settings with "key=value" lines (see the compressor for its
    // keys); an unknown key or bad value changes nothing and gives false.
    virtual bool configure(const std::string& keyValues) = 0;
    // The statistics file of this two-pass run (see PrivateStatsFile); a file
    // named in the compressor's own settings still wins. Call before start().
    virtual void useStatsFile(const std::string& /*path*/) {}
    // The threads the compressor may code with (1 by default). A compressor
    // that splits its work among threads may then give other bytes than with
    // one. Call before start().
    virtual void useThreads(int /*count*/) {}

    // Frame rate as rate/scale frames per second and the key-frame interval
    // the caller asks for; call before start(). Without it: 25 fps, 15.
    virtual void framesInfo(uint32_t rate, uint32_t scale, int keyRate) = 0;
    // Begins a sequence of pictures in this input format (queryInput true).
    virtual bool start(const BitmapInfoHeader& in) = 0;
    // Compresses one picture (bits in the input format, sizeImage bytes) into
    // `out`; keyFrame tells whether the frame decodes on its own. False: failed.
    virtual bool compress(const uint8_t* bits, std::vector<uint8_t>& out, bool& keyFrame) = 0;
    // Ends the sequence (a two-pass first pass finishes its statistics file).
    virtual void end() = 0;
};

// Every compressor this machine offers, in a fixed order; Xvid only when its
// library loads.
std::vector<CompressorInfo> installedVideoCompressors();
// nullptr when no such compressor is installed.
std::unique_ptr<VideoCompressor> openVideoCompressorDriver(uint32_t fccType, uint32_t fccHandler);

// The accepted inputs of a compressor among RGB24, RGB32 and YUY2 as text
// ("RGB24 RGB32"), for lists.
std::string acceptedInputsText(VideoCompressor& compressor);

// The shared object the Xvid compressor loads ("libxvidcore.so.4", or the
// ZEMBRA_XVID_LIBRARY environment variable); setting it drops the loaded one
// so the next list or open tries again (tests, unusual installs).
void setXvidLibraryName(const std::string& soname);
bool xvidLibraryLoaded();

}  // namespace zembra::avi
