// zembra scan SOURCE: lists every title set of a VIDEO_TS folder, an IFO
// file, a disc image or a drive, with each title's cells and streams.

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/source_kind.h"
#include "cli/command.h"
#include "decoder/mpeg2_decoder.h"
#include "dvd/css.h"
#include "dvd/source_file.h"
#include "dvd/title_catalogue.h"
#include "dvd/title_set.h"
#include "platform/console_host.h"
#include "platform/string_table.h"

namespace {

void printTitle(const zembra::TitleRecord& t) {
    std::printf("  %s  (%d cells, %d chapters)\n", t.label.c_str(), t.cellCount(),
                t.chapterCount());
    for (int c = 0; c < t.cellCount(); ++c) {
        const auto& cell = t.cells[size_t(c)];
        std::printf(
            "    cell %2d: sectors %u-%u  vob %u cell %u  angle 0x%02X  chapter %d  %.3f s\n",
            c + 1, cell.firstSector, cell.lastSector, unsigned(cell.vobId), unsigned(cell.cellId),
            unsigned(cell.angle), cell.chapter, cell.duration);
    }
    for (int a = 0; a < t.audioCount; ++a)
        std::printf("    audio %d: %s\n", a, t.audioText[size_t(a)].c_str());
    for (int s = 0; s < t.subpictureCount; ++s)
        std::printf("    subtitle %d: %s\n", s, t.subpictureText[size_t(s)].c_str());
}

// A VOB or MPEG file is not a title set: it is scanned as Open VOB and the
// rip scan it, into one title with its length and streams.
int scanStreamFile(const std::string& path, zembra::ConsoleHost& host) {
    host.setQuiet(true);  // no progress lines among the listing
    zembra::TitleCatalogue catalogue;
    zembra::Mpeg2Decoder decoder(host, catalogue);
    if (!decoder.scanVobFiles({path}, 0, 0, nullptr)) return 1;
    std::printf("Stream file: %s\n", path.c_str());
    for (const auto& t : catalogue.titles) printTitle(t);
    return 0;
}

// True when the first packs of a title set's first VOB file are scrambled.
bool scrambledSet(const zembra::TitleSetFiles& set) {
    if (set.vobs.empty()) return false;
    auto f = zembra::SourceFile::open(set.vobs.front());
    for (int i = 0; f && i < 256; ++i) {
        const auto chunk = f->takeChunk(2048);
        if (chunk.length < 2048) break;
        if (zembra::css::sectorScrambled(chunk.data, size_t(chunk.length))) return true;
    }
    return false;
}

int runScan(const std::vector<std::string>& args) {
    if (args.size() != 1 || args[0].empty() || args[0][0] == '-') {
        std::fprintf(stderr, "usage: zembra scan SOURCE\n");
        return 2;
    }
    zembra::StringTable strings;
    zembra::ConsoleHost host(&strings, zembra::QuestionPolicy::AlwaysNo);
    std::error_code ec;
    if (zembra::sourceKindOf(args[0]) == zembra::SourceKind::Vob &&
        std::filesystem::is_regular_file(args[0], ec))
        return scanStreamFile(args[0], host);
    auto sets = zembra::findTitleSets(args[0]);
    if (sets.empty()) {
        std::fprintf(stderr, "%s: %s\n", host.text("STR_ERROR_25").c_str(), args[0].c_str());
        return 1;
    }
    int failures = 0;
    for (const auto& set : sets) {
        std::printf("Title set %d: %s\n", set.number, set.ifo.c_str());
        for (const auto& vob : set.vobs) {
            auto size = zembra::SourceFile::fileSize(vob, true);
            std::printf("  %s: %llu sectors\n", vob.c_str(),
                        static_cast<unsigned long long>(size ? *size / 2048 : 0));
        }
        if (scrambledSet(set))
            std::printf("  CSS-scrambled: read through libdvdcss (%s)\n",
                        zembra::css::libraryAvailable() ? "installed" : "not installed");
        zembra::TitleCatalogue catalogue;
        if (!zembra::parseIfo(catalogue, set.ifo, host)) {
            ++failures;
            continue;
        }
        for (const auto& t : catalogue.titles) printTitle(t);
    }
    return failures == int(sets.size()) ? 1 : 0;
}

}  // namespace

ZEMBRA_COMMAND("scan", "scan SOURCE", "list the titles, cells and streams of a DVD source",
               runScan);
