#include "dvd/stream_format.h"

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

}  // namespace zembra::ps
