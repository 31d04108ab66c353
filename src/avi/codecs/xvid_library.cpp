// Loads libxvidcore at run time; a machine without it simply has no Xvid.

#include <string>

#include "avi/codecs/run_time_library.h"
#include "avi/codecs/video_compressor.h"
#include "avi/codecs/xvid_api.h"

namespace zembra::avi::xvid {

namespace {

// Usable once every function is there and the library starts.
bool fillXvidApi(void* handle, Api& a) {
    SymbolResolver r(handle);
    r("xvid_global", a.global);
    r("xvid_encore", a.encore);
    r("xvid_plugin_single", a.single);
    r("xvid_plugin_2pass1", a.pass1);
    r("xvid_plugin_2pass2", a.pass2);
    if (!r.ok) return false;
    GblInit init{};
    init.version = kVersion;
    return a.global(nullptr, kGblInit, &init, nullptr) >= 0;
}

RunTimeLibrary<Api>& xvidLibrary() {
    static RunTimeLibrary<Api> library("ZEMBRA_XVID_LIBRARY", "libxvidcore.so.4", fillXvidApi);
    return library;
}

}  // namespace

const Api* api() { return xvidLibrary().api(); }

void setLibraryName(const std::string& soname) { xvidLibrary().setName(soname); }

}  // namespace zembra::avi::xvid

namespace zembra::avi {

void setXvidLibraryName(const std::string& soname) { xvid::setLibraryName(soname); }
bool xvidLibraryLoaded() { return xvid::api() != nullptr; }

}  // namespace zembra::avi
