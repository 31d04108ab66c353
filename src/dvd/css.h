#pragma once
// CSS-scrambled DVD titles. A scrambled pack says so in the PES scrambling
// bits of its first packet; its bytes after the first 128 are then not MPEG
// data and must never be decoded as such. Such packs can be read only through
// libdvdcss (loaded at run time, like the codec libraries), which takes the
// title keys from the disc or disc image and unscrambles the packs it reads.

#include <cstddef>
#include <cstdint>
#include <string>

namespace zembra::css {

// True for a 2048-byte pack whose first packet is video, audio or private
// stream 1 with any of its two PES scrambling bits set.
bool sectorScrambled(const uint8_t* sector, size_t size);

// The library's file name: ZEMBRA_DVDCSS_LIBRARY when set, else
// "libdvdcss.so.2".
std::string libraryName();
// True when the library loads and has the calls used here.
bool libraryAvailable();

// Opens a libdvdcss session on a disc image or drive, kept for the rest of
// the process (its title keys are cached there); false when the library is
// missing or cannot open it.
bool enable(const std::string& device);
bool enabled(const std::string& device);
// Reads count blocks from block through the session of the device, the
// title key taken for the block where reading jumps; scrambled packs come
// back unscrambled. False when the session is missing or a read fails.
bool read(const std::string& device, uint32_t block, uint32_t count, uint8_t* out);
// Ends every session (tests).
void closeAll();

}  // namespace zembra::css
