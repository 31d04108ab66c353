// IFO parser over arbitrary bytes, copied to an exact-size buffer so any
// read past the end is caught.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "dvd/title_catalogue.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size ? size : 1]);
    if (size) std::memcpy(copy.get(), data, size);
    zembra::TitleCatalogue catalogue;
    if (zembra::parseIfoBytes(catalogue, copy.get(), size)) {
        for (const auto& t : catalogue.titles) {
            volatile size_t sink = t.label.size() + t.cells.size();
            for (int a = 0; a < t.audioCount; ++a) sink = sink + t.audioText[size_t(a)].size();
            (void)sink;
        }
    }
    return 0;
}
