#include <gtest/gtest.h>

#include <initializer_list>

#include "dvd/title_catalogue.h"
#include "ifo_builder.h"
#include "support/recording_host.h"
#include "test_support.h"

namespace zembra {
namespace {

using testing::audioAttr;
using testing::buildIfo;
using testing::IfoCell;
using testing::IfoPgc;
using testing::IfoSpec;
using testing::subAttr;

IfoCell cell(uint32_t first, uint32_t last, int mode = 0, uint8_t id = 1) {
    IfoCell c;
    c.first = first;
    c.last = last;
    c.blockMode = mode;
    c.cellId = id;
    return c;
}

TitleCatalogue parse(const IfoSpec& spec) {
    auto bytes = buildIfo(spec);
    TitleCatalogue cat;
    EXPECT_TRUE(parseIfoBytes(cat, bytes.data(), bytes.size()));
    return cat;
}

TEST(IfoParser, LabelsTimesAndRateFlag) {
    IfoSpec spec;
    IfoPgc a;
    a.time = {0x01, 0x45, 0x30, 0x40};
    a.cells = {cell(0, 9)};
    a.cells[0].time = {0x00, 0x00, 0x02, 0x40 | 0x12};  // 2 s + 12 frames at 25
    IfoPgc b;
    b.time = {0x00, 0x00, 0x12, 0xC0};
    b.cells = {cell(10, 19), cell(20, 29), cell(30, 39)};
    b.cells[0].time = {0x00, 0x01, 0x00, 0x15};         // flag 0 -> 30 fps
    b.cells[1].time = {0x00, 0x00, 0x00, 0x80 | 0x15};  // flag 2 -> 30 fps
    b.cells[2].time = {0x00, 0x00, 0x00, 0xC0 | 0x15};  // flag 3 -> 30 fps
    spec.pgcs = {a, b};
    auto cat = parse(spec);
    ASSERT_EQ(cat.count(), 2);
    EXPECT_EQ(cat.titles[0].label, "[00] Length:01:45:30");
    EXPECT_EQ(cat.titles[1].label, "[01] Length:00:00:12");
    EXPECT_DOUBLE_EQ(cat.titles[0].cells[0].duration, 2.0 + 12.0 / 25.0);
    EXPECT_DOUBLE_EQ(cat.titles[1].cells[0].duration, 60.0 + 15.0 / 30.0);
    EXPECT_DOUBLE_EQ(cat.titles[1].cells[1].duration, 15.0 / 30.0);
    EXPECT_DOUBLE_EQ(cat.titles[1].cells[2].duration, 15.0 / 30.0);
    EXPECT_EQ(cat.titles[1].cells[2].firstSector, 30u);
    EXPECT_EQ(cat.titles[1].cells[2].lastSector, 39u);
    // Duration is left to the reader, which applies the angle first.
    EXPECT_EQ(cat.titles[0].duration, 0.0);
}

TEST(IfoParser, AngleBlocksAndChapters) {
    IfoSpec spec;
    IfoPgc p;
    p.cells = {cell(0, 9),         cell(10, 19, 1, 2), cell(20, 29, 2, 3), cell(30, 39, 3, 4),
               cell(40, 49, 0, 5), cell(50, 59, 1, 6), cell(60, 69, 3, 7)};
    p.programMap = {1, 2, 5};
    spec.pgcs = {p};
    auto cat = parse(spec);
    const auto& cells = cat.titles[0].cells;
    ASSERT_EQ(cells.size(), 7u);
    std::vector<int> angles, chapters;
    for (const auto& c : cells) {
        angles.push_back(c.angle);
        chapters.push_back(c.chapter);
    }
    EXPECT_EQ(angles, (std::vector<int>{0x11, 0x31, 0x32, 0x33, 0x11, 0x21, 0x22}));
    EXPECT_EQ(chapters, (std::vector<int>{0, 1, 1, 1, 2, 2, 2}));
    EXPECT_EQ(cells[3].cellId, 4);
    EXPECT_EQ(cat.titles[0].chapterCount(), 3);

    // One program: every cell is chapter 0. A map pointing past the cells is clamped.
    p.programMap = {1};
    spec.pgcs = {p};
    auto one = parse(spec);
    for (const auto& c : one.titles[0].cells) EXPECT_EQ(c.chapter, 0);
    p.programMap = {1, 200};
    spec.pgcs = {p};
    auto clamped = parse(spec);
    for (const auto& c : clamped.titles[0].cells) EXPECT_EQ(c.chapter, 0);
}

TEST(IfoParser, AudioTexts) {
    IfoSpec spec;
    spec.audioAttrs = {audioAttr(0, 6, "en"), audioAttr(0, 2, "fr"),   audioAttr(2, 2, "de"),
                       audioAttr(1, 2, "  "), audioAttr(4, 2, "\0\0"), audioAttr(6, 6, "qq"),
                       audioAttr(0, 2, "es")};
    IfoPgc p;
    p.cells = {cell(0, 1)};
    p.audioControl = {0x80, 0x81, 0x80, 0x82, 0x83, 0x84, 0x81, 0};
    spec.pgcs = {p};
    auto t = parse(spec).titles[0];
    // Entries 1 and 6 both name AC-3 stream 1: counted once, entry 6 describes it.
    ASSERT_EQ(t.audioCount, 6);
    EXPECT_EQ(t.audioText[0], "English AC3 6ch (0x80)");
    EXPECT_EQ(t.audioText[1], "Deutsch MPEG1 2ch (0xC0)");
    EXPECT_EQ(t.audioText[2], "Espanol AC3 2ch (0x81)");
    EXPECT_EQ(t.audioText[3], "Not Specified ??? 2ch (0x02)");
    EXPECT_EQ(t.audioText[4], "??? LPCM 2ch (0xA3)");
    EXPECT_EQ(t.audioText[5], " DTS 6ch (0x8C)");
    EXPECT_EQ(t.audioCoding[1], 2);
    EXPECT_EQ(t.audioStream[1], 0);
    EXPECT_EQ(t.audioStream[4], 3);
    EXPECT_EQ(t.audioCoding[4], 4);
}

TEST(IfoParser, SubpictureTextsAndPalette) {
    IfoSpec spec;
    spec.subAttrs = {subAttr("en"), subAttr("fr"), subAttr("it")};
    IfoPgc p;
    p.cells = {cell(0, 1)};
    // 4:3, wide, letterbox, pan-scan numbers.
    p.subControl[0] = {0x80, 0x01, 0x02, 0x03};
    p.subControl[1] = {0x00, 0x04, 0x05, 0x06};  // not available
    p.subControl[2] = {0x85, 0x05, 0x05, 0x05};
    for (int c = 0; c < 16; ++c)
        p.clut[size_t(c)] = {0, uint8_t(c), uint8_t(100 + c), uint8_t(200 + c)};
    spec.pgcs = {p};

    // One entry per available stream, as players list them: a 4:3 title set
    // takes the 4:3 numbers, a 16:9 one the wide numbers.
    spec.videoFlags = 0x01;  // 4:3
    auto t = parse(spec).titles[0];
    ASSERT_EQ(t.subpictureCount, 2);
    EXPECT_EQ(t.subpictureText[0], "[0] English (0x20)");
    EXPECT_EQ(t.subpictureText[1], "[1] Italiano (0x25)");
    EXPECT_TRUE(t.hasPalette);
    EXPECT_EQ(t.palette[15][0], 15);
    EXPECT_EQ(t.palette[15][1], 115);
    EXPECT_EQ(t.palette[15][2], 215);

    spec.videoFlags = 0x0C;  // 16:9
    t = parse(spec).titles[0];
    ASSERT_EQ(t.subpictureCount, 2);
    EXPECT_EQ(t.subpictureStream[0], 1);
    EXPECT_EQ(t.subpictureText[0], "[0] English (0x21)");
    EXPECT_EQ(t.subpictureText[1], "[1] Italiano (0x25)");

    // Four streams, each with its own 4:3 and wide number: four entries, not
    // eight, whatever the display flags.
    spec.subAttrs = {subAttr("en"), subAttr("fr"), subAttr("de"), subAttr("it")};
    for (int k = 0; k < 4; ++k)
        p.subControl[size_t(k)] = {uint8_t(0x80 | k), uint8_t(4 + k), uint8_t(4 + k),
                                   uint8_t(4 + k)};
    spec.pgcs = {p};
    for (uint8_t flags : {0x00, 0x01, 0x02, 0x0C, 0x0D}) {
        spec.videoFlags = flags;
        t = parse(spec).titles[0];
        ASSERT_EQ(t.subpictureCount, 4) << int(flags);
        EXPECT_EQ(t.subpictureStream[3], flags >= 0x0C ? 7 : 3) << int(flags);
    }

    // No sub-picture streams: no palette.
    spec.subAttrs.clear();
    EXPECT_FALSE(parse(spec).titles[0].hasPalette);
}

TEST(IfoParser, LongProgramChainTableIsReadWhole) {
    IfoSpec spec;
    for (int i = 0; i < 12; ++i) {
        IfoPgc p;
        for (int c = 0; c < 8; ++c)
            p.cells.push_back(cell(uint32_t(100 * i + 10 * c), uint32_t(100 * i + 10 * c + 9)));
        spec.pgcs.push_back(p);
    }
    auto bytes = buildIfo(spec);
    ASSERT_GT(bytes.size(), 2048u * 3);
    TitleCatalogue cat;
    ASSERT_TRUE(parseIfoBytes(cat, bytes.data(), bytes.size()));
    ASSERT_EQ(cat.count(), 12);
    EXPECT_EQ(cat.titles[11].cells[7].lastSector, 1179u);
}

TEST(IfoParser, MalformedInputFailsCleanly) {
    IfoSpec spec;
    IfoPgc p;
    p.cells = {cell(0, 9), cell(10, 19)};
    spec.pgcs = {p, p};
    const auto good = buildIfo(spec);
    auto fails = [](std::vector<uint8_t> bytes) {
        TitleCatalogue cat;
        cat.titles.resize(3);
        bool ok = parseIfoBytes(cat, bytes.data(), bytes.size());
        return !ok && cat.count() == 0;
    };
    EXPECT_TRUE(fails({}));
    EXPECT_TRUE(fails(std::vector<uint8_t>(good.begin(), good.begin() + 2048)));  // truncated
    auto bad = good;
    bad[3] = 'X';  // identifier
    EXPECT_TRUE(fails(bad));
    bad = good;
    testing::put32(bad, 0xCC, 0);  // no table
    EXPECT_TRUE(fails(bad));
    bad = good;
    testing::put32(bad, 0xCC, 500);  // table past the end
    EXPECT_TRUE(fails(bad));
    bad = good;
    testing::put32(bad, 2048 + 4, 0x7FFFFFF0);  // table longer than the file
    EXPECT_TRUE(fails(bad));
    bad = good;
    testing::put32(bad, 2048 + 12 + 8, 0x00FFFFFF);  // second chain past the end
    EXPECT_TRUE(fails(bad));
    bad = good;
    testing::put16(bad, 2048, 4000);  // more chains than the table holds
    EXPECT_TRUE(fails(bad));
    bad = good;
    size_t pgc = 2048 + 8 + 16;
    testing::put16(bad, pgc + 0xE8, 0xFFF0);  // cell playback table past the end
    EXPECT_TRUE(fails(bad));
    bad = good;
    bad[pgc + 3] = 200;  // more cells than the tables hold
    EXPECT_TRUE(fails(bad));
    EXPECT_FALSE(fails(good));
}

TEST(IfoParser, ParseIfoFileReportsFailures) {
    std::string dir = testing::scratchDir("ifo_file");
    testing::RecordingHost host;
    TitleCatalogue cat;
    EXPECT_FALSE(parseIfo(cat, dir + "/missing.IFO", host));
    ASSERT_EQ(host.boxes.size(), 2u);
    EXPECT_EQ(host.boxes[0].kind, BoxKind::Error);
    EXPECT_EQ(host.boxes[0].text, "Unable to parse as an IFO-File.");
    EXPECT_EQ(host.boxes[1].text, "IFO parsing failed.");

    IfoSpec spec;
    IfoPgc p;
    p.cells = {cell(0, 9)};
    spec.pgcs = {p};
    testing::writeAll(dir + "/VTS_01_0.IFO", buildIfo(spec));
    host.boxes.clear();
    EXPECT_TRUE(parseIfo(cat, dir + "/VTS_01_0.IFO", host));
    EXPECT_EQ(cat.count(), 1);
    EXPECT_TRUE(host.boxes.empty());
    // An empty path only clears.
    EXPECT_TRUE(parseIfo(cat, "", host));
    EXPECT_EQ(cat.count(), 0);
}

// A damaged or unreadable IFO is read from its backup copy, in either case
// of name; only when both fail is it said.
TEST(IfoParser, DamagedIfoIsReadFromItsBackup) {
    const std::string dir = testing::scratchDir("ifo_backup");
    IfoSpec spec;
    IfoPgc p;
    p.cells = {cell(0, 9), cell(10, 19)};
    spec.pgcs = {p, p};
    const std::vector<uint8_t> good = buildIfo(spec);
    std::vector<uint8_t> zeroed(good.size(), 0);
    for (const char* name : {"VTS_01_0", "vts_02_0"}) {
        SCOPED_TRACE(name);
        const bool upper = name[0] == 'V';
        const std::string ifo = dir + "/" + name + (upper ? ".IFO" : ".ifo");
        const std::string bup = dir + "/" + name + (upper ? ".BUP" : ".bup");
        testing::writeAll(ifo, zeroed);
        testing::writeAll(bup, good);
        testing::RecordingHost host;
        TitleCatalogue cat;
        EXPECT_TRUE(parseIfo(cat, ifo, host));
        EXPECT_EQ(cat.count(), 2);
        EXPECT_TRUE(host.boxes.empty());

        testing::writeAll(bup, zeroed);
        EXPECT_FALSE(parseIfo(cat, ifo, host));
        EXPECT_EQ(cat.count(), 0);
        EXPECT_EQ(host.boxes.size(), 2u);
    }
}

TEST(IfoParser, LanguageTable) {
    EXPECT_STREQ(languageName(' ', ' '), "Not Specified");
    EXPECT_STREQ(languageName(0, 0), "???");
    EXPECT_STREQ(languageName('i', 'n'), "Indonesian");
    EXPECT_STREQ(languageName('z', 'u'), "Zulu");
    EXPECT_STREQ(languageName('E', 'N'), "");
    EXPECT_STREQ(audioCodingName(3), "MPEG2x");
    EXPECT_EQ(audioStreamIdBase(3), 0xC8);
}

}  // namespace
}  // namespace zembra

