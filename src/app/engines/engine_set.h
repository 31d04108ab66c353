#pragma once
// The engines one rip needs, built once per process and handed to the main
// window's controller: the title catalogue, the decoding source, and the AVI
// and MPEG writers. Also the choices of the AVI tab made by name (compressor,
// its settings, the audio converter), as a front end without dialogs takes them.

#include <memory>
#include <string>
#include <vector>

#include "app/encode_dlg.h"
#include "app/settings_store.h"
#include "dvd/title_catalogue.h"

namespace zembra {

class UiHost;
class DecoderRipSource;
class AviRipWriter;
class MpegRipWriter;
namespace avi {
class AviWriter;
}

// What a front end asks of the AVI tab by name.
struct AviChoices {
    std::string videoCodec;                 // compressor name or FOURCC; empty keeps the stored one
    std::vector<std::string> codecOptions;  // "key=value" for its configuration
    std::string audioConverter;             // converter or format name for DoAVIAudio 3
    int audioKbps = 128;                    // its bit rate, the nearest offered
    bool twoPass = false;                   // pass-1 and pass-2 states for a two-pass rip
};

class EngineSet {
public:
    EngineSet(UiHost& host, SettingsStore& settings);
    ~EngineSet();
    EngineSet(const EngineSet&) = delete;
    EngineSet& operator=(const EngineSet&) = delete;

    TitleCatalogue& catalogue() { return catalogue_; }
    RipEngines ripEngines();

    // Applies the choices to the output settings (AVIVideoC1, AVIfccType,
    // AVIfccHandler, the pass-1 and pass-2 states) and the audio converter.
    // Returns an empty string, or what was wrong.
    std::string applyAviChoices(const AviChoices& choices);

    // "name (FOURCC)" of every compressor that takes the export format.
    std::vector<std::string> videoCodecNames();

    // The AVI writer of the rips, for the AVI tab: its compressors, their
    // settings and the audio codec choice.
    avi::AviWriter& aviWriter();

private:
    UiHost& host_;
    SettingsStore& settings_;
    TitleCatalogue catalogue_;
    std::unique_ptr<DecoderRipSource> source_;
    std::unique_ptr<AviRipWriter> avi_;
    std::unique_ptr<MpegRipWriter> mpeg_;
};

}  // namespace zembra
