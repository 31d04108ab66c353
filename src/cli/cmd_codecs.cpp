// `zembra codecs`: the video compressors and audio converters this machine
// offers for AVI output, as the settings dialogs would list them.

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/layer2_converter.h"
#include "avi/codecs/audio_converter.h"
#include "avi/codecs/mp3_library.h"
#include "avi/codecs/video_compressor.h"
#include "cli/command.h"
#include "cli/options.h"

namespace zembra::cli {

namespace {

int run(const std::vector<std::string>& args) {
    zembra::registerLayer2Converter();
    std::optional<int> rateOption;
    cli::OptionParser p("codecs", "");
    p.integer("--rate", rateOption, 44100, 48000,
              "sound rate of the converters' formats (44100 or 48000)", "HZ");
    p.footer("Exit status: 0 listed, 2 a usage error.\n");
    if (auto status = p.parseOrExit(args)) return *status;
    const int rate = rateOption.value_or(44100);
    if (rate != 44100 && rate != 48000) {
        std::fprintf(stderr, "zembra codecs: the output rate is 44100 or 48000\n");
        return cli::kExitUsage;
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
