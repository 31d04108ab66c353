// UDF lookup, disc device commands and source files over plain files, lists
// and disc images.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "dvd/disc_device.h"
#include "dvd/source_file.h"
#include "dvd/stream_format.h"
#include "dvd/title_set.h"
#include "test_support.h"

namespace zembra {
namespace {

namespace fs = std::filesystem;

std::string isoDisc() { return testing::makeDisc("udf-basic", "--pal --ac3 --seconds 2 --iso"); }

std::vector<uint8_t> readWhole(SourceFile& f) {
    std::vector<uint8_t> out;
    for (;;) {
        auto c = f.takeChunk(2048);
        if (c.length <= 0) break;
        out.insert(out.end(), c.data, c.data + c.length);
    }
    return out;
}

TEST(DString, Decoding) {
    const uint8_t eight[] = {8, 'V', 'I', 'D'};
    const uint8_t sixteen[] = {16, 0x01, 'V', 0x00, 'T', 0x30, '_'};
    const uint8_t other[] = {9, 'A', 'B'};
    EXPECT_EQ(udfDecodeDString(eight, sizeof eight), "VID");
    EXPECT_EQ(udfDecodeDString(sixteen, sizeof sixteen), "VT_");  // low bytes; odd tail dropped
    EXPECT_EQ(udfDecodeDString(other, sizeof other), "");
    EXPECT_EQ(udfDecodeDString(eight, 0), "");
}

TEST(DiscDevice, ReadCommandsCarryAtMost32Blocks) {
    std::string dir = testing::scratchDir("device");
    testing::writeNumberedSectors(dir + "/img", 0, 300);
    DiscDevice dev;
    ASSERT_TRUE(dev.open(dir + "/img"));
    uint32_t last = 0, length = 0;
    ASSERT_TRUE(dev.readCapacity(last, length));
    EXPECT_EQ(last, 299u);
    EXPECT_EQ(length, 2048u);
    std::vector<uint8_t> buf(100 * 2048);
    uint64_t before = dev.commandsIssued();
    ASSERT_TRUE(dev.read10(150, 100, buf.data()));
    EXPECT_EQ(dev.commandsIssued() - before, 4u);  // 32 + 32 + 32 + 4
    EXPECT_EQ(testing::sectorNumber(&buf[0]), 150u);
    EXPECT_EQ(testing::sectorNumber(&buf[99 * 2048]), 249u);
    EXPECT_FALSE(dev.read10(290, 20, buf.data()));  // past the end
    // Too small for a UDF volume: no anchor at block 256.
    EXPECT_FALSE(udfOpenVolume(dev).has_value());
}

TEST(Udf, ImageFilesEqualFolderFiles) {
    std::string disc = isoDisc();
    ZEMBRA_REQUIRE_DISC(disc);
    std::string iso = disc + "/disc.iso";
    DiscDevice dev;
    ASSERT_TRUE(dev.open(iso));
    auto volume = udfOpenVolume(dev);
    ASSERT_TRUE(volume.has_value());
    EXPECT_EQ(volume->volumeId, "ZEMBRA_TEST");
    auto entries = udfListDirectory(dev, "/VIDEO_TS");
    int compared = 0;
    for (const auto& e : fs::directory_iterator(disc + "/VIDEO_TS")) {
        std::string name = e.path().filename().string();
        bool listed = false;
        for (const auto& u : entries) listed |= u.name == name && !u.directory;
        EXPECT_TRUE(listed) << name;
        auto f = SourceFile::open(iso + ":/VIDEO_TS/" + name, true);
        ASSERT_TRUE(f) << name;
        EXPECT_EQ(readWhole(*f), testing::readAll(e.path().string())) << name;
        ++compared;
    }
    EXPECT_GE(compared, 5);
    // Names are matched without regard to case, separators may be either kind.
    auto lower = SourceFile::open(iso + ":\\video_ts\\vts_01_0.ifo", true);
    ASSERT_TRUE(lower);
    EXPECT_EQ(readWhole(*lower), testing::readAll(disc + "/VIDEO_TS/VTS_01_0.IFO"));
    // Without the disc layer in use an image is still reached through it.
    EXPECT_TRUE(SourceFile::open(iso + ":/VIDEO_TS/VTS_01_0.IFO", false));
    EXPECT_FALSE(SourceFile::open(iso + ":/VIDEO_TS/VTS_09_0.IFO", true));
    EXPECT_FALSE(SourceFile::open(iso + ":/AUDIO_TS/VTS_01_0.IFO", true));
}

TEST(Udf, DamagedImagesGiveNotFound) {
    std::string disc = isoDisc();
    ZEMBRA_REQUIRE_DISC(disc);
    const auto image = testing::readAll(disc + "/disc.iso");
    std::string dir = testing::scratchDir("udf-damage");
    std::string path = dir + "/bad.iso";
    auto locate = [&](const std::vector<uint8_t>& bytes) {
        testing::writeAll(path, bytes);
        return openDrivePath(path + ":/VIDEO_TS/VTS_01_1.VOB").has_value();
    };
    ASSERT_TRUE(locate(image));

    // The VOB's own file entry with allocation descriptor type 3.
    {
        auto dev = std::make_shared<DiscDevice>();
        ASSERT_TRUE(dev->open(disc + "/disc.iso"));
        auto volume = udfOpenVolume(*dev);
        ASSERT_TRUE(volume);
        uint32_t icb = 0;
        for (const auto& e : udfListDirectory(*dev, "/VIDEO_TS"))
            if (e.name == "VTS_01_1.VOB") icb = e.icbLocation;
        ASSERT_NE(icb, 0u);
        auto bytes = image;
        bytes[size_t(volume->partitionStart + icb) * 2048 + 34] |= 3;
        EXPECT_FALSE(locate(bytes));
    }

    // Garbage over the descriptors, with and without the tags they need.
    std::mt19937 rng(7);
    for (int round = 0; round < 40; ++round) {
        auto bytes = image;
        uint32_t block = round < 20 ? 16 + uint32_t(round) * 15 : uint32_t(rng() % 400);
        uint32_t blocks = 1 + rng() % 8;
        for (uint32_t b = block; b < block + blocks && (b + 1) * 2048 <= bytes.size(); ++b) {
            uint8_t* p = &bytes[size_t(b) * 2048];
            uint16_t tag = uint16_t(p[0] | (p[1] << 8));
            for (int i = 0; i < 2048; ++i) p[i] = uint8_t(rng());
            if (round % 2) {
                p[0] = uint8_t(tag);  // keep the tag, damage everything else
                p[1] = uint8_t(tag >> 8);
            }
        }
        locate(bytes);  // found or not, never a crash or a read outside a buffer
    }
    EXPECT_FALSE(locate(std::vector<uint8_t>(image.begin(), image.begin() + 200 * 2048)));
    std::vector<uint8_t> noise(600 * 2048);
    for (auto& b : noise) b = uint8_t(rng());
    EXPECT_FALSE(locate(noise));
}

TEST(SourceFile, ListSkipsMissingFilesAndShortBlocksEndAFile) {
    std::string dir = testing::scratchDir("list");
    testing::writeNumberedSectors(dir + "/a", 0, 20);  // 32768 + a short block of 8192
    testing::writeNumberedSectors(dir + "/b", 20, 3);
    testing::writeNumberedSectors(dir + "/c", 23, 16);  // exactly one block
    auto f = SourceFile::open(
        SourceFile::listName({dir + "/a", dir + "/missing", dir + "/b", dir + "/c"}));
    ASSERT_TRUE(f);
    EXPECT_TRUE(f->isList());
    EXPECT_EQ(f->listCount(), 4);
    std::vector<uint32_t> sectors;
    std::vector<int> files;
    for (;;) {
        auto c = f->takeChunk(2048);
        if (c.length <= 0) break;
        ASSERT_EQ(c.length, 2048);
        sectors.push_back(testing::sectorNumber(c.data));
        files.push_back(f->currentIndex());
    }
    ASSERT_EQ(sectors.size(), 39u);
    for (uint32_t i = 0; i < 39; ++i) EXPECT_EQ(sectors[i], i);
    EXPECT_EQ(files[19], 0);
    EXPECT_EQ(files[20], 2);
    EXPECT_EQ(files[38], 3);

    // Reopening a list entry and seeking in it.
    ASSERT_TRUE(f->openListEntry(2));
    ASSERT_EQ(f->seek(2 * 2048, SourceFile::Origin::Start), 2 * 2048);
    auto c = f->takeChunk(2048);
    ASSERT_EQ(c.length, 2048);
    EXPECT_EQ(testing::sectorNumber(c.data), 22u);
    EXPECT_EQ(testing::sectorNumber(f->takeChunk(2048).data), 23u);  // runs on into the next file
    EXPECT_FALSE(f->openListEntry(1));

    EXPECT_FALSE(SourceFile::open(dir + "/missing"));
    EXPECT_FALSE(SourceFile::open(":"));
    EXPECT_FALSE(SourceFile::open(dir));  // a folder is not a file

    // Chunks are handed out up to what the block holds.
    auto single = SourceFile::open(dir + "/b");
    ASSERT_TRUE(single);
    EXPECT_EQ(single->size(), 3u * 2048);
    EXPECT_EQ(single->takeChunk(5000).length, 5000);
    auto rest = single->takeChunk(5000);
    EXPECT_EQ(rest.length, 3 * 2048 - 5000);
    EXPECT_TRUE(single->endOfData());
    EXPECT_EQ(single->takeChunk(10).length, 0);
}

TEST(ProgramStream, PackStuffingAndPackets) {
    std::vector<uint8_t> pack(2048, 0);
    const uint8_t header[] = {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04, 0x00, 0x04,
                              0x01, 0x01, 0x89, 0xC3, 0xFB, 0xFF, 0xFF, 0xFF};  // stuffing 3
    std::memcpy(pack.data(), header, sizeof header);
    // Private stream 1, PTS 0x1_2345_6789, AC-3 sub-stream 0x81.
    const uint64_t pts = 0x123456789ull;
    const uint8_t packet[] = {0x00,
                              0x00,
                              0x01,
                              0xBD,
                              0x00,
                              0x0C,
                              0x81,
                              0x80,
                              0x05,
                              uint8_t(0x21 | ((pts >> 29) & 0x0E)),
                              uint8_t(pts >> 22),
                              uint8_t(((pts >> 14) & 0xFE) | 1),
                              uint8_t(pts >> 7),
                              uint8_t(((pts << 1) & 0xFE) | 1),
                              0x81,
                              0xAA,
                              0xBB,
                              0xCC};
    std::memcpy(pack.data() + 17, packet, sizeof packet);
    const uint8_t padding[] = {0x00, 0x00, 0x01, 0xBE, 0x00, 0x02, 0xFF, 0xFF};
    std::memcpy(pack.data() + 17 + sizeof packet, padding, sizeof padding);
    EXPECT_EQ(ps::packStuffingLength(pack[13]), 3);
    std::vector<ps::PacketView> seen;
    ASSERT_TRUE(ps::forEachPacket(pack.data(), pack.size(),
                                  [&](const ps::PacketView& p) { seen.push_back(p); }));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].streamId, ps::kPrivateStream1);
    EXPECT_TRUE(seen[0].hasPts);
    EXPECT_EQ(seen[0].pts, pts);
    EXPECT_EQ(ps::timestampToMs(pts), int64_t(pts / 90));
    ASSERT_EQ(seen[0].payloadLength, 4u);
    EXPECT_TRUE(ps::isAc3(seen[0].payload[0]));
    EXPECT_EQ(seen[1].streamId, ps::kPaddingStream);
    EXPECT_EQ(seen[1].payloadLength, 2u);
    // A packet longer than the pack is refused.
    pack[17 + 5] = 0xFF;
    pack[17 + 4] = 0xFF;
    EXPECT_FALSE(ps::forEachPacket(pack.data(), pack.size(), [](const ps::PacketView&) {}));
}

}  // namespace
}  // namespace zembra

