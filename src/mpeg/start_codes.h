#pragma once
// Start codes of MPEG video and of program streams: the byte after the
// prefix 00 00 01, and the whole 32-bit code as read from the stream.

#include <cstdint>

namespace zembra::mpeg {

// Video elementary stream.
inline constexpr std::uint8_t kPictureStart = 0x00;
inline constexpr std::uint8_t kSliceFirst = 0x01;  // slices 0x01..0xAF, by row
inline constexpr std::uint8_t kSliceLast = 0xAF;
inline constexpr std::uint8_t kUserDataStart = 0xB2;
inline constexpr std::uint8_t kSequenceHeader = 0xB3;
inline constexpr std::uint8_t kExtensionStart = 0xB5;
inline constexpr std::uint8_t kSequenceEnd = 0xB7;
inline constexpr std::uint8_t kGroupStart = 0xB8;

// Program stream.
inline constexpr std::uint8_t kProgramEnd = 0xB9;
inline constexpr std::uint8_t kPackStart = 0xBA;
inline constexpr std::uint8_t kSystemHeader = 0xBB;
inline constexpr std::uint8_t kPrivateStream1 = 0xBD;  // DVD: AC-3, LPCM, sub-pictures
inline constexpr std::uint8_t kPaddingStream = 0xBE;
inline constexpr std::uint8_t kPrivateStream2 = 0xBF;    // DVD: navigation packs
inline constexpr std::uint8_t kAudioStreamFirst = 0xC0;  // MPEG audio 0xC0..0xDF
inline constexpr std::uint8_t kVideoStreamFirst = 0xE0;  // MPEG video 0xE0..0xEF

// The 32-bit form 0x000001xx of a start code byte.
constexpr std::uint32_t startCode(std::uint8_t code) { return 0x100u | code; }

}  // namespace zembra::mpeg
