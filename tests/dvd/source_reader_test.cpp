// The title reader over numbered sectors: cell walks, buffers, angles,
// read errors, cancel and reopen.
#include "dvd/source_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "dvd/decoder_input.h"
#include "dvd/disc_device.h"
#include "support/recording_host.h"
#include "test_support.h"

namespace zembra {
namespace {

namespace fs = std::filesystem;
using testing::RecordingHost;

CellRecord cellOf(uint32_t first, uint32_t last, uint8_t angle = 0x11, double duration = 1.0) {
    CellRecord c;
    c.firstSector = first;
    c.lastSector = last;
    c.vobId = 1;
    c.cellId = uint8_t(first & 0xFF);
    c.angle = angle;
    c.duration = duration;
    return c;
}

struct Fixture {
    std::string dir;
    std::vector<std::string> files;
    TitleCatalogue catalogue;
    RecordingHost host;
    SourceReader reader{host, catalogue};

    // Two files: sectors 0..99 and 100..149.
    explicit Fixture(const std::string& name) : dir(testing::scratchDir(name)) {
        testing::writeNumberedSectors(dir + "/VTS_01_1.VOB", 0, 100);
        testing::writeNumberedSectors(dir + "/VTS_01_2.VOB", 100, 50);
        files = {dir + "/VTS_01_1.VOB", dir + "/VTS_01_2.VOB"};
    }
    void title(std::vector<CellRecord> cells) {
        TitleRecord t;
        t.cells = std::move(cells);
        catalogue.titles.push_back(t);
    }
    // Every sector delivered, read length bytes at a time.
    std::vector<uint32_t> readAll(int length = 2048) {
        std::vector<uint32_t> out;
        std::vector<uint8_t> buf(static_cast<size_t>(length));
        for (;;) {
            int r = reader.readSource(buf.data(), length);
            if (r <= 0) break;
            for (int i = 0; i < r; i += 2048) out.push_back(testing::sectorNumber(&buf[size_t(i)]));
        }
        return out;
    }
};

std::vector<uint32_t> range(uint32_t first, uint32_t last) {
    std::vector<uint32_t> v;
    for (uint32_t s = first; s <= last; ++s) v.push_back(s);
    return v;
}

std::vector<uint32_t> cat(std::initializer_list<std::vector<uint32_t>> parts) {
    std::vector<uint32_t> v;
    for (const auto& p : parts) v.insert(v.end(), p.begin(), p.end());
    return v;
}

TEST(SourceReader, CellWalkInEveryBufferMode) {
    // Adjacent cells, a gap, a cell across the file boundary, a late cell.
    const auto expected = cat({range(10, 29), range(40, 44), range(95, 104), range(120, 121)});
    struct Mode {
        bool prefill, disk;
        int megabytes;
    };
    for (Mode m :
         {Mode{false, false, 1}, Mode{true, false, 1}, Mode{true, true, 1}, Mode{false, true, 2}}) {
        Fixture f("walk");
        f.title(
            {cellOf(10, 19), cellOf(20, 29), cellOf(40, 44), cellOf(95, 104), cellOf(120, 121)});
        std::string temp = f.dir + "/hdcache.dat";
        ASSERT_TRUE(f.reader.openSource(f.files, false, 0, 0, m.megabytes, m.disk, temp));
        f.reader.setPrefill(m.prefill);
        EXPECT_EQ(f.readAll(), expected) << m.prefill << m.disk;
        EXPECT_EQ(fs::exists(temp), m.disk);
        EXPECT_DOUBLE_EQ(f.catalogue.titles[0].duration, 5.0);
        f.reader.closeSource();
        EXPECT_FALSE(fs::exists(temp));
        EXPECT_TRUE(f.host.boxes.empty());
    }
}

TEST(SourceReader, ReadLengthsAndEnd) {
    Fixture f("lengths");
    uint8_t buf4096[4096];
    f.title({cellOf(0, 4), cellOf(148, 149)});
    ASSERT_TRUE(f.reader.openSource(f.files, false, 0, 0, 0, false));
    EXPECT_EQ(f.reader.bufferBytes(), 1048576);  // 0 MB behaves as 1
    // 7 sectors in 4096-byte reads: the last odd sector comes in a short read.
    EXPECT_EQ(f.readAll(4096), (std::vector<uint32_t>{0, 1, 2, 3, 4, 148, 149}));
    EXPECT_EQ(f.reader.readSource(buf4096, 4096), 0);
    EXPECT_EQ(f.reader.seekSource(2), 0);
    std::vector<uint8_t> buf(3 * 2048 + 100);
    EXPECT_EQ(f.reader.readSource(buf.data(), int(buf.size())), int(buf.size()));
    EXPECT_EQ(testing::sectorNumber(&buf[0]), 2u);
    EXPECT_EQ(testing::sectorNumber(&buf[2 * 2048]), 4u);
    EXPECT_EQ(buf[3 * 2048 + 3], 148);
    EXPECT_EQ(buf[3 * 2048 + 99], 148);
}

TEST(SourceReader, SeekFindsFilesAndCells) {
    Fixture f("seek");
    f.title({cellOf(0, 49), cellOf(50, 149)});
    ASSERT_TRUE(f.reader.openSource(f.files, false, 0, 0, 1, false));
    EXPECT_EQ(f.reader.getFileSectors(0), 100);
    EXPECT_EQ(f.reader.getFileSectors(1), 50);
    EXPECT_EQ(f.reader.getFileSectors(-1), 0);
    EXPECT_EQ(f.reader.getSectorsBefore(), 0);
    EXPECT_EQ(f.reader.seekSource(120), 0);
    EXPECT_EQ(f.reader.currentCell(), 1);
    EXPECT_EQ(f.reader.getCurrentSector(), 120);
    EXPECT_EQ(f.reader.getSectorsBefore(), 100);
    EXPECT_EQ(f.readAll(), range(120, 149));
    EXPECT_EQ(f.reader.seekSource(150), -1);  // beyond the last file
    EXPECT_EQ(f.reader.seekSource(-1), -1);
    EXPECT_EQ(f.reader.seekSource(99), 0);
    EXPECT_EQ(f.readAll(), range(99, 149));
}

// Going back to sectors a prefill already holds (a reopen for the next pass
// seeks the title's start again) takes them from the buffer: the files are
// rewritten behind the reader's back, and only sectors it reads again show it.
TEST(SourceReader, SeekWithinTheBufferReadsNothingAgain) {
    for (bool prefill : {true, false}) {
        Fixture f("rebuffer");
        f.title({cellOf(10, 59), cellOf(60, 119), cellOf(130, 139)});
        ASSERT_TRUE(f.reader.openSource(f.files, false, 0, 0, 1, false));
        f.reader.setPrefill(prefill);
        std::vector<uint8_t> buf(4096);
        ASSERT_EQ(f.reader.readSource(buf.data(), 4096), 4096);
        testing::writeNumberedSectors(f.files[0], 1000, 100);
        testing::writeNumberedSectors(f.files[1], 1100, 50);
        EXPECT_EQ(f.reader.seekSource(10), 0);
        EXPECT_EQ(f.reader.getCurrentSector(), 10);
        const auto fresh = [](uint32_t a, uint32_t b) { return range(a + 1000, b + 1000); };
        if (prefill) {
            // The whole title came in one load; sectors up to the gap map
            // straight to the buffer, those after it are read again.
            std::vector<uint32_t> first;
            for (int k = 0; k < 20; ++k) {
                ASSERT_EQ(f.reader.readSource(buf.data(), 2048), 2048);
                first.push_back(testing::sectorNumber(buf.data()));
            }
            EXPECT_EQ(first, range(10, 29));
            EXPECT_EQ(f.reader.seekSource(100), 0);
            EXPECT_EQ(f.readAll(), cat({range(100, 119), range(130, 139)}));
            EXPECT_EQ(f.reader.seekSource(135), 0);
            EXPECT_EQ(f.readAll(), fresh(135, 139));
        } else {
            // 16-sector loads: the first one is kept.
            EXPECT_EQ(f.readAll(2048), cat({range(10, 25), fresh(26, 119), fresh(130, 139)}));
        }
        EXPECT_TRUE(f.host.boxes.empty());
    }
}

// Skipping ahead after a read error lands where it lands: in a gap the
// title goes on with its next cell, past its last cell it has ended.
TEST(SourceReader, SeekIntoAGapOrPastTheTitle) {
    for (bool prefill : {false, true}) {
        Fixture f("gap");
        f.title({cellOf(10, 19), cellOf(20, 29), cellOf(40, 44), cellOf(95, 104)});
        ASSERT_TRUE(f.reader.openSource(f.files, false, 0, 0, 1, false));
        f.reader.setPrefill(prefill);
        EXPECT_EQ(f.reader.seekSource(35), 0);
        EXPECT_EQ(f.reader.currentCell(), 2);
        EXPECT_EQ(f.reader.getCurrentSector(), 40);
        EXPECT_EQ(f.readAll(), cat({range(40, 44), range(95, 104)})) << prefill;
        EXPECT_EQ(f.reader.seekSource(50), 0);
        EXPECT_EQ(f.readAll(), range(95, 104)) << prefill;
        EXPECT_EQ(f.reader.seekSource(120), 0);  // in the files, past the title
        EXPECT_EQ(f.readAll(), std::vector<uint32_t>{}) << prefill;
        EXPECT_EQ(f.reader.seekSource(5), 0);
        EXPECT_EQ(f.readAll(), cat({range(10, 29), range(40, 44), range(95, 104)})) << prefill;
        EXPECT_TRUE(f.host.boxes.empty());
    }
}

TEST(SourceReader, PlainFilesPassThrough) {
    Fixture f("plain");
    ASSERT_TRUE(f.reader.openSource(f.files, false, 0, -1, 1, false));
    EXPECT_EQ(f.readAll(), range(0, 149));
    // One file: sectors beyond it fail the seek.
    SourceReader one(f.host, f.catalogue);
    ASSERT_TRUE(one.openSource({f.files[1]}, false, 0, -1, 1, false));
    EXPECT_EQ(one.seekSource(49), 0);
    EXPECT_EQ(one.seekSource(50), -1);
}

TEST(SourceReader, AngleChoice) {
    for (int angle : {0, 2, 5}) {
        Fixture f("angle");
        f.title({cellOf(0, 9), cellOf(10, 19, 0x31, 2.0), cellOf(20, 29, 0x32, 2.0),
                 cellOf(30, 39, 0x33, 2.0), cellOf(40, 49)});
        ASSERT_TRUE(f.reader.openSource(f.files, false, angle, 0, 1, false));
        const auto& cells = f.catalogue.titles[0].cells;
        if (angle == 2) {
            EXPECT_EQ(cells[1].vobId, 0);
            EXPECT_EQ(cells[1].cellId, 0);
            EXPECT_EQ(cells[1].duration, 0.0);
            EXPECT_EQ(cells[2].cellId, 20);
            EXPECT_EQ(cells[3].vobId, 0);
            EXPECT_EQ(cells[3].duration, 0.0);
            EXPECT_DOUBLE_EQ(f.catalogue.titles[0].duration, 4.0);
        } else {
            for (const auto& c : cells) EXPECT_NE(c.vobId, 0);
            EXPECT_DOUBLE_EQ(f.catalogue.titles[0].duration, 8.0);
        }
        EXPECT_EQ(cells[0].cellId, 0);  // first sector 0, so its id was 0 anyway
        EXPECT_EQ(cells[4].vobId, 1);
        EXPECT_EQ(f.readAll(), range(0, 49)) << angle;  // every cell is still read
    }
}

// Opening returns why it failed, for the caller to show once the reader has
// let go of its buffers; a seek in the middle of decoding tells it at once.
TEST(SourceReader, OpenFailures) {
    Fixture f("open-fail");
    f.title({cellOf(0, 9)});
    auto refusal = [&](const Status& opened) {
        EXPECT_FALSE(opened);
        EXPECT_FALSE(f.reader.isOpen());
        EXPECT_TRUE(f.host.boxes.empty()) << "the caller shows it";
        f.host.boxes.clear();
        return f.host.message(opened);
    };
    // A missing VOB in the middle of the set: the text names it.
    std::vector<std::string> files = {f.files[0], f.dir + "/VTS_01_9.VOB", f.files[1]};
    const Status missing = f.reader.openSource(files, false, 0, 0, 1, false);
    EXPECT_EQ(missing.kind(), BoxKind::Error);
    EXPECT_EQ(refusal(missing), "fio_open Fail!\r\n \"" + f.dir + "/VTS_01_9.VOB\"");

    const std::string temp = f.dir + "/no/such/dir/hdcache.dat";
    EXPECT_EQ(refusal(f.reader.openSource(f.files, false, 0, 0, 1, true, temp)),
              "Cannot open temporary file.");

    // A file shorter than one sector cannot be read from.
    testing::writeAll(f.dir + "/tiny", {1, 2, 3});
    EXPECT_EQ(refusal(f.reader.openSource({f.dir + "/tiny"}, false, 0, -1, 1, false)),
              "Unable to read from\r\n \"" + f.dir + "/tiny\"");

    // A title the catalogue does not have.
    EXPECT_EQ(refusal(f.reader.openSource(f.files, false, 0, 3, 1, false)),
              "Unable to open for input\r\n \"" + f.files[0] + "\"");
    EXPECT_FALSE(f.reader.isInitialised());

    // A file that vanishes after the open is reported at the seek into it.
    ASSERT_TRUE(f.reader.openSource(f.files, false, 0, 0, 1, false));
    fs::remove(f.files[1]);
    EXPECT_EQ(f.reader.seekSource(120), -1);
    ASSERT_EQ(f.host.boxes.size(), 1u);
    EXPECT_EQ(f.host.boxes[0].text, "Unable to read from \"" + f.files[1] + "\"");

    // Through the decoder's input the status is told as the open returns.
    f.host.boxes.clear();
    auto input = makeSourceReaderInput(f.reader);
    EXPECT_EQ(input->open(files, false, 0, 0, 1, false, {}), 0);
    ASSERT_EQ(f.host.boxes.size(), 1u);
    EXPECT_EQ(f.host.boxes[0].text, f.host.message(missing));
}

TEST(SourceReader, CancelDuringPrefillRestoresStatus) {
    std::string dir = testing::scratchDir("cancel");
    std::string big = dir + "/VTS_01_1.VOB";
    {
        std::ofstream out(big, std::ios::binary);
        out.seekp(12288LL * 2048 - 1);
        out.put(0);
    }
    TitleCatalogue catalogue;
    TitleRecord t;
    t.cells = {cellOf(0, 12287)};
    catalogue.titles = {t};
    RecordingHost host;
    SourceReader reader(host, catalogue);
    ASSERT_TRUE(reader.openSource({big}, false, 0, 0, 24, false));
    reader.setPrefill(1);
    reader.setIdleStatus("idle");
    int pumps = 0;
    host.onPump = [&] {
        if (++pumps == 3) reader.setCancel(1);
    };
    std::vector<uint8_t> buf(4096);
    EXPECT_EQ(reader.readSource(buf.data(), 4096), 0);
    EXPECT_EQ(pumps, 3);
    ASSERT_GE(host.statuses.size(), 3u);
    EXPECT_EQ(host.statuses[0], "Buffering vob file in RAM.");
    EXPECT_EQ(host.statuses[1], "Buffering vob file in RAM. [2 MB]");
    EXPECT_EQ(host.statuses.back(), "idle");
    EXPECT_EQ(host.progressRange, 100);
    EXPECT_EQ(host.progressPosition, 3072 * 100 / 12288);

    // Disk mode shows the other caption; without a cancel the whole title comes through.
    RecordingHost host2;
    SourceReader disk(host2, catalogue);
    ASSERT_TRUE(disk.openSource({big}, false, 0, 0, 24, true, dir + "/hdcache.dat"));
    disk.setPrefill(1);
    int64_t total = 0;
    for (;;) {
        int r = disk.readSource(buf.data(), 4096);
        if (r <= 0) break;
        total += r;
    }
    EXPECT_EQ(total, 12288LL * 2048);
    EXPECT_EQ(host2.statuses.front(), "Buffering vob file on HDD.");
}

TEST(SourceReader, ReopenAndDiscLayer) {
    Fixture f("reopen");
    f.title({cellOf(30, 39)});
    EXPECT_FALSE(f.reader.reopenSource());  // never opened
    ASSERT_TRUE(f.reader.openSource(f.files, true, 0, 0, 1, false));
    EXPECT_EQ(DiscLayer::references(), 1);
    std::vector<uint8_t> buf(2048);
    ASSERT_EQ(f.reader.readSource(buf.data(), 2048), 2048);
    f.reader.closeSource();
    EXPECT_EQ(DiscLayer::references(), 0);
    EXPECT_EQ(f.reader.readSource(buf.data(), 2048), 0);
    ASSERT_TRUE(f.reader.reopenSource());
    EXPECT_EQ(f.readAll(), range(30, 39));  // back at the title's first sector
    f.reader.closeSource();

    // The layer missing at reopen: the user decides.
    DiscLayer::setAvailableForTesting(false);
    f.host.answers = {BoxAnswer::No};
    EXPECT_FALSE(f.reader.reopenSource());
    ASSERT_EQ(f.host.boxes.size(), 1u);
    EXPECT_EQ(f.host.boxes[0].kind, BoxKind::Question);
    f.host.answers = {BoxAnswer::Yes};
    EXPECT_TRUE(f.reader.reopenSource());
    EXPECT_EQ(f.readAll(), range(30, 39));
    // Missing at open: plain files, no question.
    f.host.boxes.clear();
    EXPECT_TRUE(f.reader.openSource(f.files, true, 0, 0, 1, false));
    EXPECT_TRUE(f.host.boxes.empty());
    DiscLayer::setAvailableForTesting(true);
    f.reader.closeSource();
    EXPECT_EQ(DiscLayer::references(), 0);
}

}  // namespace
}  // namespace zembra