namespace zembra {
namespace {

TEST(TitleSets, FolderNamesInEitherCase) {
    std::string dir = testing::scratchDir("title-sets");
    fs::create_directories(dir + "/video_ts");
    testing::writeAll(dir + "/video_ts/vts_02_0.ifo", std::vector<uint8_t>(2048));
    testing::writeNumberedSectors(dir + "/video_ts/vts_02_1.vob", 0, 1);
    testing::writeNumberedSectors(dir + "/video_ts/VTS_02_2.VOB", 1, 1);
    testing::writeNumberedSectors(dir + "/video_ts/vts_02_4.vob", 2, 1);  // after a gap: not part
    testing::writeAll(dir + "/video_ts/VTS_01_0.IFO", std::vector<uint8_t>(2048));
    testing::writeAll(dir + "/video_ts/VIDEO_TS.IFO", std::vector<uint8_t>(2048));
    auto sets = findTitleSets(dir);
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[0].number, 1);
    EXPECT_TRUE(sets[0].vobs.empty());
    EXPECT_EQ(sets[1].number, 2);
    ASSERT_EQ(sets[1].vobs.size(), 2u);
    EXPECT_EQ(fs::path(sets[1].vobs[1]).filename(), "VTS_02_2.VOB");
    auto one = findTitleSets(dir + "/video_ts/vts_02_0.ifo");
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].vobs, sets[1].vobs);
    EXPECT_TRUE(findTitleSets(dir + "/nothing").empty());
}

}  // namespace
}  // namespace zembra
