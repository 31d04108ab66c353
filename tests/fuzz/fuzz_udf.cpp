// UDF lookup over a fuzzed disc image. The input is a list of records, each
// a 4-byte little-endian block number and 2048 bytes for that block, so a
// small input can place descriptors anywhere on a sparse image.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "dvd/disc_device.h"
#include "dvd/source_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr uint32_t kMaxBlocks = 8192;
    int fd = memfd_create("udf-fuzz", 0);
    if (fd < 0) return 0;
    uint32_t highest = 300;
    for (size_t pos = 0; pos + 4 + 2048 <= size; pos += 4 + 2048) {
        uint32_t block = uint32_t(data[pos]) | (uint32_t(data[pos + 1]) << 8) |
                         (uint32_t(data[pos + 2]) << 16) | (uint32_t(data[pos + 3]) << 24);
        block %= kMaxBlocks;
        if (pwrite(fd, data + pos + 4, 2048, off_t(block) * 2048) != 2048) break;
        if (block + 1 > highest) highest = block + 1;
    }
    if (ftruncate(fd, off_t(highest) * 2048) == 0) {
        std::string path = "/proc/self/fd/" + std::to_string(fd);
        auto device = std::make_shared<zembra::DiscDevice>();
        if (device->open(path)) {
            (void)zembra::udfLocate(device, "/VIDEO_TS/VTS_01_1.VOB");
            (void)zembra::udfListDirectory(*device, "/VIDEO_TS");
            if (auto f = zembra::SourceFile::open(path + ":/VIDEO_TS/VTS_01_0.IFO", true)) {
                for (int i = 0; i < 64; ++i)
                    if (f->takeChunk(2048).length <= 0) break;
            }
        }
    }
    close(fd);
    return 0;
}
