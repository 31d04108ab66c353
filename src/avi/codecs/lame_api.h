#pragma once
// The part of LAME's C interface (libmp3lame.so.0) the MP3 encoders use,
// resolved at run time so the program needs no development package.

#include <cstdarg>
#include <string>

namespace zembra::avi {

struct LameApi {
    using Flags = void*;  // lame_global_flags*
    using Report = void (*)(const char* format, va_list args);
    using SetInt = int (*)(Flags, int);

    Flags (*init)() = nullptr;
    int (*close)(Flags) = nullptr;
    const char* (*version)() = nullptr;
    int (*initParams)(Flags) = nullptr;
    int (*encodeBuffer)(Flags, const short*, const short*, int, unsigned char*, int) = nullptr;
    int (*encodeInterleaved)(Flags, short*, int, unsigned char*, int) = nullptr;
    int (*flush)(Flags, unsigned char*, int) = nullptr;
    int (*encoderDelay)(Flags) = nullptr;
    int (*outSampleRate)(Flags) = nullptr;
    int (*getBrate)(Flags) = nullptr;
    int (*setErrorf)(Flags, Report) = nullptr;
    int (*setDebugf)(Flags, Report) = nullptr;
    int (*setMsgf)(Flags, Report) = nullptr;
    void (*setId3Automatic)(Flags, int) = nullptr;

    SetInt setInSampleRate = nullptr, setNumChannels = nullptr, setOutSampleRate = nullptr,
           setVbrTag = nullptr, setQuality = nullptr, setMode = nullptr, setBrate = nullptr,
           setCopyright = nullptr, setOriginal = nullptr, setErrorProtection = nullptr,
           setExtension = nullptr, setDisableReservoir = nullptr, setVbr = nullptr,
           setVbrQ = nullptr, setVbrMin = nullptr, setVbrMax = nullptr, setLowpass = nullptr,
           setLowpassWidth = nullptr, setHighpass = nullptr, setHighpassWidth = nullptr;
};

// The loaded library ("libmp3lame.so.0", the ZEMBRA_LAME_LIBRARY environment
// variable, or the name set last), or nullptr when it cannot be loaded.
const LameApi* lameApi();
void setLameLibraryName(const std::string& soname);

}  // namespace zembra::avi