namespace zembra {
namespace {

// A program chain of cells of one second each, given by their first sectors
// (each cell 10 sectors), with `chapters` programs.
IfoPgc chain(std::initializer_list<uint32_t> firsts, int chapters = 1) {
    IfoPgc p;
    for (uint32_t f : firsts) p.cells.push_back(cell(f, f + 9));
    p.programMap.clear();
    for (int k = 0; k < chapters; ++k) p.programMap.push_back(uint8_t(1 + k));
    return p;
}

TEST(MainTitle, LongestRealTitleWinsOverShortOnesAndDecoys) {
    IfoSpec spec;
    // 0: a short title; 1: the feature, cells in disc order; 2: a decoy that
    // replays the feature's cells and one of them twice (longer than it);
    // 3: a decoy with the feature's cells out of order.
    spec.pgcs = {chain({500, 510}), chain({0, 10, 20, 30}, 3), chain({20, 0, 10, 30, 20, 10}),
                 chain({30, 20, 10, 0})};
    EXPECT_EQ(mainTitleIndex(parse(spec)), 1);

    // Of two titles of about the same length the one with more chapters.
    spec.pgcs = {chain({0, 10, 20}, 1), chain({100, 110, 120}, 3)};
    EXPECT_EQ(mainTitleIndex(parse(spec)), 1);
    // A second longer beats chapters.
    spec.pgcs = {chain({0, 10, 20, 30}, 1), chain({100, 110, 120}, 3)};
    EXPECT_EQ(mainTitleIndex(parse(spec)), 0);
    // A title that plays part of another's cells is no candidate.
    spec.pgcs = {chain({0, 10}, 2), chain({0, 10, 20}, 1)};
    EXPECT_EQ(mainTitleIndex(parse(spec)), 1);
    // Only decoys: the longest of them rather than none.
    spec.pgcs = {chain({0, 0}), chain({10, 10, 10, 10})};
    EXPECT_EQ(mainTitleIndex(parse(spec)), 1);
    EXPECT_EQ(mainTitleIndex(TitleCatalogue{}), -1);
}

// The one title of scanned files: the label adds each file's whole seconds
// (1.9 s + 1.9 s shows as 00:00:02, not 3), cells follow each other by
// sector, and a track whose number another coding took first moves to the
// first free slot with its own number.
TEST(ScannedTitle, CellsLengthAndStreamSlots) {
    VobScan scan;
    scan.files = {{100, 57, 30.0}, {40, 95, 50.0}};
    scan.audio = {{0, 1, {}}, {2, 1, "48000Hz Stereo"}, {4, 0, {}}};
    scan.subpictures[3] = true;
    TitleCatalogue cat;
    cat.titles.resize(3);  // whatever was open before goes
    setScannedTitle(cat, scan);
    ASSERT_EQ(cat.count(), 1);
    const TitleRecord& t = cat.titles[0];
    EXPECT_TRUE(t.noCellFilter);
    ASSERT_EQ(t.cells.size(), 2u);
    EXPECT_EQ(t.cells[0].lastSector, 99u);
    EXPECT_EQ(t.cells[1].firstSector, 100u);
    EXPECT_EQ(t.cells[1].lastSector, 139u);
    EXPECT_EQ(t.cells[1].vobId, 2);
    EXPECT_EQ(t.chapterCount(), 2);
    EXPECT_NEAR(t.duration, 1.9 + 1.9, 1e-9);
    EXPECT_EQ(t.label, "[00] Length  00:00:02");
    EXPECT_EQ(t.audioText[0], "[00] LPCM audio");
    EXPECT_EQ(t.audioText[1], "[01] AC3 audio");
    EXPECT_EQ(t.audioText[2], "[01] MPA (48000Hz Stereo)");
    EXPECT_EQ(t.audioCoding[2], 2);
    EXPECT_EQ(t.audioStream[2], 1);
    EXPECT_EQ(t.audioText[3], "[03] Free channel");
    EXPECT_EQ(t.audioCoding[3], -1);
    EXPECT_EQ(t.subpictureText[3], "[03] subtitle");
    EXPECT_EQ(t.subpictureText[4], "[04] Free channel");
    EXPECT_EQ(t.subpictureCount, 32);
}

}  // namespace
}  // namespace zembra
