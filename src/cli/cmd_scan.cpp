// zembra scan SOURCE: lists every title set of a VIDEO_TS folder, an IFO
// file, a disc image or a drive, with each title's cells and streams; with
// --json the same for scripts, in names that stay.

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/source_kind.h"
#include "cli/command.h"
#include "cli/options.h"
#include "decoder/mpeg2_decoder.h"
#include "dvd/css.h"
#include "dvd/source_file.h"
#include "dvd/title_catalogue.h"
#include "dvd/title_set.h"
#include "platform/console_host.h"
#include "platform/string_table.h"

namespace {

void printTitle(const zembra::TitleRecord& t, bool main = false) {
    std::printf("  %s  (%d cells, %d chapters)%s\n", t.label.c_str(), t.cellCount(),
                t.chapterCount(), main ? "  main title" : "");
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

// --- JSON ---------------------------------------------------------------------

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

std::string seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

// Coding names as other DVD tools print them.
const char* codingName(int coding) {
    switch (coding) {
        case 0:
            return "ac3";
        case 2:
            return "mpeg1";
        case 3:
            return "mpeg2ext";
        case 4:
            return "lpcm";
        case 6:
            return "dts";
        default:
            return "unknown";
    }
}

std::string cellsJson(const zembra::TitleRecord& t) {
    std::string out = "[";
    for (int c = 0; c < t.cellCount(); ++c) {
        const auto& cell = t.cells[size_t(c)];
        out += std::string(c ? ", " : "") + "{\"number\": " + std::to_string(c + 1) +
               ", \"firstSector\": " + std::to_string(cell.firstSector) +
               ", \"lastSector\": " + std::to_string(cell.lastSector) +
               ", \"vobId\": " + std::to_string(cell.vobId) +
               ", \"cellId\": " + std::to_string(cell.cellId) +
               ", \"angles\": " + std::to_string(cell.angle >> 4) +
               ", \"angle\": " + std::to_string(cell.angle & 0x0F) +
               ", \"chapter\": " + std::to_string(cell.chapter + 1) +
               ", \"duration\": " + seconds(cell.duration) + "}";
    }
    return out + "]";
}

std::string chaptersJson(const zembra::TitleRecord& t) {
    std::string out = "[";
    for (int chapter = 0; chapter < t.chapterCount(); ++chapter) {
        double duration = 0;
        int firstCell = 0;
        for (int c = t.cellCount() - 1; c >= 0; --c) {
            const auto& cell = t.cells[size_t(c)];
            if (cell.chapter != chapter) continue;
            firstCell = c + 1;
            if (playsInFirstAngle(cell)) duration += cell.duration;
        }
        out += std::string(chapter ? ", " : "") + "{\"number\": " + std::to_string(chapter + 1) +
               ", \"firstCell\": " + std::to_string(firstCell) +
               ", \"duration\": " + seconds(duration) + "}";
    }
    return out + "]";
}

std::string streamsJson(const zembra::TitleRecord& t) {
    std::string audio = "[";
    for (int a = 0; a < t.audioCount; ++a) {
        const size_t i = size_t(a);
        const int coding = t.audioCoding[i];
        audio += std::string(a ? ", " : "") + "{\"position\": " + std::to_string(a) +
                 ", \"streamId\": " +
                 std::to_string((zembra::audioStreamIdBase(coding) + t.audioStream[i]) & 0xFF) +
                 ", \"coding\": \"" + codingName(coding) + "\"" +
                 ", \"language\": " + quoted(t.audioLanguage[i]) +
                 ", \"channels\": " + std::to_string(t.audioChannels[i]) +
                 ", \"text\": " + quoted(t.audioText[i]) + "}";
    }
    std::string subtitles = "[";
    for (int s = 0; s < t.subpictureCount; ++s) {
        const size_t i = size_t(s);
        // Positions as the Subtitle list counts them: 0 is "None".
        subtitles += std::string(s ? ", " : "") + "{\"position\": " + std::to_string(s + 1) +
                     ", \"streamId\": " + std::to_string(0x20 + t.subpictureStream[i]) +
                     ", \"language\": " + quoted(t.subpictureLanguage[i]) +
                     ", \"text\": " + quoted(t.subpictureText[i]) + "}";
    }
    return "\"audio\": " + audio + "], \"subtitles\": " + subtitles + "]";
}

std::string titleJson(const zembra::TitleRecord& t, int index, bool main) {
    const double duration = zembra::runningTime(t);
    return "{\"position\": " + std::to_string(index) + ", \"label\": " + quoted(t.label) +
           ", \"main\": " + (main ? "true" : "false") + ", \"duration\": " + seconds(duration) +
           ",\n       \"cells\": " + cellsJson(t) + ",\n       \"chapters\": " + chaptersJson(t) +
           ",\n       " + streamsJson(t) + "}";
}

std::string vobsJson(const zembra::TitleSetFiles& set) {
    std::string out = "[";
    for (size_t v = 0; v < set.vobs.size(); ++v) {
        auto size = zembra::SourceFile::fileSize(set.vobs[v], true);
        out += std::string(v ? ", " : "") + "{\"path\": " + quoted(set.vobs[v]) +
               ", \"sectors\": " + std::to_string(size ? *size / 2048 : 0) + "}";
    }
    return out + "]";
}

std::string titlesJson(const zembra::TitleCatalogue& catalogue) {
    std::string out = "[";
    const int main = zembra::mainTitleIndex(catalogue);
    for (int t = 0; t < catalogue.count(); ++t)
        out += std::string(t ? "," : "") + "\n      " +
               titleJson(catalogue.titles[size_t(t)], t, t == main);
    return out + "]";
}

// A VOB or MPEG file is not a title set: it is scanned as Open VOB and the
// rip scan it, into one title with its length and streams.
int scanStreamFile(const std::string& path, zembra::ConsoleHost& host, bool json) {
    host.setQuiet(true);  // no progress lines among the listing
    zembra::TitleCatalogue catalogue;
    zembra::Mpeg2Decoder decoder(host, catalogue);
    zembra::VobScan found;
    const zembra::Status scanned = decoder.scanVobFiles({path}, false, false, found);
    host.show(scanned);
    if (!scanned) return zembra::cli::kExitFailed;
    zembra::setScannedTitle(catalogue, found);
    if (json) {
        std::printf("{\"source\": %s, \"kind\": \"stream\", \"titles\": %s}\n",
                    quoted(path).c_str(), titlesJson(catalogue).c_str());
        return zembra::cli::kExitOk;
    }
    std::printf("Stream file: %s\n", path.c_str());
    for (const auto& t : catalogue.titles) printTitle(t);
    return zembra::cli::kExitOk;
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

// One title set as text: its files, whether it is scrambled, its titles.
bool printTitleSet(const zembra::TitleSetFiles& set, zembra::ConsoleHost& host) {
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
    if (!zembra::parseIfo(catalogue, set.ifo, host)) return false;
    const int main = zembra::mainTitleIndex(catalogue);
    for (int i = 0; i < catalogue.count(); ++i)
        printTitle(catalogue.titles[size_t(i)], i == main && catalogue.count() > 1);
    return true;
}

// The same as one JSON object of the "titleSets" array.
bool printTitleSetJson(const zembra::TitleSetFiles& set, zembra::ConsoleHost& host) {
    zembra::TitleCatalogue catalogue;
    const bool read = zembra::parseIfo(catalogue, set.ifo, host);
    std::printf(
        "\n  {\"number\": %d, \"ifo\": %s, \"readable\": %s, \"scrambled\": %s, \"vobs\": %s,\n"
        "   \"titles\": %s}",
        set.number, quoted(set.ifo).c_str(), read ? "true" : "false",
        scrambledSet(set) ? "true" : "false", vobsJson(set).c_str(), titlesJson(catalogue).c_str());
    return read;
}

int runScan(const std::vector<std::string>& args) {
    std::vector<std::string> sources;
    bool json = false;
    zembra::cli::OptionParser p("scan", "SOURCE");
    p.operands(sources, 1, 1);
    p.flag("--json", json, "print the same as one JSON object, for scripts");
    p.footer(
        "SOURCE: a DVD folder, an IFO file, a disc image or a drive, or a VOB or MPEG file\n"
        "(scanned as one title, as its rip scans it). Titles and audio tracks count from 0,\n"
        "subtitles from 1, as the window's lists (and --title, --audio and --subtitle) count\n"
        "them. Exit status: 0 listed, 1 nothing readable, 2 a usage error.\n");
    if (auto status = p.parseOrExit(args)) return *status;
    const std::string& source = sources.front();
    zembra::StringTable strings;
    zembra::ConsoleHost host(&strings, zembra::QuestionPolicy::AlwaysNo);
    std::error_code ec;
    if (zembra::sourceKindOf(source) == zembra::SourceKind::Vob &&
        std::filesystem::is_regular_file(source, ec))
        return scanStreamFile(source, host, json);
    auto sets = zembra::findTitleSets(source);
    if (sets.empty()) {
        std::fprintf(stderr, "%s: %s\n", host.text("STR_ERROR_25").c_str(), source.c_str());
        return zembra::cli::kExitFailed;
    }
    int failures = 0;
    if (json)
        std::printf("{\"source\": %s, \"kind\": \"dvd\", \"titleSets\": [", quoted(source).c_str());
    for (size_t s = 0; s < sets.size(); ++s) {
        if (json && s) std::printf(",");
        const bool read = json ? printTitleSetJson(sets[s], host) : printTitleSet(sets[s], host);
        failures += read ? 0 : 1;
    }
    if (json) std::printf("\n]}\n");
    return failures == int(sets.size()) ? zembra::cli::kExitFailed : zembra::cli::kExitOk;
}

}  // namespace

ZEMBRA_COMMAND("scan", "scan SOURCE [--json]", "list the titles, cells and streams of a DVD source",
               runScan);
