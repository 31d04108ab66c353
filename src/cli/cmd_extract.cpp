// zembra extract SOURCE --title N [--angle A] [--set S] -o FILE: writes one
// title's program stream exactly as the title reader delivers it, a raw copy
// of the title's cells that players open.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/command.h"
#include "dvd/source_reader.h"
#include "dvd/title_catalogue.h"
#include "dvd/title_set.h"
#include "platform/console_host.h"
#include "platform/string_table.h"

namespace {

const char* const kUsage =
    "usage: zembra extract SOURCE --title N [--angle A] [--set S] [--buffer MB] [--disk-buffer "
    "PATH] "
    "-o FILE\n";

bool parseInt(const std::string& text, int& value) {
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || v < 0 || v > 1000000) return false;
    value = int(v);
    return true;
}

int runExtract(const std::vector<std::string>& args) {
    std::string source, output, diskBuffer;
    int title = -1, angle = 0, setNumber = -1, bufferMb = 8;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool hasValue = i + 1 < args.size();
        if ((a == "--title" || a == "-t") && hasValue) {
            if (!parseInt(args[++i], title)) return std::fprintf(stderr, "%s", kUsage), 2;
        } else if (a == "--angle" && hasValue) {
            if (!parseInt(args[++i], angle)) return std::fprintf(stderr, "%s", kUsage), 2;
        } else if (a == "--set" && hasValue) {
            if (!parseInt(args[++i], setNumber)) return std::fprintf(stderr, "%s", kUsage), 2;
        } else if (a == "--buffer" && hasValue) {
            if (!parseInt(args[++i], bufferMb)) return std::fprintf(stderr, "%s", kUsage), 2;
        } else if (a == "--disk-buffer" && hasValue) {
            diskBuffer = args[++i];
        } else if (a == "-o" && hasValue) {
            output = args[++i];
        } else if (source.empty() && !a.empty() && a[0] != '-') {
            source = a;
        } else {
            std::fprintf(stderr, "%s", kUsage);
            return 2;
        }
    }
    if (source.empty() || output.empty() || title < 0) {
        std::fprintf(stderr, "%s", kUsage);
        return 2;
    }

    zembra::StringTable strings;
    zembra::ConsoleHost host(&strings, zembra::QuestionPolicy::AlwaysNo);
    auto sets = zembra::findTitleSets(source);
    const zembra::TitleSetFiles* set = nullptr;
    for (const auto& s : sets)
        if (setNumber < 0 || s.number == setNumber) {
            set = &s;
            break;
        }
    if (!set) {
        std::fprintf(stderr, "%s: %s\n", host.text("STR_ERROR_25").c_str(), source.c_str());
        return 1;
    }
    zembra::TitleCatalogue catalogue;
    if (!zembra::parseIfo(catalogue, set->ifo, host)) return 1;
    if (title >= catalogue.count()) {
        std::fprintf(stderr, "zembra extract: %s has %d titles\n", set->ifo.c_str(),
                     catalogue.count());
        return 1;
    }
    if (set->vobs.empty()) {
        std::fprintf(stderr, "%s\n", host.text("STR_ERROR_211").c_str());
        return 1;
    }

    zembra::SourceReader reader(host, catalogue);
    bool onDisk = !diskBuffer.empty();
    if (!reader.openSource(set->vobs, true, angle, title, bufferMb, onDisk, diskBuffer)) return 1;
    reader.setPrefill(1);
    zembra::ConsoleHost::catchInterrupt();
    host.setInterruptHandler([](void* r) { static_cast<zembra::SourceReader*>(r)->setCancel(1); },
                             &reader);

    std::FILE* out = std::fopen(output.c_str(), "wb");
    if (!out) {
        std::fprintf(stderr, "%s \"%s\"\n", host.text("STR_ERROR_75").c_str(), output.c_str());
        reader.closeSource();
        return 1;
    }
    // Sector by sector, so a title of an odd number of sectors comes out whole.
    std::vector<uint8_t> sector(2048);
    int result = 0;
    unsigned long long sectors = 0;
    for (;;) {
        int r = reader.readSource(sector.data(), int(sector.size()));
        if (r == -1) {
            std::fprintf(stderr, "%s \"%s\" (sector %lld)\n", host.text("STR_ERROR_50").c_str(),
                         source.c_str(), static_cast<long long>(reader.getStopSector()));
            result = 1;
            break;
        }
        if (r == 0) break;
        if (std::fwrite(sector.data(), 1, sector.size(), out) != sector.size()) {
            std::fprintf(stderr, "%s \"%s\"\n", host.text("STR_ERROR_75").c_str(), output.c_str());
            result = 1;
            break;
        }
        ++sectors;
    }
    if (reader.cancelRequested()) result = 1;
    if (std::fclose(out) != 0) result = 1;
    reader.closeSource();
    host.finishLine();
    if (result == 0)
        std::printf("%s: %llu sectors (%.3f s)\n", output.c_str(), sectors,
                    catalogue.titles[size_t(title)].duration);
    return result;
}

}  // namespace

ZEMBRA_COMMAND("extract", "extract SOURCE --title N [--angle A] -o FILE",
               "copy one title's program stream as the title reader delivers it", runExtract);
