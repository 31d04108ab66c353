#pragma once
// Layout of the DVD-Video program stream as the reader, the demultiplexer and
// the tests see it: start codes, stream and sub-stream ids, pack, PES and PTS
// fields, and where the navigation pack keeps its VOB and cell ids.
// All multi-byte fields are big-endian. One DVD pack fills one 2048-byte sector.

#include <cstddef>
#include <cstdint>

#include "mpeg/timestamps.h"
#include "platform/byte_order.h"

namespace zembra::ps {

inline constexpr int kSectorSize = 2048;

// 32-bit start codes 0x000001xx.
inline constexpr uint32_t kStartCodePrefix = 0x000001;
inline constexpr uint32_t kPackStartCode = 0x000001BA;
inline constexpr uint32_t kSystemHeaderStartCode = 0x000001BB;
inline constexpr uint32_t kProgramEndCode = 0x000001B9;

// Pack header: start code, 6 bytes SCR, 3 bytes mux rate, then one byte whose
// low 3 bits count the stuffing bytes after it.
inline constexpr int kPackHeaderLength = 14;  // without stuffing
inline constexpr int kPackStuffingByte = 13;
inline constexpr int packStuffingLength(uint8_t byte13) { return byte13 & 0x07; }

// System header: start code, 2-byte length, 6 bytes of bounds and flags, then
// 3-byte stream entries while the next byte has any of its top four bits set.
inline constexpr int kSystemHeaderFixedLength = 12;

// Stream ids (the byte after the 0x000001 prefix of a packet).
inline constexpr uint8_t kProgramStreamMap = 0xBC;
inline constexpr uint8_t kPrivateStream1 = 0xBD;
inline constexpr uint8_t kPaddingStream = 0xBE;
inline constexpr uint8_t kPrivateStream2 = 0xBF;
inline constexpr uint8_t kMpegAudioFirst = 0xC0;  // MPEG audio stream k = 0xC0 + k
inline constexpr uint8_t kMpegAudioLast = 0xDF;
inline constexpr uint8_t kMpeg2ExtAudioFirst = 0xC8;  // MPEG-2 extension audio numbering
inline constexpr uint8_t kVideoFirst = 0xE0;          // video stream k = 0xE0 + k
inline constexpr uint8_t kVideoLast = 0xEF;
inline constexpr uint8_t kEcmStream = 0xF0;
inline constexpr uint8_t kEmmStream = 0xF1;
inline constexpr uint8_t kDsmccStream = 0xF2;
inline constexpr uint8_t kH2221TypeEStream = 0xF8;
inline constexpr uint8_t kProgramStreamDirectory = 0xFF;

inline constexpr bool isMpegAudioStream(uint8_t id) {
    return id >= kMpegAudioFirst && id <= kMpegAudioLast;
}
inline constexpr bool isVideoStream(uint8_t id) { return id >= kVideoFirst && id <= kVideoLast; }

// Packets without a PES header: their payload follows the length field.
inline constexpr bool hasPesHeader(uint8_t id) {
    return id != kProgramStreamMap && id != kPaddingStream && id != kPrivateStream2 &&
           id != kEcmStream && id != kEmmStream && id != kDsmccStream && id != kH2221TypeEStream &&
           id != kProgramStreamDirectory;
}

// Packet: start code + id (4 bytes), 2-byte length n = bytes after the length.
inline constexpr int kPacketHeaderLength = 6;

// PES header (MPEG-2 form) after the length: flags, flags, header data length.
inline constexpr uint8_t kPesPtsFlag = 0x80;  // in the second flags byte
inline constexpr uint8_t kPesDtsFlag = 0x40;  // only together with the PTS flag
inline constexpr int kPesFixedLength = 3;

// Private stream 1 sub-stream ids (first payload byte).
inline constexpr uint8_t kSubpictureFirst = 0x20;  // 0x20 + k, k = 0..31
inline constexpr uint8_t kSubpictureLast = 0x3F;
inline constexpr uint8_t kAc3First = 0x80;  // 0x80 + k, k = 0..7
inline constexpr uint8_t kAc3Last = 0x87;
inline constexpr uint8_t kDtsFirst = 0x88;
inline constexpr uint8_t kDtsLast = 0x8F;
inline constexpr uint8_t kLpcmFirst = 0xA0;
inline constexpr uint8_t kLpcmLast = 0xA7;

inline constexpr bool isSubpicture(uint8_t sub) {
    return sub >= kSubpictureFirst && sub <= kSubpictureLast;
}
inline constexpr bool isAc3(uint8_t sub) { return sub >= kAc3First && sub <= kAc3Last; }
inline constexpr bool isDts(uint8_t sub) { return sub >= kDtsFirst && sub <= kDtsLast; }
inline constexpr bool isLpcm(uint8_t sub) { return sub >= kLpcmFirst && sub <= kLpcmLast; }

// Navigation (private stream 2) packets: first payload byte 0 = PCI, 1 = DSI.
// In the DSI the VOB id is the 16-bit value at payload offset 25 and the cell
// id the byte at offset 28 (the sub-stream byte is offset 0).
inline constexpr uint8_t kNavPci = 0x00;
inline constexpr uint8_t kNavDsi = 0x01;
inline constexpr int kDsiVobIdOffset = 25;
inline constexpr int kDsiCellIdOffset = 28;

using mpeg::readTimestamp;
using mpeg::timestampToMs;

// The PES header after a packet's length field, in either form: MPEG-2
// (two flag bytes, the header data length, then the fields) or MPEG-1 (up to
// 16 stuffing bytes 0xFF, an optional STD buffer field 01xx, then the
// time stamps 0010 (PTS) or 0011 (PTS and DTS), or one byte 0000 1111).
struct PesHeader {
    size_t length = 0;  // bytes from the first flags byte to the payload
    bool mpeg1 = false;
    bool hasPts = false;
    uint64_t pts = 0;
};

// How many bytes the header takes, as far as the `have` bytes at p tell:
// while the answer is larger than `have`, read that many and ask again.
// Needs at least one byte to answer more than 1.
inline constexpr size_t pesHeaderNeeds(const uint8_t* p, size_t have) {
    if (have < 1) return 1;
    if ((p[0] & 0xC0) == 0x80) return have < kPesFixedLength ? kPesFixedLength : 3 + size_t(p[2]);
    size_t i = 0;
    while (p[i] == 0xFF && i < 16)
        if (++i >= have) return i + 1;
    if ((p[i] & 0xC0) == 0x40) {  // STD buffer scale and size
        i += 2;
        if (i >= have) return i + 1;
    }
    if ((p[i] & 0xF0) == 0x20) return i + 5;
    if ((p[i] & 0xF0) == 0x30) return i + 10;
    return i + 1;
}

// The header whose bytes (pesHeaderNeeds of them) are at p.
inline constexpr PesHeader readPesHeader(const uint8_t* p, size_t size) {
    PesHeader h;
    h.length = size;
    if ((p[0] & 0xC0) == 0x80) {
        if (size >= 8 && (p[1] & kPesPtsFlag) && p[2] >= 5) {
            h.hasPts = true;
            h.pts = readTimestamp(p + 3);
        }
        return h;
    }
    h.mpeg1 = true;
    size_t i = 0;
    while (i < size && p[i] == 0xFF && i < 16) ++i;
    if (i < size && (p[i] & 0xC0) == 0x40) i += 2;
    if (i + 5 <= size && (p[i] & 0xE0) == 0x20) {  // 0010 or 0011: the PTS comes first
        h.hasPts = true;
        h.pts = readTimestamp(p + i);
    }
    return h;
}

// One packet found inside a pack.
struct PacketView {
    uint8_t streamId = 0;
    const uint8_t* payload = nullptr;  // after the PES header (after the length when none)
    size_t payloadLength = 0;
    bool hasPts = false;
    uint64_t pts = 0;
};

// Walks one pack (pack header, optional system header, packets) and calls
// visit for every packet; stops at the end of the buffer or at anything that
// is not a start code. Returns false when the buffer does not begin with a
// pack header or a packet runs past the buffer.
template <typename Visit>
bool forEachPacket(const uint8_t* data, size_t size, Visit&& visit);

// VOB id and cell id of the DSI packet in a navigation pack.
bool findDsiIds(const uint8_t* sector, size_t size, uint16_t& vobId, uint8_t& cellId);

// ---- implementation of the template ----
template <typename Visit>
bool forEachPacket(const uint8_t* data, size_t size, Visit&& visit) {
    if (size < size_t(kPackHeaderLength) || readBe32(data) != kPackStartCode) return false;
    // MPEG-1 packs have a 12-byte header (top bits 0010); DVD packs 01.
    size_t pos;
    if ((data[4] & 0xC0) == 0x40)
        pos = kPackHeaderLength + packStuffingLength(data[kPackStuffingByte]);
    else
        pos = 12;
    while (pos + 4 <= size) {
        uint32_t code = readBe32(data + pos);
        if ((code >> 8) != kStartCodePrefix) break;
        if (code == kProgramEndCode || code == kPackStartCode) break;
        if (pos + 6 > size) return false;
        size_t length = readBe16(data + pos + 4);
        if (pos + 6 + length > size) return false;
        if (code == kSystemHeaderStartCode) {
            pos += 6 + length;
            continue;
        }
        PacketView packet;
        packet.streamId = uint8_t(code & 0xFF);
        const uint8_t* body = data + pos + 6;
        if (hasPesHeader(packet.streamId) && length >= 1) {
            size_t have = 1, need;
            while ((need = pesHeaderNeeds(body, have)) > have && need <= length) have = need;
            if (need > length) return false;
            const PesHeader header = readPesHeader(body, need);
            packet.hasPts = header.hasPts;
            packet.pts = header.pts;
            packet.payload = body + need;
            packet.payloadLength = length - need;
        } else {
            packet.payload = body;
            packet.payloadLength = length;
        }
        visit(packet);
        pos += 6 + length;
    }
    return true;
}

// True when the bytes start like an MPEG transport stream (DVB and camcorder
// recordings): 188-byte packets, or 192-byte ones with a 4-byte time code
// before each, every one beginning with the sync byte 0x47. Such files are
// not program streams, and read as a video stream they decode to garbage.
bool looksLikeTransportStream(const uint8_t* data, size_t size);

// True when the bytes start like a file of another container: MP4 or
// QuickTime, Matroska or WebM, AVI, Ogg, ASF or FLV. Their MPEG video, if
// any, lies cut up between the container's own headers, which a video stream
// reader would take for picture data.
bool looksLikeForeignContainer(const uint8_t* data, size_t size);

}  // namespace zembra::ps
