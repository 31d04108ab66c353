#include "dvd/title_catalogue.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <utility>

#include "dvd/source_file.h"
#include "platform/byte_order.h"
#include "platform/job_reporter.h"

namespace zembra {

namespace {

struct LanguageRow {
    char code[2];
    const char* name;
};

// Searched in order; the first matching row wins ("in" and "id" both name Indonesian).
constexpr LanguageRow kLanguages[] = {
    {{' ', ' '}, "Not Specified"},
    {{'a', 'a'}, "Afar"},
    {{'a', 'b'}, "Abkhazian"},
    {{'a', 'f'}, "Afrikaans"},
    {{'a', 'm'}, "Amharic"},
    {{'a', 'r'}, "Arabic"},
    {{'a', 's'}, "Assamese"},
    {{'a', 'y'}, "Aymara"},
    {{'a', 'z'}, "Azerbaijani"},
    {{'b', 'a'}, "Bashkir"},
    {{'b', 'e'}, "Byelorussian"},
    {{'b', 'g'}, "Bulgarian"},
    {{'b', 'h'}, "Bihari"},
    {{'b', 'i'}, "Bislama"},
    {{'b', 'n'}, "Bengali; Bangla"},
    {{'b', 'o'}, "Tibetan"},
    {{'b', 'r'}, "Breton"},
    {{'c', 'a'}, "Catalan"},
    {{'c', 'o'}, "Corsican"},
    {{'c', 's'}, "Czech(Ceske)"},
    {{'c', 'y'}, "Welsh"},
    {{'d', 'a'}, "Dansk"},
    {{'d', 'e'}, "Deutsch"},
    {{'d', 'z'}, "Bhutani"},
    {{'e', 'l'}, "Greek"},
    {{'e', 'n'}, "English"},
    {{'e', 'o'}, "Esperanto"},
    {{'e', 's'}, "Espanol"},
    {{'e', 't'}, "Estonian"},
    {{'e', 'u'}, "Basque"},
    {{'f', 'a'}, "Persian"},
    {{'f', 'i'}, "Suomi"},
    {{'f', 'j'}, "Fiji"},
    {{'f', 'o'}, "Faroese"},
    {{'f', 'r'}, "Francais"},
    {{'f', 'y'}, "Frisian"},
    {{'g', 'a'}, "Irish"},
    {{'g', 'd'}, "Scots Gaelic"},
    {{'g', 'l'}, "Galician"},
    {{'g', 'n'}, "Guarani"},
    {{'g', 'u'}, "Gujarati"},
    {{'h', 'a'}, "Hausa"},
    {{'h', 'e'}, "Hebrew"},
    {{'h', 'i'}, "Hindi"},
    {{'h', 'r'}, "Hrvatski"},
    {{'h', 'u'}, "Magyar"},
    {{'h', 'y'}, "Armenian"},
    {{'i', 'a'}, "Interlingua"},
    {{'i', 'd'}, "Indonesian"},
    {{'i', 'e'}, "Interlingue"},
    {{'i', 'k'}, "Inupiak"},
    {{'i', 'n'}, "Indonesian"},
    {{'i', 's'}, "Islenska"},
    {{'i', 't'}, "Italiano"},
    {{'i', 'u'}, "Inuktitut"},
    {{'i', 'w'}, "Hebrew"},
    {{'j', 'a'}, "Japanese"},
    {{'j', 'i'}, "Yiddish"},
    {{'j', 'w'}, "Javanese"},
    {{'k', 'a'}, "Georgian"},
    {{'k', 'k'}, "Kazakh"},
    {{'k', 'l'}, "Greenlandic"},
    {{'k', 'm'}, "Cambodian"},
    {{'k', 'n'}, "Kannada"},
    {{'k', 'o'}, "Korean"},
    {{'k', 's'}, "Kashmiri"},
    {{'k', 'u'}, "Kurdish"},
    {{'k', 'y'}, "Kirghiz"},
    {{'l', 'a'}, "Latin"},
    {{'l', 'n'}, "Lingala"},
    {{'l', 'o'}, "Laothian"},
    {{'l', 't'}, "Lithuanian"},
    {{'l', 'v'}, "Latvian, Lettish"},
    {{'m', 'g'}, "Malagasy"},
    {{'m', 'i'}, "Maori"},
    {{'m', 'k'}, "Macedonian"},
    {{'m', 'l'}, "Malayalam"},
    {{'m', 'n'}, "Mongolian"},
    {{'m', 'o'}, "Moldavian"},
    {{'m', 'r'}, "Marathi"},
    {{'m', 's'}, "Malay"},
    {{'m', 't'}, "Maltese"},
    {{'m', 'y'}, "Burmese"},
    {{'n', 'a'}, "Nauru"},
    {{'n', 'e'}, "Nepali"},
    {{'n', 'l'}, "Nederlands"},
    {{'n', 'o'}, "Norsk"},
    {{'o', 'c'}, "Occitan"},
    {{'o', 'm'}, "(Afan) Oromo"},
    {{'o', 'r'}, "Oriya"},
    {{'p', 'a'}, "Punjabi"},
    {{'p', 'l'}, "Polish"},
    {{'p', 's'}, "Pashto, Pushto"},
    {{'p', 't'}, "Portugues"},
    {{'q', 'u'}, "Quechua"},
    {{'r', 'm'}, "Rhaeto-Romance"},
    {{'r', 'n'}, "Kirundi"},
    {{'r', 'o'}, "Romanian"},
    {{'r', 'u'}, "Russian"},
    {{'r', 'w'}, "Kinyarwanda"},
    {{'s', 'a'}, "Sanskrit"},
    {{'s', 'd'}, "Sindhi"},
    {{'s', 'g'}, "Sangho"},
    {{'s', 'h'}, "Serbo-Croatian"},
    {{'s', 'i'}, "Sinhalese"},
    {{'s', 'k'}, "Slovak"},
    {{'s', 'l'}, "Slovenian"},
    {{'s', 'm'}, "Samoan"},
    {{'s', 'n'}, "Shona"},
    {{'s', 'o'}, "Somali"},
    {{'s', 'q'}, "Albanian"},
    {{'s', 'r'}, "Serbian"},
    {{'s', 's'}, "Siswati"},
    {{'s', 't'}, "Sesotho"},
    {{'s', 'u'}, "Sundanese"},
    {{'s', 'v'}, "Svenska"},
    {{'s', 'w'}, "Swahili"},
    {{'t', 'a'}, "Tamil"},
    {{'t', 'e'}, "Telugu"},
    {{'t', 'g'}, "Tajik"},
    {{'t', 'h'}, "Thai"},
    {{'t', 'i'}, "Tigrinya"},
    {{'t', 'k'}, "Turkmen"},
    {{'t', 'l'}, "Tagalog"},
    {{'t', 'n'}, "Setswana"},
    {{'t', 'o'}, "Tonga"},
    {{'t', 'r'}, "Turkish"},
    {{'t', 's'}, "Tsonga"},
    {{'t', 't'}, "Tatar"},
    {{'t', 'w'}, "Twi"},
    {{'u', 'g'}, "Uighur"},
    {{'u', 'k'}, "Ukrainian"},
    {{'u', 'r'}, "Urdu"},
    {{'u', 'z'}, "Uzbek"},
    {{'v', 'i'}, "Vietnamese"},
    {{'v', 'o'}, "Volapuk"},
    {{'w', 'o'}, "Wolof"},
    {{'x', 'h'}, "Xhosa"},
    {{'y', 'i'}, "Yiddish"},
    {{'y', 'o'}, "Yoruba"},
    {{'z', 'a'}, "Zhuang"},
    {{'z', 'h'}, "Chinese"},
    {{'z', 'u'}, "Zulu"},
    {{'\0', '\0'}, "???"},
};
static_assert(sizeof(kLanguages) / sizeof(kLanguages[0]) == 144);

constexpr const char* kCodingNames[8] = {"AC3", "???", "MPEG1", "MPEG2x", "LPCM", "???", "DTS", ""};
// The reserved coding 7 has no stream of its own; it shows the bare number.
constexpr int kStreamIdBase[8] = {0x80, 0x00, 0xC0, 0xC8, 0xA0, 0x88, 0x88, 0x00};

constexpr size_t kHeaderBytes = 2048;
constexpr size_t kPgcFixedBytes = 0xEC;  // up to and including the cell position offset
constexpr size_t kMaxIfoBytes = 64u << 20;

int bcd(uint8_t b) { return (b >> 4) * 10 + (b & 0x0F); }

// A byte range of the IFO copy that refuses reads outside it.
struct Range {
    const uint8_t* data;
    size_t size;
    bool has(size_t offset, size_t length) const {
        return offset <= size && length <= size - offset;
    }
};

bool buildTitle(TitleRecord& title, int index, const Range& header, const Range& pgc) {
    if (!pgc.has(0, kPgcFixedBytes)) return false;
    const uint8_t* p = pgc.data;

    // Audio streams: each available control entry marks its stream number;
    // a number marked twice counts once and keeps the later attribute. The
    // number is per coding (AC-3 0 is 0x80, MPEG 0 is 0xC0), so tracks of
    // different codings that share a number are both kept.
    int audioAttrCount = readBe16(header.data + 0x202);
    if (audioAttrCount > 8) audioAttrCount = 8;
    struct Marked {
        int stream, base, attr;
    };
    std::vector<Marked> marked;
    for (int a = 0; a < audioAttrCount; ++a) {
        const uint8_t* control = p + 0x0C + 2 * a;
        if (!(control[0] & 0x80)) continue;
        int stream = control[0] & 0x07;
        int base = kStreamIdBase[header.data[0x204 + 8 * a] >> 5];
        auto same = std::find_if(marked.begin(), marked.end(), [&](const Marked& m) {
            return m.stream == stream && m.base == base;
        });
        if (same != marked.end())
            same->attr = a;
        else
            marked.push_back({stream, base, a});
    }
    std::stable_sort(marked.begin(), marked.end(),
                     [](const Marked& x, const Marked& y) { return x.stream < y.stream; });
    int j = 0;
    for (const Marked& m : marked) {
        int stream = m.stream;
        const uint8_t* attr = header.data + 0x204 + 8 * m.attr;
        int coding = attr[0] >> 5;
        int channels = (attr[1] & 0x07) + 1;
        char id[8];
        std::snprintf(id, sizeof id, "0x%02X", (stream + kStreamIdBase[coding]) & 0xFF);
        char text[128];
        std::snprintf(text, sizeof text, "%s %s %dch (%s)", languageName(attr[2], attr[3]),
                      kCodingNames[coding], channels, id);
        title.audioText[j] = text;
        title.audioCoding[j] = coding;
        title.audioStream[j] = stream;
        title.audioLanguage[j] = languageCode(attr[2], attr[3]);
        title.audioChannels[j] = channels;
        ++j;
    }
    title.audioCount = j;

    // Sub-picture streams: one entry per stream of the program chain, as a
    // player lists them. A control entry carries a number for each display
    // (4:3, wide, letterbox, pan-scan); the picture ripped is the coded one,
    // so a 16:9 title set overlays the wide number and a 4:3 one the 4:3
    // number. Listing every number apart showed a stream twice on discs
    // whose wide and 4:3 numbers differ.
    int subAttrCount = readBe16(header.data + 0x254);
    if (subAttrCount > 32) subAttrCount = 32;
    const bool wide = ((header.data[0x200] >> 2) & 0x03) == 3;
    struct Listed {
        int stream, attr;
    };
    std::vector<Listed> listed;
    for (int sp = 0; sp < subAttrCount; ++sp) {
        const uint8_t* control = p + 0x1C + 4 * sp;
        if (!(control[0] & 0x80)) continue;
        const int stream = control[wide ? 1 : 0] & 0x1F;
        auto same = std::find_if(listed.begin(), listed.end(),
                                 [&](const Listed& l) { return l.stream == stream; });
        if (same != listed.end())
            same->attr = sp;  // the later attribute describes it
        else
            listed.push_back({stream, sp});
    }
    j = 0;
    for (const Listed& l : listed) {
        const uint8_t* attr = header.data + 0x256 + 6 * l.attr;
        char text[128];
        std::snprintf(text, sizeof text, "[%d] %s (0x%02X)", j, languageName(attr[2], attr[3]),
                      0x20 + l.stream);
        title.subpictureText[j] = text;
        title.subpictureStream[j] = l.stream;
        title.subpictureLanguage[j] = languageCode(attr[2], attr[3]);
        ++j;
        for (int c = 0; c < 16; ++c) {
            const uint8_t* entry = p + 0xA4 + 4 * c;
            title.palette[c] = {entry[1], entry[2], entry[3]};
        }
        title.hasPalette = true;
    }
    title.subpictureCount = j;

    int programs = p[2];
    int cellCount = p[3];
    const uint8_t* time = p + 4;
    char label[64];
    std::snprintf(label, sizeof label, "[%02u] %s:%02u:%02u:%02u", unsigned(index), "Length",
                  unsigned(bcd(time[0])), unsigned(bcd(time[1])), unsigned(bcd(time[2])));
    title.label = label;

    if (cellCount == 0) return true;
    size_t mapOffset = readBe16(p + 0xE6);
    size_t playbackOffset = readBe16(p + 0xE8);
    size_t positionOffset = readBe16(p + 0xEA);
    if (playbackOffset == 0 || positionOffset == 0) return false;
    if (!pgc.has(playbackOffset, 24 * size_t(cellCount)) ||
        !pgc.has(positionOffset, 4 * size_t(cellCount)))
        return false;
    if (programs > 0 && (mapOffset == 0 || !pgc.has(mapOffset, size_t(programs)))) return false;

    title.cells.assign(size_t(cellCount), CellRecord{});
    int blockStart = 0;
    int counter = 0;
    for (int c = 0; c < cellCount; ++c) {
        const uint8_t* play = p + playbackOffset + 24 * c;
        const uint8_t* pos = p + positionOffset + 4 * c;
        CellRecord& cell = title.cells[size_t(c)];
        cell.firstSector = readBe32(play + 8);
        cell.lastSector = readBe32(play + 20);
        cell.vobId = readBe16(pos);
        cell.cellId = pos[3];
        cell.duration = decodePlaybackTime(play + 4);
        switch (play[0] >> 6) {
            case 1:
                cell.angle = 0xF1;
                blockStart = c;
                counter = 1;
                break;
            case 2:
                ++counter;
                cell.angle = uint8_t(0xF0 | (counter & 0x0F));
                break;
            case 3:
                ++counter;
                cell.angle = uint8_t(0xF0 | (counter & 0x0F));
                for (int k = blockStart; k <= c; ++k) {
                    uint8_t& a = title.cells[size_t(k)].angle;
                    if (a > 0xEF) a = uint8_t((a & 0x0F) | ((counter & 0x0F) << 4));
                }
                break;
            default:
                cell.angle = 0x11;
                blockStart = c;
                break;
        }
    }

    // Chapters from the program map (1-based first cells); damaged maps are
    // clamped to the cell table.
    if (programs > 0) {
        const uint8_t* map = p + mapOffset;
        auto clampCell = [&](int v) { return v < 0 ? 0 : (v > cellCount ? cellCount : v); };
        for (int k = 1; k < programs; ++k) {
            int from = clampCell(map[k - 1] - 1);
            int to = clampCell(map[k] - 1);
            for (int c = from; c < to; ++c) title.cells[size_t(c)].chapter = k - 1;
        }
        for (int c = clampCell(map[programs - 1] - 1); c < cellCount; ++c)
            title.cells[size_t(c)].chapter = programs - 1;
    }
    return true;
}

}  // namespace

const char* languageName(uint8_t first, uint8_t second) {
    for (const auto& row : kLanguages)
        if (uint8_t(row.code[0]) == first && uint8_t(row.code[1]) == second) return row.name;
    return "";
}

std::string languageCode(uint8_t first, uint8_t second) {
    auto letter = [](uint8_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (!letter(first) || !letter(second)) return {};
    return {char(first | 0x20), char(second | 0x20)};
}

const char* audioCodingName(int coding) { return kCodingNames[coding & 7]; }
int audioStreamIdBase(int coding) { return kStreamIdBase[coding & 7]; }

double decodePlaybackTime(const uint8_t* t) {
    int rateFlag = t[3] >> 6;
    double rate = rateFlag == 1 ? 25.0 : 30.0;
    return bcd(t[0]) * 3600.0 + bcd(t[1]) * 60.0 + bcd(t[2]) + bcd(t[3] & 0x3F) / rate;
}

bool parseIfoBytes(TitleCatalogue& catalogue, const uint8_t* data, size_t size) {
    catalogue.clear();
    if (size < kHeaderBytes || std::memcmp(data, "DVDVIDEO-VTS", 12) != 0) return false;
    Range header{data, kHeaderBytes};
    uint64_t tableSector = readBe32(data + 0xCC);
    if (tableSector == 0) return false;
    uint64_t tableOffset = tableSector * 2048;
    if (tableOffset >= size || size - tableOffset < 8) return false;
    Range all{data + tableOffset, size_t(size - tableOffset)};
    uint64_t tableLength = uint64_t(readBe32(all.data + 4)) + 1;
    if (tableLength < 8 || tableLength > all.size) return false;
    Range table{all.data, size_t(tableLength)};

    int count = readBe16(table.data);
    if (!table.has(8, 8 * size_t(count))) return false;
    std::vector<TitleRecord> titles(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        size_t offset = readBe32(table.data + 12 + 8 * i);
        if (offset < 8 || offset >= table.size) return false;
        Range pgc{table.data + offset, table.size - offset};
        if (!buildTitle(titles[size_t(i)], i, header, pgc)) return false;
    }
    catalogue.titles = std::move(titles);
    return true;
}

namespace {

bool parseIfoFile(TitleCatalogue& catalogue, const std::string& path) {
    auto file = SourceFile::open(path, false);
    if (!file) return false;
    const uint64_t size = file->size();
    if (size < kHeaderBytes || size > kMaxIfoBytes) return false;
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    return file->readAt(0, bytes.data(), bytes.size()) &&
           parseIfoBytes(catalogue, bytes.data(), bytes.size());
}

// The backup copy every title set carries beside its IFO ("VTS_01_0.BUP"),
// named in the IFO's case; empty for another name.
std::string backupOf(const std::string& ifo) {
    if (ifo.size() < 4) return {};
    const std::string stem = ifo.substr(0, ifo.size() - 4), ext = ifo.substr(ifo.size() - 4);
    if (ext == ".IFO") return stem + ".BUP";
    if (ext == ".ifo") return stem + ".bup";
    return {};
}

}  // namespace

bool parseIfo(TitleCatalogue& catalogue, const std::string& path, JobReporter& reporter) {
    catalogue.clear();
    if (path.empty()) return true;
    // A scratch or a bad copy over the IFO leaves its backup to read, as
    // players do: the same tables, written to other sectors of the disc.
    bool ok = parseIfoFile(catalogue, path);
    if (!ok && !backupOf(path).empty()) {
        catalogue.clear();
        ok = parseIfoFile(catalogue, backupOf(path));
    }
    if (!ok) {
        catalogue.clear();
        reporter.notice(Status::error("STR_ERROR_52"));
        reporter.notice(Status::error("STR_ERROR_53"));
    }
    return ok;
}

namespace {

using CellRange = std::pair<uint32_t, uint32_t>;

std::vector<CellRange> cellRanges(const TitleRecord& t) {
    std::vector<CellRange> r;
    for (const auto& c : t.cells) r.emplace_back(c.firstSector, c.lastSector);
    return r;
}

double playingSeconds(const TitleRecord& t) {
    double sum = 0.0;
    for (const auto& c : t.cells) sum += c.duration;
    return sum;
}

// A cell played twice, or cells all played by another title that plays more
// of the disc (or as much, in disc order where this one is not).
bool replaysOthers(const TitleCatalogue& catalogue, size_t index) {
    std::vector<CellRange> own = cellRanges(catalogue.titles[index]);
    if (own.empty()) return true;
    std::vector<CellRange> sorted = own;
    std::sort(sorted.begin(), sorted.end());
    if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) return true;
    const bool inOrder = std::is_sorted(own.begin(), own.end());
    for (size_t k = 0; k < catalogue.titles.size(); ++k) {
        if (k == index) continue;
        std::vector<CellRange> other = cellRanges(catalogue.titles[k]);
        std::sort(other.begin(), other.end());
        other.erase(std::unique(other.begin(), other.end()), other.end());
        if (!std::includes(other.begin(), other.end(), sorted.begin(), sorted.end())) continue;
        if (other.size() > sorted.size()) return true;
        // The same cells: the title that plays them in disc order is the
        // real one; of two such, the first.
        const std::vector<CellRange> otherOwn = cellRanges(catalogue.titles[k]);
        const bool otherInOrder = std::is_sorted(otherOwn.begin(), otherOwn.end());
        if (otherInOrder && (!inOrder || k < index)) return true;
    }
    return false;
}

}  // namespace

int mainTitleIndex(const TitleCatalogue& catalogue) {
    int best = -1;
    for (int pass = 0; pass < 2 && best < 0; ++pass) {
        for (size_t i = 0; i < catalogue.titles.size(); ++i) {
            if (pass == 0 && replaysOthers(catalogue, i)) continue;
            if (best < 0) {
                best = int(i);
                continue;
            }
            const TitleRecord& t = catalogue.titles[i];
            const TitleRecord& b = catalogue.titles[size_t(best)];
            const double longer = playingSeconds(t) - playingSeconds(b);
            if (longer > 1.0 || (longer > -1.0 && t.chapterCount() > b.chapterCount()))
                best = int(i);
        }
    }
    return best;
}

double runningTime(const TitleRecord& title) {
    double seconds = 0.0;
    for (const auto& c : title.cells)
        if (playsInFirstAngle(c)) seconds += c.duration;
    return seconds;
}

bool keepChapters(TitleRecord& title, int from, int to) {
    if (from < 1 || to < from || to > title.chapterCount()) return false;
    std::vector<CellRecord> kept;
    for (const auto& c : title.cells)
        if (c.chapter >= from - 1 && c.chapter <= to - 1) kept.push_back(c);
    if (kept.empty()) return false;
    title.cells = std::move(kept);
    title.duration = 0.0;
    for (const auto& c : title.cells) title.duration += c.duration;
    return true;
}

// ---------------------------------------------------------------------------
// The title of a scan of plain files

namespace {

template <typename... Args>
std::string printed(const char* fmt, Args... args) {
    char text[256];
    std::snprintf(text, sizeof text, fmt, args...);
    return text;
}

std::string scannedAudioText(const VobScan::Audio& a) {
    switch (a.coding) {
        case 0:
            return printed("[%02d] AC3 audio", a.track);
        case 4:
            return printed("[%02d] LPCM audio", a.track);
        default:
            return printed("[%02d] MPA (%s)", a.track, a.detail.c_str());
    }
}

// Each track keeps the slot of its number, as lists made before showed it;
// a track whose number another coding took first goes to the first free
// slot, with its own number, so that both can be chosen.
void listScannedAudio(TitleRecord& title, const VobScan& scan) {
    for (int k = 0; k < 8; ++k) {
        title.audioText[size_t(k)] = printed("[%02d] Free channel", k);
        title.audioCoding[size_t(k)] = -1;
        title.audioStream[size_t(k)] = k;
    }
    std::vector<const VobScan::Audio*> displaced;
    for (const VobScan::Audio& a : scan.audio) {
        const auto slot = size_t(a.track);
        if (title.audioCoding[slot] >= 0) {
            displaced.push_back(&a);
            continue;
        }
        title.audioText[slot] = scannedAudioText(a);
        title.audioCoding[slot] = a.coding;
    }
    size_t slot = 0;
    for (const VobScan::Audio* a : displaced) {
        while (slot < 8 && title.audioCoding[slot] >= 0) ++slot;
        if (slot == 8) break;
        title.audioText[slot] = scannedAudioText(*a);
        title.audioCoding[slot] = a->coding;
        title.audioStream[slot] = a->track;
    }
    title.audioCount = 8;
}

}  // namespace

bool VobScan::hasAudio(int coding, int track) const {
    for (const Audio& a : audio)
        if (a.coding == coding && a.track == track) return true;
    return false;
}

void setScannedTitle(TitleCatalogue& catalogue, const VobScan& scan) {
    TitleRecord title;
    title.noCellFilter = true;
    int64_t sectorBase = 0;
    double wholeSeconds = 0;
    for (size_t i = 0; i < scan.files.size(); ++i) {
        const VobScan::File& file = scan.files[i];
        CellRecord cell;
        cell.firstSector = uint32_t(sectorBase);
        cell.lastSector = uint32_t(sectorBase + file.sectors - 1);
        cell.vobId = uint16_t(i + 1);
        cell.cellId = uint8_t(i + 1);
        cell.angle = 1;
        cell.chapter = int32_t(i);
        cell.duration = file.frameRate > 0 ? file.pictures / file.frameRate : 0.0;
        // The label adds whole seconds per file, as the lengths were always shown.
        wholeSeconds += std::floor(cell.duration);
        title.cells.push_back(cell);
        sectorBase += file.sectors;
    }
    const int total = int(wholeSeconds);
    title.label =
        printed("[00] Length  %02d:%02d:%02d", total / 3600, (total / 60) % 60, total % 60);
    title.duration = 0;
    for (const auto& c : title.cells) title.duration += c.duration;
    listScannedAudio(title, scan);
    for (int k = 0; k < kMaxSubpictureSlots; ++k) {
        title.subpictureText[size_t(k)] = scan.subpictures[size_t(k)]
                                              ? printed("[%02d] subtitle", k)
                                              : printed("[%02d] Free channel", k);
        title.subpictureStream[size_t(k)] = k;
    }
    title.subpictureCount = kMaxSubpictureSlots;
    title.palette[0] = {0, 128, 128};
    for (int k = 1; k < 16; ++k) title.palette[size_t(k)] = {255, 128, 128};
    title.hasPalette = true;
    catalogue.titles.clear();
    catalogue.titles.push_back(std::move(title));
}

}  // namespace zembra
