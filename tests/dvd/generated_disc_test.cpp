// Discs made by ffmpeg + dvdauthor (+ spumux, genisoimage): the catalogue
// against what was authored, and title copies against the VOB bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "dvd/source_reader.h"
#include "dvd/stream_format.h"
#include "dvd/title_set.h"
#include "support/recording_host.h"
#include "test_support.h"

namespace zembra {
namespace {

namespace fs = std::filesystem;
using testing::RecordingHost;

const char* kRichOptions =
    "--pal --audio ac3-51:en --audio ac3:fr --subs 2 --chapters 0,0:01,0:02 --two-pgc "
    "--seconds 3 --split-sectors 250 --iso";

std::string richDisc() { return testing::makeDisc("rich", kRichOptions); }

std::vector<uint8_t> concatenated(const std::vector<std::string>& files) {
    std::vector<uint8_t> all;
    for (const auto& f : files) {
        auto bytes = testing::readAll(f);
        all.insert(all.end(), bytes.begin(), bytes.end());
    }
    return all;
}

// The title as the reader delivers it, read the decoder's way (4096 bytes)
// or sector by sector.
std::vector<uint8_t> extract(const TitleSetFiles& set, int title, int readLength = 2048,
                             bool prefill = true, bool disk = false, int angle = 0) {
    RecordingHost host;
    TitleCatalogue catalogue;
    EXPECT_TRUE(parseIfo(catalogue, set.ifo, host));
    SourceReader reader(host, catalogue);
    std::string temp = std::string(ZEMBRA_BINARY_DIR) + "/test-scratch/dvd-hdcache.dat";
    EXPECT_TRUE(reader.openSource(set.vobs, true, angle, title, 2, disk, temp));
    reader.setPrefill(prefill);
    std::vector<uint8_t> out, buf(static_cast<size_t>(readLength));
    for (;;) {
        int r = reader.readSource(buf.data(), readLength);
        if (r <= 0) break;
        out.insert(out.end(), buf.begin(), buf.begin() + r);
    }
    EXPECT_TRUE(host.boxes.empty());
    return out;
}

TEST(GeneratedDisc, CatalogueMatchesTheAuthoring) {
    std::string disc = richDisc();
    ZEMBRA_REQUIRE_DISC(disc);
    auto sets = findTitleSets(disc);
    ASSERT_EQ(sets.size(), 1u);
    ASSERT_GE(sets[0].vobs.size(), 2u);  // split at 250 sectors
    RecordingHost host;
    TitleCatalogue catalogue;
    ASSERT_TRUE(parseIfo(catalogue, sets[0].ifo, host));
    ASSERT_EQ(catalogue.count(), 2);
    const TitleRecord& t = catalogue.titles[0];
    EXPECT_EQ(t.label, "[00] Length:00:00:03");
    EXPECT_EQ(catalogue.titles[1].label, "[01] Length:00:00:03");
    ASSERT_EQ(t.audioCount, 2);
    EXPECT_EQ(t.audioText[0], "English AC3 6ch (0x80)");
    EXPECT_EQ(t.audioText[1], "Francais AC3 2ch (0x81)");
    ASSERT_EQ(t.subpictureCount, 2);
    EXPECT_EQ(t.subpictureText[0], "[0] English (0x20)");
    EXPECT_EQ(t.subpictureText[1], "[1] Francais (0x21)");
    EXPECT_TRUE(t.hasPalette);

    // Three chapters at 0, 1 and 2 seconds: each starts at a cell whose
    // running time is within a GOP (0.6 s) of its point.
    EXPECT_EQ(t.chapterCount(), 3);
    double at = 0;
    int chapter = -1;
    for (const auto& c : t.cells) {
        if (c.chapter != chapter) {
            EXPECT_EQ(c.chapter, chapter + 1);
            chapter = c.chapter;
            EXPECT_NEAR(at, double(chapter), 0.61);
        }
        at += c.duration;
        EXPECT_EQ(c.angle, 0x11);
    }
    EXPECT_NEAR(at, 3.0, 0.1);

    // The cells of both titles tile the VOB set.
    std::vector<CellRecord> cells;
    for (const auto& title : catalogue.titles)
        cells.insert(cells.end(), title.cells.begin(), title.cells.end());
    std::sort(cells.begin(), cells.end(), [](const CellRecord& a, const CellRecord& b) {
        return a.firstSector < b.firstSector;
    });
    uint64_t next = 0;
    for (const auto& c : cells) {
        EXPECT_EQ(c.firstSector, next);
        next = uint64_t(c.lastSector) + 1;
    }
    EXPECT_EQ(next * 2048, concatenated(sets[0].vobs).size());

    // Every cell begins with a navigation pack whose DSI names the cell.
    auto all = concatenated(sets[0].vobs);
    for (const auto& c : cells) {
        uint16_t vob = 0;
        uint8_t id = 0;
        ASSERT_TRUE(ps::findDsiIds(&all[size_t(c.firstSector) * 2048], 2048, vob, id));
        EXPECT_EQ(vob, c.vobId);
        EXPECT_EQ(id, c.cellId);
    }
}

TEST(GeneratedDisc, TitleCopyEqualsItsCells) {
    std::string disc = richDisc();
    ZEMBRA_REQUIRE_DISC(disc);
    auto set = findTitleSets(disc)[0];
    auto all = concatenated(set.vobs);
    RecordingHost host;
    TitleCatalogue catalogue;
    ASSERT_TRUE(parseIfo(catalogue, set.ifo, host));
    for (int title = 0; title < catalogue.count(); ++title) {
        std::vector<uint8_t> expected;
        for (const auto& c : catalogue.titles[size_t(title)].cells)
            expected.insert(expected.end(), all.begin() + int64_t(c.firstSector) * 2048,
                            all.begin() + (int64_t(c.lastSector) + 1) * 2048);
        EXPECT_EQ(extract(set, title), expected) << title;
        EXPECT_EQ(extract(set, title, 2048, false), expected) << title;
        EXPECT_EQ(extract(set, title, 2048, true, true), expected) << title;
        // The decoder's 4096-byte reads get every sector too, in every
        // buffer mode: an odd last sector comes in a short read.
        EXPECT_EQ(extract(set, title, 4096), expected) << title;
        EXPECT_EQ(extract(set, title, 4096, false), expected) << title;
        EXPECT_EQ(extract(set, title, 4096, true, true), expected) << title;
    }
}

TEST(GeneratedDisc, ImageAndSplitCopiesEqualTheFolderCopy) {
    std::string disc = richDisc();
    ZEMBRA_REQUIRE_DISC(disc);
    auto folder = findTitleSets(disc)[0];
    auto image = findTitleSets(disc + "/disc.iso");
    ASSERT_EQ(image.size(), 1u);
    EXPECT_EQ(image[0].ifo, disc + "/disc.iso:/VIDEO_TS/VTS_01_0.IFO");
    ASSERT_EQ(image[0].vobs.size(), folder.vobs.size());

    // The same title set in one VOB file.
    std::string dir = testing::scratchDir("unsplit");
    fs::create_directories(dir + "/VIDEO_TS");
    fs::copy_file(folder.ifo, dir + "/VIDEO_TS/VTS_01_0.IFO");
    testing::writeAll(dir + "/VIDEO_TS/VTS_01_1.VOB", concatenated(folder.vobs));
    auto unsplit = findTitleSets(dir);
    ASSERT_EQ(unsplit.size(), 1u);
    ASSERT_EQ(unsplit[0].vobs.size(), 1u);

    for (int title = 0; title < 2; ++title) {
        auto fromFolder = extract(folder, title);
        ASSERT_FALSE(fromFolder.empty());
        EXPECT_EQ(extract(image[0], title), fromFolder) << title;
        EXPECT_EQ(extract(unsplit[0], title), fromFolder) << title;
    }
}

TEST(GeneratedDisc, ReadErrorOnATruncatedImage) {
    std::string disc = richDisc();
    ZEMBRA_REQUIRE_DISC(disc);
    auto image = testing::readAll(disc + "/disc.iso");
    std::string dir = testing::scratchDir("truncated");
    std::string iso = dir + "/cut.iso";
    testing::writeAll(
        iso, std::vector<uint8_t>(image.begin(), image.begin() + int64_t(image.size()) * 3 / 5));
    auto sets = findTitleSets(iso);
    ASSERT_EQ(sets.size(), 1u);
    RecordingHost host;
    TitleCatalogue catalogue;
    ASSERT_TRUE(parseIfo(catalogue, sets[0].ifo, host));
    std::vector<uint8_t> buf(4096);

    // Without prefill the user is told; the reads before the failing one
    // deliver the title's bytes.
    std::vector<uint8_t> unbuffered;
    {
        SourceReader reader(host, catalogue);
        ASSERT_TRUE(reader.openSource(sets[0].vobs, true, 0, 0, 1, false));
        int r;
        while ((r = reader.readSource(buf.data(), 4096)) > 0)
            unbuffered.insert(unbuffered.end(), buf.begin(), buf.begin() + r);
        EXPECT_EQ(r, 0);
        ASSERT_EQ(host.boxes.size(), 1u) << host.boxes[0].text << "|" << host.boxes.back().text;
        EXPECT_EQ(host.boxes[0].text.rfind("Unable to read from", 0), 0u);
        host.boxes.clear();
    }
    // The cut is not where a 1 MB buffer load ends.
    ASSERT_GT(unbuffered.size() % 1048576, 0u);
    const auto whole = extract(findTitleSets(disc)[0], 0);
    ASSERT_GT(whole.size(), unbuffered.size());

    // Prefill, in memory and on disk: the load that meets the bad block keeps
    // every sector read before it (at least what the 16-sector reads got),
    // then the error comes once, with the stop sector just past the bad
    // sector and the position on it, and no box.
    std::vector<uint8_t> memory;
    for (bool disk : {false, true}) {
        SourceReader reader(host, catalogue);
        ASSERT_TRUE(reader.openSource(sets[0].vobs, true, 0, 0, 1, disk, dir + "/hdcache.dat"));
        reader.setPrefill(1);
        std::vector<uint8_t> got;
        int r;
        while ((r = reader.readSource(buf.data(), 4096)) > 0)
            got.insert(got.end(), buf.begin(), buf.begin() + r);
        EXPECT_EQ(r, -1) << disk;
        EXPECT_GE(got.size(), unbuffered.size()) << disk;
        EXPECT_LT(got.size(), unbuffered.size() + 16 * 2048) << disk;
        EXPECT_TRUE(std::equal(got.begin(), got.end(), whole.begin())) << disk;
        const int64_t bad = catalogue.titles[0].cells[0].firstSector + int64_t(got.size()) / 2048;
        EXPECT_EQ(reader.getStopSector(), bad + 1) << disk;
        EXPECT_EQ(reader.getCurrentSector(), bad) << disk;
        EXPECT_TRUE(host.boxes.empty()) << disk;
        if (disk)
            EXPECT_EQ(got, memory);
        else
            memory = got;
    }
}

TEST(GeneratedDisc, FfprobeFindsTheSameStreamsInTheCopy) {
    std::string disc = richDisc();
    ZEMBRA_REQUIRE_DISC(disc);
    if (testing::toolsMissing({"ffprobe"})) {
        if (std::getenv("CI")) FAIL() << "ffprobe missing";
        GTEST_SKIP();
    }
    auto set = findTitleSets(disc)[0];
    std::string dir = testing::scratchDir("ffprobe");
    testing::writeAll(dir + "/title.vob", extract(set, 0));
    testing::writeAll(dir + "/all.vob", concatenated(set.vobs));
    auto streams = [&](const std::string& file) {
        std::string cmd =
            "ffprobe -v error -show_entries stream=id,codec_name,channels -of csv=p=0 '" + file +
            "' | sort > '" + file + ".txt'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        auto bytes = testing::readAll(file + ".txt");
        return std::string(bytes.begin(), bytes.end());
    };
    std::string copy = streams(dir + "/title.vob");
    EXPECT_EQ(copy, streams(dir + "/all.vob"));
    EXPECT_NE(copy.find("ac3,6,0x80"), std::string::npos) << copy;
    EXPECT_NE(copy.find("ac3,2,0x81"), std::string::npos) << copy;
    EXPECT_NE(copy.find("mpeg2video"), std::string::npos) << copy;
    EXPECT_NE(copy.find("dvd_subtitle"), std::string::npos) << copy;
}

}  // namespace
}  // namespace zembra
