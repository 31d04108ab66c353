// The RIFF layer alone: AVI 1.0 structure, OpenDML past the RIFF limit, and
// what a write failure leaves behind, read back by our walker and by ffmpeg.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "avi/riff/avi_file.h"
#include "avi/riff/le_buffer.h"
#include "riff_test_support.h"
#include "support/temp_dir.h"

namespace zembra::avi::riff {
namespace {

using zembra::testing::FileSizeLimit;
using zembra::testing::probeStreams;
using zembra::testing::readRiff;
using zembra::testing::RiffChunk;
using zembra::testing::TempDir;

constexpr int kW = 64, kH = 48;

std::vector<uint8_t> bitmapHeader(int w, int h) {
    LeBuffer b;
    b.u32(40);
    b.u32(uint32_t(w));
    b.u32(uint32_t(h));
    b.u16(1);
    b.u16(24);
    b.u32(0);
    b.u32(uint32_t(w * h * 3));
    b.zeros(16);
    return b.bytes();
}

std::vector<uint8_t> pcmFormat() {
    LeBuffer b;
    b.u16(1);
    b.u16(2);
    b.u32(44100);
    b.u32(176400);
    b.u16(4);
    b.u16(16);
    b.u16(0);
    return b.bytes();
}

// A video stream of kW x kH RGB24 at 25 fps and a PCM stream, `frames` frames
// of each written interleaved; key frames as keyOf says.
struct TestMovie {
    int video = -1, audio = -1;
    int framesWritten = 0;

