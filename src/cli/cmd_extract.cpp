// zembra extract SOURCE --title N [--angle A] [--set S] -o FILE: writes one
// title's program stream exactly as the title reader delivers it, a raw copy
// of the title's cells that players open.

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/options.h"
#include "dvd/source_reader.h"
#include "dvd/title_catalogue.h"
#include "dvd/title_set.h"
#include "platform/console_host.h"
#include "platform/string_table.h"

namespace {

int runExtract(const std::vector<std::string>& args) {
    std::vector<std::string> sources;
    std::optional<int> title, angle, setNumber, bufferMb;
    std::optional<std::string> output, diskBuffer;
    zembra::cli::OptionParser p("extract", "SOURCE");
    p.operands(sources, 1, 1);
    p.heading("Title (positions in the window's lists)");
    p.integer("--title", title, 0, 1000000, "title: its position in the Index list, from 0");
    p.integer("--angle", angle, 0, 1000000, "angle: its position in the Angle list, from 0");
    p.integer("--set", setNumber, 1, 99, "title set number (the first one without)");
    p.heading("Output");
    p.text("-o", output, "FILE", "the program stream to write");
    p.integer("--buffer", bufferMb, 1, 1000000, "read buffer in MB (8 without)", "MB");
    p.text("--disk-buffer", diskBuffer, "PATH", "keep the read buffer in this file, not in memory");
    p.footer(
        "Exit status: 0 written, 1 a read or write error, 2 a usage error (a title the\n"
        "source does not have too).\n");
    if (auto status = p.parseOrExit(args)) return *status;
    if (!title || !output) {
        std::fprintf(stderr, "zembra extract: --title and -o are needed (zembra extract --help)\n");
        return zembra::cli::kExitUsage;
    }
    const std::string& source = sources.front();

    zembra::StringTable strings;
    zembra::ConsoleHost host(&strings, zembra::QuestionPolicy::AlwaysNo);
    auto sets = zembra::findTitleSets(source);
    const zembra::TitleSetFiles* set = nullptr;
    for (const auto& s : sets)
        if (!setNumber || s.number == *setNumber) {
            set = &s;
            break;
        }
    if (!set) {
        std::fprintf(stderr, "%s: %s\n", host.text("STR_ERROR_25").c_str(), source.c_str());
        return 1;
    }
    zembra::TitleCatalogue catalogue;
    if (!zembra::parseIfo(catalogue, set->ifo, host)) return 1;
    // As rip and decode refuse a position the Index list does not have.
    if (*title >= catalogue.count()) {
        std::fprintf(stderr, "zembra extract: --title takes 0 to %d, not %d (%s)\n",
                     catalogue.count() - 1, *title, set->ifo.c_str());
        return zembra::cli::kExitUsage;
    }
    if (set->vobs.empty()) {
        std::fprintf(stderr, "%s\n", host.text("STR_ERROR_211").c_str());
        return 1;
    }

    zembra::SourceReader reader(host, catalogue);
    const bool onDisk = diskBuffer.has_value();
    if (!reader.openSource(set->vobs, true, angle.value_or(0), *title, bufferMb.value_or(8), onDisk,
                           diskBuffer.value_or("")))
        return 1;
    reader.setPrefill(1);
    zembra::ConsoleHost::catchInterrupt();
    host.setInterruptHandler([](void* r) { static_cast<zembra::SourceReader*>(r)->setCancel(1); },
                             &reader);

    std::FILE* out = std::fopen(output->c_str(), "wb");
    if (!out) {
        std::fprintf(stderr, "%s \"%s\"\n", host.text("STR_ERROR_75").c_str(), output->c_str());
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
            std::fprintf(stderr, "%s \"%s\"\n", host.text("STR_ERROR_75").c_str(), output->c_str());
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
        std::printf("%s: %llu sectors (%.3f s)\n", output->c_str(), sectors,
                    catalogue.titles[size_t(*title)].duration);
    return result;
}

}  // namespace

ZEMBRA_COMMAND("extract", "extract SOURCE --title N -o FILE [options]",
               "copy one title's program stream as the title reader delivers it", runExtract);
