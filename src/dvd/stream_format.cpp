#include "dvd/stream_format.h"

#include <initializer_list>

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

}  // namespace zembra::ps
