#pragma once
// The Xvid compressor's settings and their state blob: "key=value" lines
// after a "[xvid]" line, padded with zero bytes to a fixed size so that a
// stored blob of another size is recognised as foreign.
//
// Keys:
//   bitrate    kbit/s, 16..20000 (one pass by bit rate, and the second pass)
//   quantizer  0 = rate control by bit rate, 1..31 = every frame at this one
//   quality    motion search preset 0..6
//   keyint     longest distance between key frames, 0 = as the caller asks
//   pass       0 one pass; 1 first pass, writing the statistics file (frames
//              at the quantiser set, or 2); 2 second pass, reading it
//   stats      the statistics file; empty = zembra-xvid.stats in the
//              temporary folder

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zembra::avi {

struct XvidSettings {
    static constexpr size_t kStateSize = 512;

    int bitrate = 1200;
    int quantizer = 0;
    int quality = 4;
    int keyint = 15;
    int pass = 0;
    std::string stats;

    std::vector<uint8_t> state() const;  // kStateSize bytes
    // False (settings unchanged) unless the blob is one of ours.
    bool loadState(const std::vector<uint8_t>& blob);
    // Applies "key=value" lines; false (settings unchanged) for an unknown key,
    // a bad value or settings that no longer fit the state blob.
    bool edit(const std::string& keyValues);
    // The statistics file a two-pass run uses.
    std::string statsPath() const;
    std::string text() const;  // the lines of the blob
};

}  // namespace zembra::avi
