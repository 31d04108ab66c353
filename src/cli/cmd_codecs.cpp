// `zembra codecs`: the video compressors and audio converters this machine
// offers for AVI output, as the settings dialogs would list them.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/layer2_converter.h"
#include "avi/codecs/audio_converter.h"
#include "avi/codecs/mp3_library.h"
#include "avi/codecs/video_compressor.h"
#include "cli/command.h"

namespace zembra::cli {

namespace {

int run(const std::vector<std::string>& args) {
    zembra::registerLayer2Converter();
    int rate = 44100;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--rate" && i + 1 < args.size()) {
            rate = std::atoi(args[++i].c_str());
        } else {
            std::fprintf(stderr, "usage: zembra codecs [--rate 44100|48000]\n");
            return 2;
        }
    }
    if (rate != 44100 && rate != 48000) {
        std::fprintf(stderr, "zembra codecs: the output rate is 44100 or 48000\n");
        return 2;
    }

    std::printf("Video compressors (FOURCC, name, accepted input):\n");
    for (const auto& info : avi::installedVideoCompressors()) {
        auto compressor = avi::openVideoCompressorDriver(info.fccType, info.fccHandler);
        std::string inputs = compressor ? avi::acceptedInputsText(*compressor) : "";
        std::printf("  %-4s  %-20s %s\n", avi::fourccText(info.fccHandler).c_str(),
                    info.name.c_str(), inputs.c_str());
    }
    if (!avi::xvidLibraryLoaded()) std::printf("  (no Xvid: libxvidcore.so.4 not found)\n");

    auto& lame = avi::Mp3Library::instance();
    if (lame.loaded())
        std::printf("\nMP3 library: Lame MP3 %s\n", lame.versionText().c_str());
    else
        std::printf("\nMP3 library: Lame library not loaded (libmp3lame.so.0 not found)\n");

    std::printf("\nAudio converters at %d Hz (driver: format tag, format):\n", rate);
    for (const auto& driver : avi::audioConverterDrivers()) {
        auto formats = driver.formats(rate);
        if (formats.empty()) std::printf("  %s: (not available)\n", driver.name.c_str());
        for (const auto& f : formats)
            std::printf("  %s: %s, %s\n", driver.name.c_str(), f.tagName.c_str(),
                        f.description.c_str());
    }
    return 0;
}

}  // namespace

ZEMBRA_COMMAND("codecs", "codecs [--rate 44100|48000]",
               "list the video compressors and audio converters for AVI output", run);

}  // namespace zembra::cli
