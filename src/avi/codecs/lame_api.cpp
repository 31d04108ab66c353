// Loads LAME at run time; a machine without it simply has no MP3.

#include "avi/codecs/lame_api.h"

#include <dlfcn.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace zembra::avi {

namespace {

struct Loaded {
    bool tried = false;
    std::string name;
    // One table per library ever loaded, kept like its handle: encoders
    // made earlier hold on to theirs.
    std::vector<std::unique_ptr<const LameApi>> tables;
    const LameApi* api = nullptr;
};

Loaded& loaded() {
    static Loaded l;
    return l;
}

std::string libraryName() {
    if (!loaded().name.empty()) return loaded().name;
    if (const char* env = std::getenv("ZEMBRA_LAME_LIBRARY"); env != nullptr && *env != '\0')
        return env;
    return "libmp3lame.so.0";
}

class Resolver {
public:
    explicit Resolver(void* handle) : handle_(handle) {}
    template <typename F>
    void operator()(const char* symbol, F& out) {
        out = reinterpret_cast<F>(dlsym(handle_, symbol));
        if (out == nullptr) ok = false;
    }
    bool ok = true;

private:
    void* handle_;
};

void tryLoad(Loaded& l) {
    l.tried = true;
    l.api = nullptr;
    // Never closed: encoders made from an earlier name may still be alive.
    void* handle = dlopen(libraryName().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return;
    LameApi a;
    Resolver r(handle);
    r("lame_init", a.init);
    r("lame_close", a.close);
    r("get_lame_version", a.version);
    r("lame_init_params", a.initParams);
    r("lame_encode_buffer", a.encodeBuffer);
    r("lame_encode_buffer_interleaved", a.encodeInterleaved);
    r("lame_encode_flush", a.flush);
    r("lame_get_encoder_delay", a.encoderDelay);
    r("lame_get_out_samplerate", a.outSampleRate);
    r("lame_set_errorf", a.setErrorf);
    r("lame_set_debugf", a.setDebugf);
    r("lame_set_msgf", a.setMsgf);
    r("lame_set_write_id3tag_automatic", a.setId3Automatic);
    r("lame_set_in_samplerate", a.setInSampleRate);
    r("lame_set_num_channels", a.setNumChannels);
    r("lame_set_out_samplerate", a.setOutSampleRate);
    r("lame_set_bWriteVbrTag", a.setVbrTag);
    r("lame_set_quality", a.setQuality);
    r("lame_set_mode", a.setMode);
    r("lame_set_brate", a.setBrate);
    r("lame_set_copyright", a.setCopyright);
    r("lame_set_original", a.setOriginal);
    r("lame_set_error_protection", a.setErrorProtection);
    r("lame_set_extension", a.setExtension);
    r("lame_set_disable_reservoir", a.setDisableReservoir);
    r("lame_set_VBR", a.setVbr);
    r("lame_set_VBR_q", a.setVbrQ);
    r("lame_set_VBR_min_bitrate_kbps", a.setVbrMin);
    r("lame_set_VBR_max_bitrate_kbps", a.setVbrMax);
    r("lame_set_lowpassfreq", a.setLowpass);
    r("lame_set_lowpasswidth", a.setLowpassWidth);
    r("lame_set_highpassfreq", a.setHighpass);
    r("lame_set_highpasswidth", a.setHighpassWidth);
    if (!r.ok) return;
    l.tables.push_back(std::make_unique<const LameApi>(a));
    l.api = l.tables.back().get();
}

}  // namespace

const LameApi* lameApi() {
    Loaded& l = loaded();
    if (!l.tried) tryLoad(l);
    return l.api;
}

void setLameLibraryName(const std::string& soname) {
    loaded().name = soname;
    loaded().tried = false;
}

}  // namespace zembra::avi
