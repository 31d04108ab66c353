// zembra extract SOURCE --title N|main [--angle A] [--title-set S] -o FILE: writes one
// title's program stream exactly as the title reader delivers it, a raw copy
// of the title's cells that players open.

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/open_source.h"
#include "cli/options.h"
#include "dvd/source_reader.h"
#include "dvd/title_catalogue.h"
#include "dvd/title_set.h"
#include "platform/console_host.h"
#include "platform/file_sink.h"
#include "platform/string_table.h"

namespace {

int runExtract(const std::vector<std::string>& args) {
    std::vector<std::string> sources;
    std::optional<int> title, angle, setNumber, bufferMb;
    bool mainTitle = false;
    std::optional<std::string> output, diskBuffer;
    zembra::cli::OptionParser p("extract", "SOURCE");
    p.operands(sources, 1, 1);
    p.heading("Title (positions in the window's lists)");
    zembra::cli::addTitleOption(p, title, mainTitle);
    p.integer("--angle", angle, 0, 1000000, "angle: its position in the Angle list, from 0");
    // Not --set: that stores a setting in zembra config.
    p.integer("--title-set", setNumber, 1, 99, "title set number (the first one without)", "S");
    p.heading("Output");
    p.text("-o", output, "FILE", "the program stream to write");
    p.integer("--buffer", bufferMb, 1, 1000000, "read buffer in MB (8 without)", "MB");
    p.text("--disk-buffer", diskBuffer, "PATH", "keep the read buffer in this file, not in memory");
    p.footer(
        "Exit status: 0 written, 1 a read or write error, 2 a usage error (a title the\n"
        "source does not have too), 128 + the signal's number when stopped by one.\n");
    if (auto status = p.parseOrExit(args)) return *status;
    if ((!title && !mainTitle) || !output) {
        std::fprintf(stderr, "zembra extract: --title and -o are needed (zembra extract --help)\n");
        return zembra::cli::kExitUsage;
    }
    const std::string& source = sources.front();

    zembra::StringTable strings;
    zembra::ConsoleHost host(&strings, zembra::QuestionPolicy::AlwaysNo);
    zembra::TitleCatalogue catalogue;
    zembra::TitleSetFiles set;
    if (auto status = zembra::cli::openTitleSet(source, setNumber, catalogue, host, set))
        return *status;
    if (mainTitle) title = zembra::mainTitleIndex(catalogue);
    // As rip and decode refuse a position the Index list does not have.
    const std::string problem = zembra::cli::outsideList("--title", title, catalogue.count());
    if (!problem.empty()) return zembra::cli::refuseChoice("extract", problem, source);
    if (set.vobs.empty()) {
        std::fprintf(stderr, "%s\n", host.text("STR_ERROR_211").c_str());
        return 1;
    }

    zembra::SourceReader reader(host, catalogue);
    const bool onDisk = diskBuffer.has_value();
    const zembra::Status opened =
        reader.openSource(set.vobs, true, angle.value_or(0), *title, bufferMb.value_or(8), onDisk,
                          diskBuffer.value_or(""));
    if (!opened) {
        host.show(opened);
        return 1;
    }
    reader.setPrefill(true);
    zembra::cli::catchStopRequests();
    host.setInterruptHandler(
        [](void* r) { static_cast<zembra::SourceReader*>(r)->setCancel(true); }, &reader);

    zembra::FileSink out;
    if (!zembra::cli::openOutput(out, *output)) {
        std::fprintf(stderr, "%s \"%s\"\n", host.text("STR_ERROR_75").c_str(), output->c_str());
        reader.closeSource();
        return 1;
    }
    // Read sector by sector, so a title of an odd number of sectors comes out
    // whole, and written a batch at a time.
    constexpr size_t kSector = 2048, kBatch = 512;
    std::vector<uint8_t> batch(kSector * kBatch);
    size_t held = 0;
    int result = 0;
    unsigned long long sectors = 0;
    auto writeHeld = [&] {
        if (held == 0 || out.append(batch.data(), held * kSector)) {
            held = 0;
            return true;
        }
        // A full disk: the sectors that still fit are kept one by one.
        for (size_t i = 0; i < held; ++i)
            if (!out.append(batch.data() + i * kSector, kSector)) break;
        std::fprintf(stderr, "%s \"%s\"\n", host.text("STR_ERROR_75").c_str(), output->c_str());
        held = 0;
        result = 1;
        return false;
    };
    for (;;) {
        // A press the reader's message pump took reached the reader.
        if (reader.cancelRequested() || zembra::ConsoleHost::interruptPending()) break;
        int r = reader.readSource(batch.data() + held * kSector, int(kSector));
        if (r == -1) {
            std::fprintf(stderr, "%s \"%s\" (sector %lld)\n", host.text("STR_ERROR_50").c_str(),
                         source.c_str(), static_cast<long long>(reader.getStopSector()));
            result = 1;
            break;
        }
        if (r == 0) break;
        ++sectors;
        if (++held == kBatch && !writeHeld()) break;
    }
    // What was read before a read error is kept, as it was read.
    (void)writeHeld();
    const bool stopped = reader.cancelRequested() || zembra::ConsoleHost::interruptPending();
    if (!out.close()) result = 1;
    reader.closeSource();
    host.finishLine();
    if (stopped) return zembra::cli::stoppedStatus();
    if (result == 0)
        std::printf("%s: %llu sectors (%.3f s)\n", output->c_str(), sectors,
                    catalogue.titles[size_t(*title)].duration);
    return result;
}

}  // namespace

ZEMBRA_COMMAND("extract", "extract SOURCE --title N -o FILE [options]",
               "copy one title's program stream as the title reader delivers it", runExtract);
