// Loads libxvidcore at run time; a machine without it simply has no Xvid.

#include <dlfcn.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "avi/codecs/video_compressor.h"
#include "avi/codecs/xvid_api.h"

namespace zembra::avi::xvid {

namespace {

struct Loaded {
    bool tried = false;
    std::string name;  // empty: default or environment
    // One table per library ever loaded, kept like its handle: encoders
    // made earlier hold on to theirs.
    std::vector<std::unique_ptr<const Api>> tables;
    const Api* api = nullptr;
};

Loaded& loaded() {
    static Loaded l;
    return l;
}

std::string libraryName() {
    if (!loaded().name.empty()) return loaded().name;
    if (const char* env = std::getenv("ZEMBRA_XVID_LIBRARY"); env != nullptr && *env != '\0')
        return env;
    return "libxvidcore.so.4";
}

template <typename F>
bool resolve(void* handle, const char* symbol, F& out) {
    out = reinterpret_cast<F>(dlsym(handle, symbol));
    return out != nullptr;
}

void tryLoad(Loaded& l) {
    l.tried = true;
    l.api = nullptr;
    // The handle stays open for the life of the process: encoders made from
    // it may still be alive when the name changes.
    void* handle = dlopen(libraryName().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return;
    Api a;
    if (!resolve(handle, "xvid_global", a.global) || !resolve(handle, "xvid_encore", a.encore) ||
        !resolve(handle, "xvid_plugin_single", a.single) ||
        !resolve(handle, "xvid_plugin_2pass1", a.pass1) ||
        !resolve(handle, "xvid_plugin_2pass2", a.pass2))
        return;
    GblInit init{};
    init.version = kVersion;
    if (a.global(nullptr, kGblInit, &init, nullptr) < 0) return;
    l.tables.push_back(std::make_unique<const Api>(a));
    l.api = l.tables.back().get();
}

}  // namespace

const Api* api() {
    Loaded& l = loaded();
    if (!l.tried) tryLoad(l);
    return l.api;
}

void setLibraryName(const std::string& soname) {
    loaded().name = soname;
    loaded().tried = false;
}

}  // namespace zembra::avi::xvid

namespace zembra::avi {

void setXvidLibraryName(const std::string& soname) { xvid::setLibraryName(soname); }
bool xvidLibraryLoaded() { return xvid::api() != nullptr; }

}  // namespace zembra::avi