namespace zembra {
namespace {

// A title set past 4 GiB: sparse files of 1 GiB each, cells near the end.
TEST(SourceReader, SectorsBeyondFourGigabytes) {
    std::string dir = testing::scratchDir("large");
    const int64_t fileSectors = 524288;  // 1 GiB
    std::vector<std::string> files;
    for (int i = 0; i < 5; ++i) {
        std::string name = dir + "/VTS_01_" + std::to_string(i + 1) + ".VOB";
        std::FILE* f = std::fopen(name.c_str(), "wb");
        ASSERT_TRUE(f);
        // Numbered sectors at the end of each file and at the start of the next.
        for (int64_t s : {fileSectors - 2, fileSectors - 1, int64_t(0), int64_t(1)}) {
            uint32_t absolute = uint32_t(i * fileSectors + s);
            std::vector<uint8_t> sector(2048, uint8_t(absolute));
            sector[0] = uint8_t(absolute >> 24);
            sector[1] = uint8_t(absolute >> 16);
            sector[2] = uint8_t(absolute >> 8);
            sector[3] = uint8_t(absolute);
            ASSERT_EQ(fseeko(f, off_t(s) * 2048, SEEK_SET), 0);
            ASSERT_EQ(std::fwrite(sector.data(), 1, 2048, f), 2048u);
        }
        ASSERT_EQ(ftruncate(fileno(f), off_t(fileSectors) * 2048), 0);
        std::fclose(f);
        files.push_back(name);
    }
    TitleCatalogue catalogue;
    TitleRecord t;
    uint32_t fourthEnd = uint32_t(4 * fileSectors - 2);  // sector 2097150, past 4 GiB of bytes
    t.cells = {cellOf(fourthEnd, fourthEnd + 3),
               cellOf(uint32_t(2 * fileSectors - 1), uint32_t(2 * fileSectors))};
    catalogue.titles = {t};
    RecordingHost host;
    SourceReader reader(host, catalogue);
    ASSERT_TRUE(reader.openSource(files, false, 0, 0, 1, false));
    EXPECT_EQ(reader.getSectorsBefore(), 3 * fileSectors);
    std::vector<uint32_t> got;
    std::vector<uint8_t> buf(2048);
    while (reader.readSource(buf.data(), 2048) == 2048)
        got.push_back(testing::sectorNumber(buf.data()));
    EXPECT_EQ(got,
              (std::vector<uint32_t>{fourthEnd, fourthEnd + 1, fourthEnd + 2, fourthEnd + 3,
                                     uint32_t(2 * fileSectors - 1), uint32_t(2 * fileSectors)}));
    EXPECT_EQ(reader.seekSource(5 * fileSectors - 1), 0);
    EXPECT_EQ(reader.seekSource(5 * fileSectors), -1);
    EXPECT_TRUE(host.boxes.empty());
}

}  // namespace
}  // namespace zembra

namespace zembra {
namespace {

TEST(SourceReader, FileGoneAtACellGapIsToldAsTheReadMeetsIt) {
    Fixture f("gap-gone");
    f.title({cellOf(0, 9), cellOf(120, 129)});
    ASSERT_TRUE(f.reader.openSource(f.files, false, 0, 0, 1, false));
    fs::remove(f.files[1]);
    const auto got = f.readAll();
    ASSERT_EQ(f.host.boxes.size(), 1u);
    EXPECT_EQ(f.host.boxes[0].text, "Unable to read from \"" + f.files[1] + "\"");
    // The first cell and nothing after it: not the sectors that follow it
    // in the first file, which belong to no cell of the title.
    EXPECT_EQ(got, range(0, 9));
}

}  // namespace
}  // namespace zembra
