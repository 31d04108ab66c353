#pragma once
// The titles of one opened title set: one TitleRecord per program chain of
// VTS_xx_0.IFO with its cells, chapters, streams and sub-picture palette.
// parseIfo fills it from an IFO file; setScannedTitle makes a one-title
// catalogue from what the video decoder's scan of plain VOB/MPEG files found,
// so every field is plain and public.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zembra {

class JobReporter;

struct CellRecord {
    uint32_t firstSector = 0;  // absolute over the title set's VOB files
    uint32_t lastSector = 0;
    uint16_t vobId = 0;
    uint8_t cellId = 0;
    // High nibble: number of angles of the block the cell belongs to; low
    // nibble: the cell's angle number. 0x11 outside angle blocks.
    uint8_t angle = 0x11;
    int32_t chapter = 0;    // from 0
    double duration = 0.0;  // seconds
};

inline constexpr int kMaxAudioSlots = 32;
inline constexpr int kMaxSubpictureSlots = 32;

// The coding of a DTS track: listed, never decoded.
constexpr int kAudioCodingDts = 6;

struct TitleRecord {
    std::string label;  // "[01] Length:01:45:30"
    std::vector<CellRecord> cells;
    double duration = 0.0;  // sum of the cells' durations, set by openSource
    // 16 colours of the sub-picture palette, Y, Cr, Cb each.
    std::array<std::array<uint8_t, 3>, 16> palette{};
    bool hasPalette = false;

    int32_t audioCount = 0;
    std::array<std::string, kMaxAudioSlots> audioText;
    std::array<int32_t, kMaxAudioSlots>
        audioCoding{};  // 0 AC-3, 2 MPEG-1, 3 MPEG-2x, 4 LPCM, 6 DTS
    std::array<int32_t, kMaxAudioSlots> audioStream{};      // 0..7
    std::array<std::string, kMaxAudioSlots> audioLanguage;  // "en", "" when not given
    std::array<int32_t, kMaxAudioSlots> audioChannels{};

    int32_t subpictureCount = 0;
    std::array<std::string, kMaxSubpictureSlots> subpictureText;
    std::array<int32_t, kMaxSubpictureSlots> subpictureStream{};      // 0..31
    std::array<std::string, kMaxSubpictureSlots> subpictureLanguage;  // "en", "" when not given

    // Set for a title built from bare VOB files: cells are whole files and
    // the navigation-pack cell ids do not filter anything.
    bool noCellFilter = false;

    int32_t cellCount() const { return int32_t(cells.size()); }
    int32_t chapterCount() const { return cells.empty() ? 0 : cells.back().chapter + 1; }
};

struct TitleCatalogue {
    std::vector<TitleRecord> titles;

    int32_t count() const { return int32_t(titles.size()); }
    void clear() { titles.clear(); }
    TitleRecord* title(int index) {
        return index >= 0 && index < count() ? &titles[size_t(index)] : nullptr;
    }
    const TitleRecord* title(int index) const {
        return index >= 0 && index < count() ? &titles[size_t(index)] : nullptr;
    }
};

// The title a user most likely wants, the main feature: the longest (from
// its cells; titles within a second of it count as as long, and of those the
// one with the most chapters wins, then the first). Titles that only replay
// cells of another (a cell played twice, or no cell of their own: the decoys
// of some discs) are no candidates unless nothing else is left. -1 for an
// empty catalogue.
int mainTitleIndex(const TitleCatalogue& catalogue);

// A cell outside angle blocks, or of the first angle: the cells that count
// for a title's and its chapters' running times.
inline bool playsInFirstAngle(const CellRecord& cell) { return (cell.angle & 0x0F) <= 1; }

// The running time of a title as its cells state it, whether it has been
// opened or not (`duration` is only set by opening it).
double runningTime(const TitleRecord& title);

// Keeps only the cells of chapters from..to (numbered from 1, as players
// show them; cell-accurate), and the title's duration becomes theirs. False,
// with the title unchanged, when the range is not within the title.
bool keepChapters(TitleRecord& title, int from, int to);

// What a scan of plain VOB/MPEG files found, for the one title they make.
struct VobScan {
    struct File {
        int64_t sectors = 0;
        int pictures = 0;
        double frameRate = 0.0;  // after film detection
    };
    // An audio track as first met: the title's audio coding (0 AC-3,
    // 2 MPEG-1, 4 LPCM), its stream number within that coding and, for MPEG
    // audio, "<rate>Hz Mono|Stereo" of its first frame header.
    struct Audio {
        int coding = 0;
        int track = 0;
        std::string detail;
    };
    std::vector<File> files;
    std::vector<Audio> audio;  // in the order found; one entry per coding and number
    std::array<bool, kMaxSubpictureSlots> subpictures{};

    bool hasAudio(int coding, int track) const;
};

// Replaces the catalogue's titles by the one title of the scanned files: a
// cell per file, its length and stream texts.
void setScannedTitle(TitleCatalogue& catalogue, const VobScan& scan);

// Reads an IFO (a plain file, or "<image or device>:<path on the disc>") into
// the catalogue, replacing what it held; an IFO that cannot be read or parsed
// is read from its backup copy (.BUP) when that can. An empty path only
// clears it.
// On failure shows STR_ERROR_52 then STR_ERROR_53, leaves the catalogue
// empty and returns false.
[[nodiscard]] bool parseIfo(TitleCatalogue& catalogue, const std::string& path,
                            JobReporter& reporter);

// The same over bytes already in memory (no boxes); false when they are not a
// readable title set IFO. Used by parseIfo and by the fuzz target.
[[nodiscard]] bool parseIfoBytes(TitleCatalogue& catalogue, const uint8_t* data, size_t size);

// Display names used in the stream texts.
const char* languageName(uint8_t first, uint8_t second);  // "" when unknown
// The two-letter code as the IFO gives it ("en"); "" when it is not two letters.
std::string languageCode(uint8_t first, uint8_t second);
const char* audioCodingName(int coding);  // "AC3", "MPEG1", ...
int audioStreamIdBase(int coding);        // 0x80, 0xC0, ...

// Time of a program chain or cell: BCD h, m, s, then frames with the rate
// flag in the top two bits (1 = 25 fps, else 30).
double decodePlaybackTime(const uint8_t* time4);

}  // namespace zembra
