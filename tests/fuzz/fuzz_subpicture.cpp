// Sub-picture units from untrusted packets: assembly, control sequences,
// run-length data and the overlay must stay inside their buffers.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "decoder/subpicture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    // First byte: the picture size class and the packet length used to cut
    // the rest into payloads.
    const int width = 64 + (data[0] & 7) * 96;
    const int height = 32 + ((data[0] >> 3) & 7) * 72;
    const size_t chunk = 1 + data[1] * 8;
    static zembra::SubpicturePalette palette{};
    zembra::Subpicture sp;
    sp.open(width, height, {int(int8_t(data[0])) * 4, (data[0] & 0x80) != 0, &palette});
    const zembra::PlaneLayout layout = zembra::PlaneLayout::make(width, height, 1 + data[1] % 3);
    std::vector<uint8_t> y(layout.planeSize(0), 16), cb(layout.planeSize(1), 128),
        cr(layout.planeSize(2), 128);
    for (size_t pos = 2; pos < size; pos += chunk) {
        const size_t n = size - pos < chunk ? size - pos : chunk;
        // An exact-size copy so an over-read of the payload is caught.
        std::vector<uint8_t> packet(data + pos, data + pos + n);
        sp.subpictureAddPayload(packet.data(), packet.size(), 1.0);
        if (sp.covers(sp.start())) sp.overlaySubpicture(y.data(), cb.data(), cr.data(), layout);
    }
    return 0;
}
