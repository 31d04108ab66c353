// Loads LAME at run time; a machine without it simply has no MP3.

#include "avi/codecs/lame_api.h"

#include "avi/codecs/run_time_library.h"

namespace zembra::avi {

namespace {

bool fillLameApi(void* handle, LameApi& a) {
    SymbolResolver r(handle);
    r("lame_init", a.init);
    r("lame_close", a.close);
    r("get_lame_version", a.version);
    r("lame_init_params", a.initParams);
    r("lame_encode_buffer", a.encodeBuffer);
    r("lame_encode_buffer_interleaved", a.encodeInterleaved);
    r("lame_encode_flush", a.flush);
    r("lame_get_encoder_delay", a.encoderDelay);
    r("lame_get_out_samplerate", a.outSampleRate);
    r("lame_get_brate", a.getBrate);
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
    return r.ok;
}

RunTimeLibrary<LameApi>& lameLibrary() {
    static RunTimeLibrary<LameApi> library("ZEMBRA_LAME_LIBRARY", "libmp3lame.so.0", fillLameApi);
    return library;
}

}  // namespace

const LameApi* lameApi() { return lameLibrary().api(); }

void setLameLibraryName(const std::string& soname) { lameLibrary().setName(soname); }

}  // namespace zembra::avi
