#include "dvd/css.h"

#include <dlfcn.h>

#include <cstdlib>
#include <map>
#include <memory>

#include "dvd/stream_format.h"

namespace zembra::css {

namespace {

// The calls of libdvdcss used here, with the flags of its interface.
using DvdcssHandle = void*;
constexpr int kBlockSize = 2048;
constexpr int kReadDecrypt = 1 << 0;
constexpr int kSeekKey = 1 << 1;

struct Api {
    DvdcssHandle (*open)(const char* target) = nullptr;
    int (*close)(DvdcssHandle) = nullptr;
    int (*seek)(DvdcssHandle, int blocks, int flags) = nullptr;
    int (*read)(DvdcssHandle, void* buffer, int blocks, int flags) = nullptr;
};

template <typename F>
bool resolve(void* handle, const char* symbol, F& out) {
    out = reinterpret_cast<F>(dlsym(handle, symbol));
    return out != nullptr;
}

// Loaded once; the handle stays open for the life of the process.
const Api* api() {
    static const std::unique_ptr<Api> loaded = []() -> std::unique_ptr<Api> {
        void* handle = dlopen(libraryName().c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) return nullptr;
        auto a = std::make_unique<Api>();
        if (!resolve(handle, "dvdcss_open", a->open) ||
            !resolve(handle, "dvdcss_close", a->close) ||
            !resolve(handle, "dvdcss_seek", a->seek) || !resolve(handle, "dvdcss_read", a->read))
            return nullptr;
        return a;
    }();
    return loaded.get();
}

struct Session {
    DvdcssHandle handle = nullptr;
    int64_t nextBlock = -1;  // where the last read ended
    int (*close)(DvdcssHandle) = nullptr;
};

// The open handles are closed as the program ends, so the library can let
// go of what it holds for each disc.
struct Sessions : std::map<std::string, Session> {
    ~Sessions() {
        // The loaded entry points may be gone by now; each session keeps its own.
        for (auto& entry : *this)
            if (entry.second.handle && entry.second.close) entry.second.close(entry.second.handle);
    }
};

std::map<std::string, Session>& sessions() {
    static Sessions s;
    return s;
}

}  // namespace

bool sectorScrambled(const uint8_t* sector, size_t size) {
    if (size < size_t(ps::kSectorSize) || sector[0] != 0 || sector[1] != 0 || sector[2] != 1 ||
        sector[3] != 0xBA)
        return false;
    // An MPEG-2 pack header (DVD packs are) with its stuffing.
    if ((sector[4] & 0xC0) != 0x40) return false;
    const size_t at = ps::kPackHeaderLength + size_t(ps::packStuffingLength(sector[13]));
    if (at + 7 > size || sector[at] != 0 || sector[at + 1] != 0 || sector[at + 2] != 1)
        return false;
    const uint8_t id = sector[at + 3];
    const bool media = id == ps::kPrivateStream1 ||
                       (id >= ps::kMpegAudioFirst && id <= ps::kMpegAudioLast) ||
                       (id >= ps::kVideoFirst && id <= ps::kVideoLast);
    const uint8_t flags = sector[at + 6];
    return media && (flags & 0xC0) == 0x80 && (flags & 0x30) != 0;
}

std::string libraryName() {
    if (const char* env = std::getenv("ZEMBRA_DVDCSS_LIBRARY"); env != nullptr && *env != '\0')
        return env;
    return "libdvdcss.so.2";
}

bool libraryAvailable() { return api() != nullptr; }

bool enable(const std::string& device) {
    if (enabled(device)) return true;
    const Api* a = api();
    if (!a) return false;
    DvdcssHandle h = a->open(device.c_str());
    if (!h) return false;
    sessions()[device].handle = h;
    sessions()[device].close = a->close;
    return true;
}

bool enabled(const std::string& device) { return sessions().count(device) != 0; }

bool read(const std::string& device, uint32_t block, uint32_t count, uint8_t* out) {
    auto it = sessions().find(device);
    const Api* a = api();
    if (it == sessions().end() || !a) return false;
    Session& s = it->second;
    // A jump may enter another title: its key is looked up with the seek.
    if (int64_t(block) != s.nextBlock) {
        if (a->seek(s.handle, int(block), kSeekKey) != int(block)) {
            s.nextBlock = -1;
            return false;
        }
    }
    while (count > 0) {
        const int got = a->read(s.handle, out, int(count), kReadDecrypt);
        if (got <= 0) {
            s.nextBlock = -1;
            return false;
        }
        out += size_t(got) * kBlockSize;
        block += uint32_t(got);
        count -= uint32_t(got);
    }
    s.nextBlock = block;
    return true;
}

void closeAll() {
    const Api* a = api();
    for (auto& [device, session] : sessions())
        if (a && session.handle) a->close(session.handle);
    sessions().clear();
}

}  // namespace zembra::css
