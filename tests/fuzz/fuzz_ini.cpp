// INI parser: any bytes as a profile file, then every read the program makes
// of one, a write, and the string table's load of it.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy so a read past the end is caught.
    std::vector<char> bytes(data, data + size);
    std::string_view text(bytes.data(), bytes.size());
    zembra::ProfileFile file = zembra::ProfileFile::fromText(text);
    for (const auto& section : file.sections()) {
        for (const auto& key : file.keys(section)) {
            auto value = file.get(section, key);
            if (!value) __builtin_trap();  // a listed key must be found
            (void)zembra::profile::parseInt(*value, 7);
            uint8_t blob[16];
            for (size_t n : {size_t{0}, size_t{1}, size_t{5}, size_t{16}})
                (void)zembra::profile::decodeStruct(*value, blob, n);
        }
    }
    (void)file.get("Zembra_OutputSettings", "Width");
    file.set("Zembra_OutputSettings", "Width", "16");
    auto again = zembra::ProfileFile::fromText(file.text());
    auto width = again.get("Zembra_OutputSettings", "Width");
    if (!width || *width != "16") __builtin_trap();  // a write reads back
    return 0;
}
