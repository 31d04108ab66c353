#pragma once
// Audio converters for the AVI sound stream: 16-bit stereo PCM in, the chosen
// format out. Drivers (PCM and MP3 here; others register themselves) list the
// formats they make at an output rate, and the writer picks one by name and
// bit rate instead of a chooser dialog.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "avi/codecs/formats.h"

namespace zembra::avi {

struct AudioFormatChoice {
    std::string tagName;      // "MPEG Layer-3"
    std::string description;  // "128 kBit/s, 44.100 kHz, Stereo"
    WaveFormat format;
};

class AudioConverter {
public:
    virtual ~AudioConverter() = default;
    // Converts interleaved 16-bit stereo PCM; appends the converted bytes to
    // out. srcUsed = source bytes taken (whole sample frames). False: failed.
    virtual bool convert(const uint8_t* src, size_t srcLen, std::vector<uint8_t>& out,
                         size_t& srcUsed) = 0;
    // Appends what the converter still holds; call once at the end.
    virtual bool flush(std::vector<uint8_t>& out) = 0;
    // The most bytes convert() can give for srcLen source bytes.
    virtual size_t destinationSize(size_t srcLen) = 0;
};

struct AudioConverterDriver {
    std::string name;  // "PCM", "MP3"
    // The formats made from 16-bit stereo PCM at this rate (none when the
    // driver cannot work on this machine).
    std::function<std::vector<AudioFormatChoice>(int rate)> formats;
    // A converter into dst from PCM at this rate; nullptr when dst is not one
    // of this driver's formats.
    std::function<std::unique_ptr<AudioConverter>(const WaveFormat& dst, int rate)> open;
};

// Adds a driver after the built-in ones (a later one with the same name
// replaces the earlier).
void registerAudioConverter(AudioConverterDriver driver);
std::vector<AudioConverterDriver>& audioConverterDrivers();

// The format of the driver or tag named (case-insensitive) whose bit rate is
// nearest to kbps; nothing when no driver of that name offers a format at rate.
std::optional<AudioFormatChoice> findAudioFormat(const std::string& name, int kbps, int rate);
// Every driver in turn until one opens a converter into dst; nullptr if none.
std::unique_ptr<AudioConverter> openAudioConverterFor(const WaveFormat& dst, int rate);

}  // namespace zembra::avi
