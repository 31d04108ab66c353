#include "dvd/stream_format.h"

#include <cstring>
#include <initializer_list>
#include <string_view>

namespace zembra::ps {

bool findDsiIds(const uint8_t* sector, size_t size, uint16_t& vobId, uint8_t& cellId) {
    bool found = false;
    forEachPacket(sector, size, [&](const PacketView& packet) {
        if (found || packet.streamId != kPrivateStream2) return;
        if (packet.payloadLength <= size_t(kDsiCellIdOffset)) return;
        if (packet.payload[0] != kNavDsi) return;
        vobId = readBe16(packet.payload + kDsiVobIdOffset);
        cellId = packet.payload[kDsiCellIdOffset];
        found = true;
    });
    return found;
}

bool looksLikeTransportStream(const uint8_t* data, size_t size) {
    for (size_t packet : {size_t(188), size_t(192)}) {
        const size_t first = packet == 192 ? 4 : 0;
        int synced = 0;
        for (size_t at = first; at < size && data[at] == 0x47; at += packet) ++synced;
        // Four packets in a row: a program stream cannot start so (it starts
        // with a pack start code), and neither can a video stream.
        if (synced >= 4 || (synced >= 2 && first + packet * size_t(synced) >= size)) return true;
    }
    return false;
}

bool looksLikeForeignContainer(const uint8_t* data, size_t size) {
    auto at = [&](size_t offset, std::string_view magic) {
        return size >= offset + magic.size() &&
               std::memcmp(data + offset, magic.data(), magic.size()) == 0;
    };
    // MP4 and QuickTime start with a box: a 32-bit size, then its type.
    for (std::string_view box : {"ftyp", "moov", "mdat", "wide", "free", "skip"})
        if (at(4, box)) return true;
    return at(0, "\x1A\x45\xDF\xA3") ||                  // Matroska, WebM
           (at(0, "RIFF") && at(8, "AVI ")) ||           // AVI
           at(0, "OggS") ||                              // Ogg
           at(0, "\x30\x26\xB2\x75\x8E\x66\xCF\x11") ||  // ASF, WMV
           at(0, "FLV\x01");                             // Flash video
}

}  // namespace zembra::ps