    bool open(AviFile& f, const std::string& path) {
        if (!f.open(path)) return false;
        StreamHeader v;
        v.fccType = fourcc("vids");
        v.fccHandler = fourcc("DIB ");
        v.scale = 1000;
        v.rate = 25000;
        video = f.createStream(v);
        StreamHeader a;
        a.fccType = fourcc("auds");
        a.scale = 4;
        a.rate = 176400;
        a.sampleSize = 4;
        a.name = "Audio Stream";
        audio = f.createStream(a);
        return video == 0 && audio == 1 && f.setFormat(video, bitmapHeader(kW, kH)) &&
               f.setFormat(audio, pcmFormat());
    }
    bool writeFrame(AviFile& f, bool key = true) {
        auto pic = zembra::testing::testPicture(kW, kH, framesWritten);
        auto pcm = zembra::testing::testTone(44100, framesWritten * 1764, 1764);
        if (!f.write(video, pic.data(), pic.size(), 1, key)) return false;
        if (!f.write(audio, pcm.data(), pcm.size() * 2, 1764, false)) return false;
        ++framesWritten;
        return true;
    }
};

std::vector<uint8_t> topDown(const std::vector<uint8_t>& bottomUp, int w, int h) {
    std::vector<uint8_t> out(bottomUp.size());
    size_t row = size_t(w) * 3;
    for (int y = 0; y < h; ++y)
        std::copy_n(bottomUp.begin() + std::ptrdiff_t((h - 1 - y) * row), row,
                    out.begin() + std::ptrdiff_t(y * row));
    return out;
}

TEST(RiffFile, PlainAviHasHeadersAndIndexOfEveryChunk) {
    TempDir dir;
    std::string path = (dir / "plain.avi").string();
    AviFile f;
    TestMovie m;
    ASSERT_TRUE(m.open(f, path));
    for (int i = 0; i < 30; ++i) ASSERT_TRUE(m.writeFrame(f, i % 10 == 0));
    ASSERT_TRUE(f.close());

    RiffChunk root = readRiff(path);
    ASSERT_EQ(root.children.size(), 1u) << "one RIFF while under the limit";
    const RiffChunk& riff = root.children[0];
    EXPECT_EQ(riff.type(), "AVI ");
    EXPECT_EQ(uint64_t(riff.size) + 8, std::filesystem::file_size(path));
    const RiffChunk* avih = riff.first("avih");
    ASSERT_TRUE(avih);
    EXPECT_EQ(avih->u32(0), 40000u);  // microseconds per frame
    EXPECT_EQ(avih->u32(12) & 0x10, 0x10u) << "AVIF_HASINDEX";
    EXPECT_EQ(avih->u32(16), 30u);
    EXPECT_EQ(avih->u32(24), 2u);
    EXPECT_EQ(avih->u32(32), uint32_t(kW));
    EXPECT_EQ(avih->u32(36), uint32_t(kH));
    auto strh = riff.all("strh");
    ASSERT_EQ(strh.size(), 2u);
    EXPECT_EQ(strh[0]->u32(20), 1000u);   // scale
    EXPECT_EQ(strh[0]->u32(24), 25000u);  // rate
    EXPECT_EQ(strh[0]->u32(32), 30u);     // length
    EXPECT_EQ(strh[1]->u32(32), 30u * 1764);
    EXPECT_EQ(strh[1]->u32(44), 4u);  // sample size
    const RiffChunk* strn = riff.first("strn");
    ASSERT_TRUE(strn);
    EXPECT_EQ(std::string(strn->data.begin(), strn->data.end() - 1), "Audio Stream");
    EXPECT_EQ(riff.all("indx").size(), 0u) << "AVI 1.0 keeps the indx room as JUNK";
    EXPECT_EQ(riff.all("odml").size(), 0u);

    const RiffChunk* movi = riff.first("movi");
    ASSERT_TRUE(movi);
    ASSERT_EQ(movi->children.size(), 60u);
    EXPECT_EQ(movi->children[0].name(), "00dc");
    EXPECT_EQ(movi->children[1].name(), "01wb");
    const RiffChunk* idx1 = riff.first("idx1");
    ASSERT_TRUE(idx1);
    ASSERT_EQ(idx1->size, 60u * 16);
    for (int i = 0; i < 60; ++i) {
        const RiffChunk& c = movi->children[size_t(i)];
        EXPECT_EQ(idx1->u32(16 * i), c.id);
        bool video = i % 2 == 0;
        bool key = !video || (i / 2) % 10 == 0;
        EXPECT_EQ(idx1->u32(16 * i + 4), key ? 0x10u : 0u) << "entry " << i;
        EXPECT_EQ(movi->offset + 8 + idx1->u32(16 * i + 8), c.offset) << "entry " << i;
        EXPECT_EQ(idx1->u32(16 * i + 12), c.size);
    }
}

TEST(RiffFile, PlainAviDecodesWithFfmpeg) {
    ZEMBRA_REQUIRE_TOOL("ffprobe");
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    TempDir dir;
    std::string path = (dir / "plain.avi").string();
    AviFile f;
    TestMovie m;
    ASSERT_TRUE(m.open(f, path));
    for (int i = 0; i < 40; ++i) ASSERT_TRUE(m.writeFrame(f));
    ASSERT_TRUE(f.close());

    auto p = probeStreams(path, true);
    EXPECT_EQ(p["error"], "");
    EXPECT_EQ(p["0.codec_name"], "rawvideo");
    EXPECT_EQ(p["0.r_frame_rate"], "25/1");
    EXPECT_EQ(p["0.nb_read_frames"], "40");
    EXPECT_EQ(p["1.codec_name"], "pcm_s16le");
    EXPECT_EQ(p["1.sample_rate"], "44100");
    EXPECT_EQ(zembra::testing::decodeErrors(path), "");

    std::string raw = zembra::testing::runCapture("ffmpeg -nostdin -v error -i '" + path +
                                                  "' -f rawvideo -pix_fmt bgr24 -");
    ASSERT_EQ(raw.size(), size_t(40) * kW * kH * 3);
    for (int i : {0, 17, 39}) {
        auto want = topDown(zembra::testing::testPicture(kW, kH, i), kW, kH);
        EXPECT_EQ(raw.compare(size_t(i) * want.size(), want.size(),
                              std::string(want.begin(), want.end())),
                  0)
            << "frame " << i;
    }
    std::string pcm = zembra::testing::runCapture("ffmpeg -nostdin -v error -i '" + path +
                                                  "' -map 0:a -f s16le -");
    auto tone = zembra::testing::testTone(44100, 0, 40 * 1764);
    ASSERT_EQ(pcm.size(), tone.size() * 2);
    EXPECT_EQ(std::memcmp(pcm.data(), tone.data(), pcm.size()), 0);
}

TEST(RiffFile, OpenDmlPastTheRiffLimit) {
    TempDir dir;
    std::string path = (dir / "big.avi").string();
    const uint64_t limit = 256 * 1024;
    AviFile f(limit);
    TestMovie m;
    ASSERT_TRUE(m.open(f, path));
    const int frames = 150;
    for (int i = 0; i < frames; ++i) ASSERT_TRUE(m.writeFrame(f, i % 15 == 0));
    int riffs = f.riffCount();
    ASSERT_TRUE(f.close());
    ASSERT_GT(riffs, 5);

    RiffChunk root = readRiff(path);
    ASSERT_EQ(int(root.children.size()), riffs);
    uint64_t total = 0;
    for (size_t r = 0; r < root.children.size(); ++r) {
        const RiffChunk& riff = root.children[r];
        EXPECT_EQ(riff.name(), "RIFF");
        EXPECT_EQ(riff.type(), r == 0 ? "AVI " : "AVIX");
        EXPECT_LE(riff.size + 8u, limit);
        EXPECT_EQ(riff.first("idx1") != nullptr, r == 0) << "idx1 in the first RIFF only";
        total += riff.size + 8u;
    }
    EXPECT_EQ(total, std::filesystem::file_size(path));

    const RiffChunk& first = root.children[0];
    auto indx = first.all("indx");
    ASSERT_EQ(indx.size(), 2u);
    const RiffChunk* dmlh = first.first("dmlh");
    ASSERT_TRUE(dmlh);
    EXPECT_EQ(dmlh->u32(0), uint32_t(frames));
    auto strh = first.all("strh");
    EXPECT_EQ(strh[0]->u32(32), uint32_t(frames)) << "strh counts every frame";
    const RiffChunk* movi0 = first.first("movi");
    uint32_t firstRiffFrames = 0;
    for (const auto& c : movi0->children) firstRiffFrames += c.name() == "00dc";
    EXPECT_EQ(first.first("avih")->u32(16), firstRiffFrames) << "avih: frames of the first RIFF";

    // Every super index entry points at an ix chunk whose entries point at
    // the chunks of its RIFF; together they cover every frame once.
    for (int s = 0; s < 2; ++s) {
        const RiffChunk& sup = *indx[size_t(s)];
        EXPECT_EQ(sup.u16(0), 4);
        EXPECT_EQ(sup.data[3], 0);  // index of indexes
        uint32_t used = sup.u32(4);
        EXPECT_EQ(int(used), riffs);
        uint64_t chunks = 0, duration = 0;
        for (uint32_t e = 0; e < used; ++e) {
            uint64_t at = sup.u64(24 + 16 * e);
            uint32_t size = sup.u32(32 + 16 * e);
            duration += sup.u32(36 + 16 * e);
            const RiffChunk* ix = nullptr;
            for (const auto& riff : root.children)
                for (const auto* c : riff.all(s == 0 ? "ix00" : "ix01"))
                    if (c->offset == at) ix = c;
            ASSERT_TRUE(ix) << "stream " << s << " entry " << e;
            EXPECT_EQ(ix->size + 8, size);
            EXPECT_EQ(ix->data[3], 1);  // index of chunks
            uint32_t n = ix->u32(4);
            uint64_t base = ix->u64(12);
            const RiffChunk* movi = nullptr;
            for (const auto& riff : root.children)
                if (riff.first("movi")->offset + 8 == base) movi = riff.first("movi");
            ASSERT_TRUE(movi);
            size_t k = 0;
            for (uint32_t j = 0; j < n; ++j) {
                uint32_t off = ix->u32(24 + 8 * j), sz = ix->u32(28 + 8 * j);
                while (k < movi->children.size() && movi->children[k].offset + 8 != base + off) ++k;
                ASSERT_LT(k, movi->children.size()) << "entry " << j << " points at no chunk";
                EXPECT_EQ(movi->children[k].name(), s == 0 ? "00dc" : "01wb");
                EXPECT_EQ(sz & 0x7fffffff, movi->children[k].size);
                if (s == 0) {
                    bool key = (chunks + j) % 15 == 0;
                    EXPECT_EQ((sz & 0x80000000u) == 0, key) << "frame " << chunks + j;
                }
            }
            chunks += n;
        }
        EXPECT_EQ(chunks, uint64_t(frames));
        EXPECT_EQ(duration, s == 0 ? uint64_t(frames) : uint64_t(frames) * 1764);
    }
}

TEST(RiffFile, OpenDmlReadsWholeInFfmpeg) {
    ZEMBRA_REQUIRE_TOOL("ffprobe");
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    TempDir dir;
    std::string path = (dir / "big.avi").string();
    AviFile f(200 * 1024);
    TestMovie m;
    ASSERT_TRUE(m.open(f, path));
    const int frames = 120;
    for (int i = 0; i < frames; ++i) ASSERT_TRUE(m.writeFrame(f));
    ASSERT_TRUE(f.close());

    auto p = probeStreams(path, true);
    EXPECT_EQ(p["error"], "");
    EXPECT_EQ(p["0.nb_read_frames"], std::to_string(frames));
    EXPECT_EQ(zembra::testing::decodeErrors(path), "");
    std::string raw = zembra::testing::runCapture("ffmpeg -nostdin -v error -i '" + path +
                                                  "' -f rawvideo -pix_fmt bgr24 -");
    ASSERT_EQ(raw.size(), size_t(frames) * kW * kH * 3);
    auto last = topDown(zembra::testing::testPicture(kW, kH, frames - 1), kW, kH);
    EXPECT_EQ(raw.substr(raw.size() - last.size()), std::string(last.begin(), last.end()));
    std::string pcm = zembra::testing::runCapture("ffmpeg -nostdin -v error -i '" + path +
                                                  "' -map 0:a -f s16le -");
    EXPECT_EQ(pcm.size(), size_t(frames) * 1764 * 4);
}

TEST(RiffFile, WriteFailureIsReportedAndWhatWasWrittenStaysReadable) {
    TempDir dir;
    std::string path = (dir / "limited.avi").string();
    int written = 0;
    {
        FileSizeLimit limit(300 * 1000);
        AviFile f;
        TestMovie m;
        ASSERT_TRUE(m.open(f, path));
        while (written < 1000 && m.writeFrame(f)) ++written;
        EXPECT_TRUE(f.failed());
        EXPECT_EQ(f.lastError(), EFBIG);
        EXPECT_FALSE(f.write(0, "x", 1, 1, true)) << "nothing more after a failure";
        EXPECT_FALSE(f.close());
    }
    ASSERT_GT(written, 5);
    ASSERT_LT(written, 1000);
    RiffChunk root = readRiff(path);
    ASSERT_EQ(root.children.size(), 1u);
    EXPECT_EQ(uint64_t(root.children[0].size) + 8, std::filesystem::file_size(path));
    const RiffChunk* movi = root.children[0].first("movi");
    ASSERT_TRUE(movi);
    uint32_t frames = 0;
    for (const auto& c : movi->children) frames += c.name() == "00dc";
    // The frame whose sound did not fit still counts as a video chunk.
    EXPECT_GE(frames, uint32_t(written));
    EXPECT_LE(frames, uint32_t(written + 1));
    EXPECT_EQ(root.children[0].first("strh")->u32(32), frames);

    if (zembra::testing::haveTool("ffprobe")) {
        auto p = probeStreams(path, true);
        EXPECT_EQ(p["0.nb_read_frames"], std::to_string(frames));
        EXPECT_EQ(zembra::testing::decodeErrors(path), "");
    }
}

TEST(RiffFile, OpenInMissingFolderFails) {
    TempDir dir;
    AviFile f;
    EXPECT_FALSE(f.open((dir / "no/such/folder.avi").string()));
    EXPECT_NE(f.lastError(), 0);
    EXPECT_TRUE(f.close());
}

TEST(RiffFile, EmptyFileIsStillAValidAvi) {
    TempDir dir;
    std::string path = (dir / "empty.avi").string();
    AviFile f;
    TestMovie m;
    ASSERT_TRUE(m.open(f, path));
    ASSERT_TRUE(f.close());
    RiffChunk root = readRiff(path);
    ASSERT_EQ(root.children.size(), 1u);
    EXPECT_EQ(uint64_t(root.children[0].size) + 8, std::filesystem::file_size(path));
    ASSERT_TRUE(root.children[0].first("idx1"));
    EXPECT_EQ(root.children[0].first("idx1")->size, 0u);
}

}  // namespace
}  // namespace zembra::avi::riff
