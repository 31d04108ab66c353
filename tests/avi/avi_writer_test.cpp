// AviWriter: naming of pieces, the WAV export, frame limit and cancel, the
// overwrite question, codec choice and description, compressor messages, and
// files read back by ffprobe/ffmpeg.

#include "avi/avi_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "avi/codecs/mp3_library.h"
#include "riff_test_support.h"
#include "support/recording_host.h"
#include "support/temp_dir.h"

namespace zembra::avi {
namespace {

using zembra::testing::FileSizeLimit;
using zembra::testing::probeStreams;
using zembra::testing::readRiff;
using zembra::testing::RecordingHost;
using zembra::testing::RiffChunk;
using zembra::testing::TempDir;

constexpr int kW = 64, kH = 48;
constexpr int kSamplesPerFrame = 1764;  // 44100 / 25

const std::string kExists = "  already exists. \r\nOverwrite the file ?";

bool mp3Available() {
    auto& lib = Mp3Library::instance();
    auto v = lib.values();
    lib.load(v.bitRate, v.stereo, v.quality, v.lowpass, v.highpass);
    return lib.loaded();
}

#define REQUIRE_MP3()                                                   \
    do {                                                                \
        if (!mp3Available()) {                                          \
            if (std::getenv("CI")) FAIL() << "libmp3lame.so.0 missing"; \
            GTEST_SKIP() << "libmp3lame.so.0 missing";                  \
        }                                                               \
    } while (0)

// Opens with the built-in uncompressed RGB compressor.
Status openRgb(AviWriter& w, const std::string& path, int audioType, int frameLimit = 10000,
               double fps = 25.0, bool overwrite = false, int passIndex = 0) {
    return w.openAvi(path, frameLimit, kW, kH, fps, overwrite, audioType, true, kExportRgb24,
                     passIndex, kTypeVideo, kHandlerDib, {});
}

bool writeFrames(AviWriter& w, int first, int count) {
    for (int i = first; i < first + count; ++i) {
        auto pic = zembra::testing::testPicture(kW, kH, i);
        auto pcm = zembra::testing::testTone(44100, i * kSamplesPerFrame, kSamplesPerFrame);
        if (!w.writeAviFrame(pic.data(), pcm.data(), int(pcm.size()))) return false;
    }
    return true;
}

uint32_t le32(const std::string& bytes, size_t at) {
    uint32_t v;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
}

TEST(AviWriterNames, PiecesAreNumberedFromTwo) {
    EXPECT_EQ(AviWriter::baseName("/out/movie.avi"), "/out/movie");
    EXPECT_EQ(AviWriter::baseName("/out/my.film.avi"), "/out/my.film");
    EXPECT_EQ(AviWriter::baseName("/out.d/movie"), "/out.d/movie");
    EXPECT_EQ(AviWriter::pieceName("/out/movie", 1, "avi"), "/out/movie.avi");
    EXPECT_EQ(AviWriter::pieceName("/out/movie", 3, "avi"), "/out/movie_03.avi");
    EXPECT_EQ(AviWriter::pieceName("/out/movie", 12, "wav"), "/out/movie_12.wav");
}

TEST(AviWriterNames, FrameRatesInTheStreamHeader) {
    EXPECT_EQ(AviWriter::videoRate(25.0), 25000u);
    EXPECT_EQ(AviWriter::videoRate(30000.0 / 1001), 29970u);
    EXPECT_EQ(AviWriter::videoRate(29.97002997), 29970u);
    EXPECT_EQ(AviWriter::videoRate(24000.0 / 1001), 23976u);
    EXPECT_EQ(AviWriter::videoRate(24.0), 24000u);
}

TEST(AviWriter, ThirdPieceAndItsWavAreNumbered) {
    TempDir dir;
    RecordingHost host;
    AviWriter w(host);
    ASSERT_TRUE(openRgb(w, (dir / "movie.avi").string(), kAudioWav));
    ASSERT_TRUE(writeFrames(w, 0, 3));
    ASSERT_TRUE(w.nextAviPiece());
    EXPECT_EQ(w.aviPath(), (dir / "movie_02.avi").string());
    ASSERT_TRUE(writeFrames(w, 3, 4));
    ASSERT_TRUE(w.nextAviPiece());
    EXPECT_EQ(w.pieceNumber(), 3);
    EXPECT_EQ(w.aviPath(), (dir / "movie_03.avi").string());
    EXPECT_EQ(w.wavPath(), (dir / "movie_03.wav").string());
    ASSERT_TRUE(writeFrames(w, 7, 5));
    EXPECT_TRUE(w.closeAvi());
    EXPECT_TRUE(host.boxes.empty());

    int frames[] = {3, 4, 5};
    const char* names[] = {"movie", "movie_02", "movie_03"};
    for (int p = 0; p < 3; ++p) {
        std::string avi = (dir / (std::string(names[p]) + ".avi")).string();
        std::string wav = (dir / (std::string(names[p]) + ".wav")).string();
        ASSERT_TRUE(std::filesystem::exists(avi)) << avi;
        RiffChunk root = readRiff(avi);
        ASSERT_EQ(root.children.size(), 1u);
        EXPECT_EQ(root.children[0].all("strh").size(), 1u) << "WAV export: no sound in the AVI";
        EXPECT_EQ(root.children[0].first("strh")->u32(32), uint32_t(frames[p]));
        std::string bytes = TempDir::read(wav);
        uint32_t n = uint32_t(frames[p] * kSamplesPerFrame);
        ASSERT_EQ(bytes.size(), 44 + 4 * size_t(n));
        EXPECT_EQ(le32(bytes, 4), 4 * n + 36);
        EXPECT_EQ(le32(bytes, 40), 4 * n);
        EXPECT_EQ(bytes.compare(0, 4, "RIFF"), 0);
        EXPECT_EQ(le32(bytes, 24), 44100u);
        EXPECT_EQ(le32(bytes, 28), 176400u);
        auto tone = zembra::testing::testTone(44100, 0, 1);
        if (p == 0) {
            EXPECT_EQ(std::memcmp(bytes.data() + 44, tone.data(), 4), 0);
        }
    }
}

TEST(AviWriter, WavExportReadsBackInFfprobe) {
    ZEMBRA_REQUIRE_TOOL("ffprobe");
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    TempDir dir;
    RecordingHost host;
    AviWriter w(host);
    ASSERT_TRUE(openRgb(w, (dir / "movie.avi").string(), kAudioWav));
    ASSERT_TRUE(writeFrames(w, 0, 25));
    EXPECT_TRUE(w.closeAvi());
    std::string wav = (dir / "movie.wav").string();
    auto p = probeStreams(wav);
    EXPECT_EQ(p["0.codec_name"], "pcm_s16le");
    EXPECT_EQ(p["0.sample_rate"], "44100");
    EXPECT_EQ(p["0.channels"], "2");
    EXPECT_EQ(p["0.duration"], "1.000000");
}

TEST(AviWriter, WavExportRefuses48kHz) {
    TempDir dir;
    RecordingHost host;
    AviWriter w(host);
    w.setAudioOutputRate(48000);
    const Status refused = openRgb(w, (dir / "movie.avi").string(), kAudioWav);
    EXPECT_FALSE(refused);
    EXPECT_TRUE(host.boxes.empty()) << "the refusal is the caller's to show";
    host.show(refused);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].kind, BoxKind::Error);
    EXPECT_EQ(host.boxes[0].text, "Cannot output 48KHz wave file. (Use 44.1KHz conversion).");
    EXPECT_FALSE(std::filesystem::exists(dir / "movie.wav"));
    EXPECT_FALSE(std::filesystem::exists(dir / "movie.avi"));  // no empty AVI left behind
    (void)w.closeAvi();
}

TEST(AviWriter, FrameLimitAndCancelCloseThePiece) {
    TempDir dir;
    RecordingHost host;
    AviWriter w(host);
    std::string path = (dir / "limit.avi").string();
    ASSERT_TRUE(openRgb(w, path, kAudioNone, 100));
    ASSERT_TRUE(writeFrames(w, 0, 100));
    EXPECT_TRUE(w.isOpen());
    EXPECT_FALSE(writeFrames(w, 100, 1)) << "the 101st frame";
    EXPECT_FALSE(w.isOpen());
    EXPECT_EQ(readRiff(path).children.at(0).first("strh")->u32(32), 100u);
    EXPECT_TRUE(host.boxes.empty());

    CancelToken cancel;
    w.setCancelFlag(&cancel);
    ASSERT_TRUE(openRgb(w, (dir / "cancel.avi").string(), kAudioNone));
    ASSERT_TRUE(writeFrames(w, 0, 7));
    cancel.request();
    EXPECT_FALSE(writeFrames(w, 7, 1));
    EXPECT_FALSE(w.isOpen());
    EXPECT_EQ(readRiff((dir / "cancel.avi").string()).children.at(0).first("avih")->u32(16), 7u);
    // Closing pumps messages and asks not to kill the program meanwhile.
    EXPECT_GT(host.pumps, 0);
    EXPECT_NE(std::find(host.statuses.begin(), host.statuses.end(),
                        "Releasing AVI file. Please wait and do not kill the application...."),
              host.statuses.end());
}

// A piece that got no frame is no output: its AVI and WAV go, while a piece
// with frames stays, and a file the writer did not make is never touched.
TEST(AviWriter, PieceWithoutFramesLeavesNoFiles) {
    TempDir dir;
    RecordingHost host;
    AviWriter w(host);
    CancelToken cancel{true};
    w.setCancelFlag(&cancel);
    ASSERT_TRUE(openRgb(w, (dir / "stopped.avi").string(), kAudioWav));
    EXPECT_FALSE(writeFrames(w, 0, 1));
    EXPECT_FALSE(std::filesystem::exists(dir / "stopped.avi"));
    EXPECT_FALSE(std::filesystem::exists(dir / "stopped.wav"));

    cancel.clear();
    ASSERT_TRUE(openRgb(w, (dir / "split.avi").string(), kAudioWav));
    ASSERT_TRUE(writeFrames(w, 0, 3));
    ASSERT_TRUE(w.nextAviPiece());  // the title ends just as piece 2 begins
    EXPECT_TRUE(w.closeAvi());
    EXPECT_EQ(readRiff((dir / "split.avi").string()).children.at(0).first("avih")->u32(16), 3u);
    EXPECT_TRUE(std::filesystem::exists(dir / "split.wav"));
    EXPECT_FALSE(std::filesystem::exists(dir / "split_02.avi"));
    EXPECT_FALSE(std::filesystem::exists(dir / "split_02.wav"));

    // The user's WAV kept by answering No stays; the AVI made for the piece goes.
    dir.write("kept.wav", "old contents");
    host.answers = {BoxAnswer::No};
    EXPECT_FALSE(openRgb(w, (dir / "kept.avi").string(), kAudioWav));
    EXPECT_EQ(TempDir::read(dir / "kept.wav"), "old contents");
    EXPECT_FALSE(std::filesystem::exists(dir / "kept.avi"));
}

TEST(AviWriter, OverwriteQuestion) {
    TempDir dir;
    std::string path = (dir / "movie.avi").string();
    auto old = TempDir::read(dir.write("movie.avi", "old contents"));
    dir.write("movie_02.avi", "old contents");
    {
        RecordingHost host;  // answers No
        AviWriter w(host);
        EXPECT_FALSE(openRgb(w, path, kAudioNone));
        ASSERT_EQ(host.boxes.size(), 1u);
        EXPECT_EQ(host.boxes[0].kind, BoxKind::Question);
        EXPECT_EQ(host.boxes[0].text, path + " " + kExists);
        EXPECT_EQ(TempDir::read(path), "old contents") << "No keeps the file";
    }
    {
        RecordingHost host;
        host.answers = {BoxAnswer::Yes, BoxAnswer::No};
        AviWriter w(host);
        ASSERT_TRUE(openRgb(w, path, kAudioNone));
        ASSERT_TRUE(writeFrames(w, 0, 2));
        EXPECT_FALSE(w.nextAviPiece()) << "No for the second piece";
        EXPECT_EQ(host.boxes.size(), 2u);
        EXPECT_EQ(host.boxes[1].text, (dir / "movie_02.avi").string() + " " + kExists);
        EXPECT_NE(TempDir::read(path), "old contents");
        EXPECT_EQ(TempDir::read(dir / "movie_02.avi"), "old contents");
    }
    // OverWrite set, or any pass after the first: never asked.
    for (auto [overwrite, pass] : {std::pair{true, 0}, std::pair{false, 1}}) {
        RecordingHost host;
        AviWriter w(host);
        ASSERT_TRUE(openRgb(w, path, kAudioWav, 1000, 25.0, overwrite, pass));
        ASSERT_TRUE(writeFrames(w, 0, 2));
        ASSERT_TRUE(w.nextAviPiece());
        EXPECT_TRUE(w.closeAvi());
        EXPECT_TRUE(host.boxes.empty());
    }
    // The WAV of the export asks too.
    {
        RecordingHost host;
        host.answers = {BoxAnswer::Yes, BoxAnswer::No};
        AviWriter w(host);
        EXPECT_FALSE(openRgb(w, path, kAudioWav));
        ASSERT_EQ(host.boxes.size(), 2u);
        EXPECT_EQ(host.boxes[1].text, (dir / "movie.wav").string() + " " + kExists);
        EXPECT_FALSE(w.isOpen());
    }
}

TEST(AviWriter, RgbAndPcmReadBackAtTheirRates) {
    ZEMBRA_REQUIRE_TOOL("ffprobe");
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    TempDir dir;
    RecordingHost host;
    AviWriter w(host);
    ASSERT_TRUE(w.chooseAudioCodec(kAudioConverter, "PCM", 0));
    struct Case {
        double fps;
        const char* rate;
    };
    for (Case c : {Case{25.0, "25/1"}, Case{30000.0 / 1001, "2997/100"}}) {
        std::string path = (dir / ("rate" + std::string(c.rate, 2) + ".avi")).string();
        ASSERT_TRUE(openRgb(w, path, kAudioConverter, 10000, c.fps));
        ASSERT_TRUE(writeFrames(w, 0, 30));
        EXPECT_GT(w.getAviSizeMB(), 30 * (kW * kH * 3 + kSamplesPerFrame * 4) / 1048576.0 - 1e-9);
        ASSERT_TRUE(w.closeAvi());
        RiffChunk root = readRiff(path);
        auto strh = root.children.at(0).all("strh");
        ASSERT_EQ(strh.size(), 2u);
        EXPECT_EQ(strh[0]->u32(20), 1000u);
        EXPECT_EQ(strh[0]->u32(24), AviWriter::videoRate(c.fps));
        EXPECT_EQ(strh[1]->u32(20), 4u);       // scale = block align
        EXPECT_EQ(strh[1]->u32(24), 176400u);  // rate = bytes per second
        EXPECT_EQ(strh[1]->u32(32), 30u * kSamplesPerFrame);

        auto p = probeStreams(path, true);
        EXPECT_EQ(p["error"], "");
        EXPECT_EQ(p["0.codec_name"], "rawvideo");
        EXPECT_EQ(p["0.r_frame_rate"], c.rate);
        EXPECT_EQ(p["0.nb_read_frames"], "30");
        EXPECT_EQ(p["1.codec_name"], "pcm_s16le");
        EXPECT_EQ(zembra::testing::decodeErrors(path), "");
    }
    EXPECT_TRUE(host.boxes.empty());
}

TEST(AviWriter, Yuy2ExportThroughTheSequentialPath) {
    ZEMBRA_REQUIRE_TOOL("ffprobe");
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    TempDir dir;
    RecordingHost host;
    AviWriter w(host);
    std::string path = (dir / "yuy2.avi").string();
    ASSERT_TRUE(w.openAvi(path, 1000, kW, kH, 25.0, false, kAudioNone, true, kExportYuy2, 0,
                          kTypeVideo, kHandlerYuy2, {}));
    std::vector<uint8_t> pic(size_t(kW) * kH * 2, 0x80);
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(w.writeAviFrame(pic.data(), nullptr, 0));
    ASSERT_TRUE(w.closeAvi());
    auto p = probeStreams(path, true);
    EXPECT_EQ(p["0.codec_name"], "rawvideo");
    EXPECT_EQ(p["0.nb_read_frames"], "10");
    EXPECT_EQ(zembra::testing::decodeErrors(path), "");
    EXPECT_EQ(readRiff(path).children.at(0).first("idx1")->u32(4), 0x10u);
}

TEST(AviWriter, Mp3SoundIsFlushedAtTheEndOfEveryPiece) {
    ZEMBRA_REQUIRE_TOOL("ffprobe");
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    REQUIRE_MP3();
    TempDir dir;
    RecordingHost host;
    AviWriter w(host);
    w.chooseAudioCodec(kAudioMp3, 128, 1, 3, -1, -1);
    const int frames[] = {50, 37};
    ASSERT_TRUE(openRgb(w, (dir / "mp3.avi").string(), kAudioMp3));
    ASSERT_TRUE(writeFrames(w, 0, frames[0]));
    ASSERT_TRUE(w.nextAviPiece());
    ASSERT_TRUE(writeFrames(w, frames[0], frames[1]));
    ASSERT_TRUE(w.closeAvi());
    EXPECT_TRUE(host.boxes.empty());

    long delay = Mp3Library::instance().newEncoder(44100)->encoderDelay();
    const char* names[] = {"mp3.avi", "mp3_02.avi"};
    for (int i = 0; i < 2; ++i) {
        std::string path = (dir / names[i]).string();
        RiffChunk root = readRiff(path);
        const RiffChunk* strf = root.children.at(0).all("strf").at(1);
        EXPECT_EQ(strf->u16(0), 0x55);
        EXPECT_EQ(strf->size, 30u);
        EXPECT_EQ(strf->u32(8), 16000u);  // 128 / 8 x 1000

        auto p = probeStreams(path, true);
        EXPECT_EQ(p["error"], "");
        EXPECT_EQ(p["0.nb_read_frames"], std::to_string(frames[i]));
        EXPECT_EQ(p["1.codec_name"], "mp3");
        EXPECT_EQ(p["1.sample_rate"], "44100");
        EXPECT_EQ(zembra::testing::decodeErrors(path), "");
        std::string pcm = zembra::testing::runCapture("ffmpeg -nostdin -v error -i '" + path +
                                                      "' -map 0:a -f s16le -");
        // The decoded sound holds the encoder's delay, every sample given
        // and the last frame's padding: it never ends before the video (the
        // flushed tail is there) and ends within one video frame plus the
        // encoder delay after it.
        long decoded = long(pcm.size() / 4);
        long video = long(frames[i]) * kSamplesPerFrame;
        EXPECT_GE(decoded, video) << "the flushed tail is there";
        EXPECT_LE(decoded, video + kSamplesPerFrame + delay) << "decoded " << decoded;
        std::printf("piece %d: video %ld samples, decoded MP3 %ld samples (+%ld, delay %ld)\n",
                    i + 1, video, decoded, decoded - video, delay);
    }
}

TEST(AviWriter, Mp3ThroughTheAudioConverterAndOpenDml) {
    ZEMBRA_REQUIRE_TOOL("ffprobe");
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    REQUIRE_MP3();
    TempDir dir;
    RecordingHost host;
    AviWriter w(host);
    ASSERT_TRUE(w.chooseAudioCodec(kAudioConverter, "MP3", 128));
    std::string line1, line2;
    w.describeAudioCodec(kAudioConverter, line1, line2);
    EXPECT_EQ(line1, "ACM: MPEG Layer-3");
    EXPECT_EQ(line2, w.chosenAudioFormat()->description);
    w.setRiffLimit(100 * 1024);
    std::string path = (dir / "acm.avi").string();
    ASSERT_TRUE(openRgb(w, path, kAudioConverter));
    ASSERT_TRUE(writeFrames(w, 0, 60));
    ASSERT_TRUE(w.closeAvi());
    EXPECT_TRUE(host.boxes.empty());
    RiffChunk root = readRiff(path);
    EXPECT_GT(root.children.size(), 3u) << "RIFF AVIX extensions";
    // 128 kbit/s: 16000 bytes per second, 640 blocks of one byte per frame,
    // then the converter's flushed tail.
    uint32_t length = root.children[0].all("strh").at(1)->u32(32);
    EXPECT_GE(length, 60u * 640);
    EXPECT_LT(length, 60u * 640 + 7200);
    auto p = probeStreams(path, true);
    EXPECT_EQ(p["0.nb_read_frames"], "60");
    EXPECT_EQ(p["1.codec_name"], "mp3");
    EXPECT_EQ(zembra::testing::decodeErrors(path), "");
}

TEST(AviWriter, AudioChoiceAndDescriptions) {
    RecordingHost host;
    AviWriter w(host);
    std::string a, b;
    w.describeAudioCodec(kAudioNone, a, b);
    EXPECT_EQ(a, "Disabled");
    EXPECT_EQ(b, "");
    w.describeAudioCodec(kAudioWav, a, b);
    EXPECT_EQ(a, "WAV Export (not compressed)");
    EXPECT_EQ(b, "16Bits Stereo 44.1KHz");
    w.describeAudioCodec(kAudioConverter, a, b);
    EXPECT_EQ(a, "Not selected");
    EXPECT_EQ(b, "Not selected");
    w.describeAudioCodec(7, a, b);
    EXPECT_EQ(a + b, "");

    ASSERT_TRUE(w.chooseAudioCodec(kAudioConverter, "pcm", 0));
    w.describeAudioCodec(kAudioConverter, a, b);
    EXPECT_EQ(a, "ACM: PCM");
    EXPECT_FALSE(b.empty());
    // Choosing MP3 forgets the converter format.
    w.chooseAudioCodec(kAudioMp3, 160, 0, 2, 19000, -1);
    EXPECT_FALSE(w.chosenAudioFormat());
    w.describeAudioCodec(kAudioConverter, a, b);
    EXPECT_EQ(a, "Not selected");
    EXPECT_FALSE(w.chooseAudioCodec(kAudioConverter, "no such codec", 128));

    if (mp3Available()) {
        w.setAudioOutputRate(48000);
        w.describeAudioCodec(kAudioMp3, a, b);
        EXPECT_EQ(a, "Lame MP3 " + Mp3Library::instance().versionText());
        EXPECT_EQ(b, "160 Kb/s 48.0KHz 16Bits Q2");
    }
}

TEST(AviWriter, Mp3WithoutTheLibrary) {
    TempDir dir;
    RecordingHost host;
    AviWriter w(host);
    auto& lib = Mp3Library::instance();
    lib.setLibraryName("libzembra-no-such-lame.so");
    auto v = lib.values();
    lib.load(v.bitRate, v.stereo, v.quality, v.lowpass, v.highpass);
    std::string a, b;
    w.describeAudioCodec(kAudioMp3, a, b);
    EXPECT_EQ(a, "Lame library not loaded");
    EXPECT_EQ(b, "");
    const Status opened = openRgb(w, (dir / "x.avi").string(), kAudioMp3);
    lib.setLibraryName("libmp3lame.so.0");
    lib.load(v.bitRate, v.stereo, v.quality, v.lowpass, v.highpass);
    EXPECT_FALSE(opened);
    EXPECT_FALSE(w.isOpen());
    EXPECT_FALSE(std::filesystem::exists(dir / "x.avi"));
    EXPECT_TRUE(host.boxes.empty()) << "told once the piece is closed, by the caller";
    host.show(opened);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].kind, BoxKind::Error);
    EXPECT_EQ(host.boxes[0].text, "Lame library not loaded.");
}

// Boxes and status lines in the one order the user meets them.
class EventHost : public RecordingHost {
public:
    BoxAnswer messageBox(BoxKind kind, const std::string& text) override {
        events.push_back("box " + text);
        return RecordingHost::messageBox(kind, text);
    }
    void setStatus(const std::string& text) override {
        events.push_back("status " + text);
        RecordingHost::setStatus(text);
    }
    std::vector<std::string> events;
};

const std::string kReleasing =
    "status Releasing AVI file. Please wait and do not kill the application....";

// A LAME that fails (a stand-in library): its own words come as warnings
// where it said them, then the writer's message. A refusal at the start is
// returned once the piece (empty, so removed) is closed; a failure in the
// middle of a piece is told before the piece closes, which keeps what was
// written, and the same with the sound encoded beside the picture.
TEST(AviWriter, Mp3LibraryThatFails) {
    auto& lib = Mp3Library::instance();
    const Mp3Library::Values kept = lib.values();
    lib.setLibraryName(ZEMBRA_FAKE_LAME);
    auto useBitRate = [&](int kbps) {
        lib.load(kbps, kept.stereo, kept.quality, kept.lowpass, kept.highpass);
    };
    TempDir dir;
    {
        useBitRate(8);
        ASSERT_TRUE(lib.loaded());
        EventHost host;
        AviWriter w(host);
        const Status opened = openRgb(w, (dir / "refused.avi").string(), kAudioMp3);
        EXPECT_FALSE(w.isOpen());
        EXPECT_FALSE(std::filesystem::exists(dir / "refused.avi"));
        host.show(opened);
        EXPECT_EQ(host.events,
                  (std::vector<std::string>{"box fake lame: 8 kbps refused", kReleasing, "status ",
                                            "box Failed to initialize Lame."}));
        EXPECT_EQ(host.boxes.at(0).kind, BoxKind::Warning);
        EXPECT_EQ(host.boxes.at(1).kind, BoxKind::Error);
    }
    {
        useBitRate(16);  // complains, then works
        EventHost host;
        AviWriter w(host);
        const std::string path = (dir / "low.avi").string();
        ASSERT_TRUE(openRgb(w, path, kAudioMp3));
        EXPECT_EQ(host.events, (std::vector<std::string>{"box fake lame: 16 kbps is low"}));
        ASSERT_TRUE(writeFrames(w, 0, 3));
        EXPECT_TRUE(w.closeAvi());
        EXPECT_EQ(readRiff(path).children.at(0).first("avih")->u32(16), 3u);
    }
    for (bool beside : {false, true}) {
        SCOPED_TRACE(beside ? "sound thread" : "one thread");
        useBitRate(24);  // every encode fails
        EventHost host;
        AviWriter w(host);
        w.setSoundThread(beside);
        const std::string path = (dir / (beside ? "beside.avi" : "inline.avi")).string();
        ASSERT_TRUE(openRgb(w, path, kAudioMp3));
        EXPECT_FALSE(writeFrames(w, 0, 1));
        EXPECT_FALSE(w.isOpen());
        EXPECT_EQ(host.events,
                  (std::vector<std::string>{"box fake lame: cannot encode 1764 samples",
                                            "box Lame internal error.", kReleasing, "status "}));
        EXPECT_EQ(host.boxes.at(1).kind, BoxKind::Error);
        // The picture went in before its sound failed, and stays.
        EXPECT_EQ(readRiff(path).children.at(0).first("avih")->u32(16), 1u);
    }
    {
        useBitRate(32);  // the flush at the piece's end fails
        EventHost host;
        AviWriter w(host);
        const std::string path = (dir / "flush.avi").string();
        ASSERT_TRUE(openRgb(w, path, kAudioMp3));
        ASSERT_TRUE(writeFrames(w, 0, 2));
        EXPECT_FALSE(w.closeAvi());
        EXPECT_EQ(host.events, (std::vector<std::string>{kReleasing, "box fake lame: flush failed",
                                                         "box AVIStreamWrite failed.", "status "}));
        EXPECT_EQ(readRiff(path).children.at(0).first("avih")->u32(16), 2u);
    }
    lib.setLibraryName("");
    lib.load(kept.bitRate, kept.stereo, kept.quality, kept.lowpass, kept.highpass);
}

TEST(AviWriter, CodecMessages) {
    TempDir dir;
    std::string path = (dir / "c.avi").string();
    {
        RecordingHost host;
        AviWriter w(host);
        host.show(w.openAvi(path, 10, kW, kH, 25, true, kAudioConverter, true, kExportRgb24, 0,
                            kTypeVideo, kHandlerDib, {}));
        EXPECT_FALSE(w.isOpen());
        ASSERT_EQ(host.boxes.size(), 1u);
        EXPECT_EQ(host.boxes[0].kind, BoxKind::Warning);
        EXPECT_EQ(host.boxes[0].text, "Audio codec not selected.");
    }
    {
        RecordingHost host;
        AviWriter w(host);
        EXPECT_FALSE(w.openAvi(path, 10, kW, kH, 25, true, kAudioNone, true, kExportRgb24, 0,
                               kTypeVideo, fourcc("NONE"), {}));
        ASSERT_EQ(host.boxes.size(), 1u);
        EXPECT_EQ(host.boxes[0].kind, BoxKind::Error);
        EXPECT_EQ(host.boxes[0].text, "Video codec not selected.");
        EXPECT_FALSE(w.isOpen());
    }
    {
        RecordingHost host;
        AviWriter w(host);
        EXPECT_FALSE(w.openAvi(path, 10, kW, kH, 25, true, kAudioNone, true, kExportYuy2, 0,
                               kTypeVideo, kHandlerDib, {}));
        ASSERT_EQ(host.boxes.size(), 1u);
        EXPECT_EQ(host.boxes[0].text,
                  "Failed to initialise video codec. Check export format (YUY2,RGB).");
    }
    for (BoxAnswer answer : {BoxAnswer::No, BoxAnswer::Yes}) {
        RecordingHost host;
        host.answers = {answer};
        AviWriter w(host);
        bool opened = w.openAvi(path, 10, kW, kH, 25, true, kAudioNone, true, kExportRgb24, 0,
                                kTypeVideo, kHandlerDib, {1, 2, 3})
                          .ok();
        EXPECT_EQ(opened, answer == BoxAnswer::Yes);
        ASSERT_EQ(host.boxes.size(), 1u);
        EXPECT_EQ(host.boxes[0].kind, BoxKind::Question);
        EXPECT_EQ(host.boxes[0].text,
                  "Wrong settings block for AVI video codec. \r\nThis happens when you don't "
                  "configure the video codec. \r\nContinue ?");
        (void)w.closeAvi();
    }
    {
        RecordingHost host;
        AviWriter w(host);
        EXPECT_FALSE(openRgb(w, (dir / "no/such/folder/x.avi").string(), kAudioNone));
        ASSERT_EQ(host.boxes.size(), 1u);
        EXPECT_EQ(host.boxes[0].kind, BoxKind::Warning);
        EXPECT_EQ(host.boxes[0].text,
                  "Cannot open AVI file. Check that the directory exists \r\nand that the file "
                  "is not used by another program.");
        EXPECT_FALSE(w.isOpen());
    }
}

TEST(AviWriter, CompressorListAndConfiguration) {
    RecordingHost host;
    AviWriter w(host);
    std::vector<CompressorInfo> list;
    int n = w.listVideoCompressors(kW, kH, kExportRgb24, list);
    ASSERT_EQ(n, int(list.size()));
    auto has = [&](uint32_t handler) {
        return std::any_of(list.begin(), list.end(),
                           [&](const CompressorInfo& c) { return c.fccHandler == handler; });
    };
    EXPECT_TRUE(has(kHandlerDib));
    EXPECT_FALSE(has(kHandlerYuy2)) << "YUY2 takes no RGB";
    w.listVideoCompressors(kW, kH, kExportYuy2, list);
    EXPECT_TRUE(has(kHandlerYuy2));
    EXPECT_FALSE(has(kHandlerDib));

    std::vector<uint8_t> state = {9, 9};
    EXPECT_TRUE(w.configureVideoCompressor(kTypeVideo, kHandlerDib, state, ""));
    EXPECT_TRUE(state.empty()) << "the uncompressed compressor has no settings";
    EXPECT_FALSE(w.configureVideoCompressor(kTypeVideo, fourcc("NONE"), state, ""));
}

TEST(AviWriter, XvidKeyFramesComeFromTheCompressor) {
    ZEMBRA_REQUIRE_TOOL("ffprobe");
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    auto installed = installedVideoCompressors();
    if (std::none_of(installed.begin(), installed.end(),
                     [](const CompressorInfo& c) { return c.fccHandler == kHandlerXvid; })) {
        if (std::getenv("CI")) FAIL() << "libxvidcore.so.4 missing";
        GTEST_SKIP() << "libxvidcore.so.4 missing";
    }
    TempDir dir;
    RecordingHost host;
    AviWriter w(host);
    std::vector<uint8_t> state;
    ASSERT_TRUE(w.configureVideoCompressor(kTypeVideo, kHandlerXvid, state, "keyint=10"));
    std::string path = (dir / "xvid.avi").string();
    ASSERT_TRUE(w.openAvi(path, 1000, kW, kH, 25.0, false, kAudioNone, true, kExportRgb24, 0,
                          kTypeVideo, kHandlerXvid, state));
    ASSERT_TRUE(writeFrames(w, 0, 40));
    ASSERT_TRUE(w.closeAvi());
    EXPECT_TRUE(host.boxes.empty());
    RiffChunk root = readRiff(path);
    const RiffChunk* idx1 = root.children.at(0).first("idx1");
    ASSERT_TRUE(idx1);
    ASSERT_EQ(idx1->size, 40u * 16);
    int keys = 0;
    for (int i = 0; i < 40; ++i) keys += (idx1->u32(16 * i + 4) & 0x10) != 0;
    EXPECT_EQ(idx1->u32(4) & 0x10, 0x10u) << "the first frame is a key frame";
    EXPECT_GE(keys, 4);
    EXPECT_LT(keys, 40) << "delta frames are not flagged";
    EXPECT_EQ(root.children[0].first("strh")->u32(4), kHandlerXvid);
    auto p = probeStreams(path, true);
    EXPECT_EQ(p["0.codec_name"], "mpeg4");
    EXPECT_EQ(p["0.nb_read_frames"], "40");
    EXPECT_EQ(zembra::testing::decodeErrors(path), "");
    // ffmpeg's own view of the key frames agrees with the index.
    std::string flags = zembra::testing::runCapture(
        "ffprobe -v error -show_entries packet=flags -of csv=p=0 '" + path + "'");
    EXPECT_EQ(std::count(flags.begin(), flags.end(), 'K'), keys);
}

TEST(AviWriter, WriteFailureStopsCleanly) {
    TempDir dir;
    std::string path = (dir / "full.avi").string();
    RecordingHost host;
    AviWriter w(host);
    ASSERT_TRUE(w.chooseAudioCodec(kAudioConverter, "PCM", 0));
    int written = 0;
    {
        FileSizeLimit limit(400 * 1000);
        ASSERT_TRUE(openRgb(w, path, kAudioConverter));
        while (written < 1000 && writeFrames(w, written, 1)) ++written;
    }
    EXPECT_FALSE(w.isOpen());
    ASSERT_GT(written, 10);
    ASSERT_LT(written, 1000);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].kind, BoxKind::Warning);
    EXPECT_EQ(host.boxes[0].text, "AVIStreamWrite failed.");
    RiffChunk root = readRiff(path);
    ASSERT_EQ(root.children.size(), 1u);
    EXPECT_EQ(uint64_t(root.children[0].size) + 8, std::filesystem::file_size(path));
    uint32_t frames = root.children[0].first("strh")->u32(32);
    EXPECT_GE(frames, uint32_t(written));
    EXPECT_LE(frames, uint32_t(written + 1));
    if (zembra::testing::haveTool("ffprobe")) {
        auto p = probeStreams(path, true);
        EXPECT_EQ(p["0.nb_read_frames"], std::to_string(frames));
        EXPECT_EQ(zembra::testing::decodeErrors(path), "");
    }
}

TEST(AviWriter, WavWriteFailureStopsCleanly) {
    TempDir dir;
    RecordingHost host;
    AviWriter w(host);
    int written = 0;
    {
        FileSizeLimit limit(200 * 1000);
        ASSERT_TRUE(openRgb(w, (dir / "w.avi").string(), kAudioWav));
        while (written < 1000 && writeFrames(w, written, 1)) ++written;
    }
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, "AVIStreamWrite failed.");
    std::string bytes = TempDir::read(dir / "w.wav");
    ASSERT_GE(bytes.size(), 44u);
    EXPECT_EQ(le32(bytes, 40), bytes.size() - 44) << "the sizes cover what was written";
    EXPECT_EQ(le32(bytes, 4), bytes.size() - 8);
}

// Uncompressed 720x576 RGB24 past 1.2 GiB: OpenDML keeps it whole.
TEST(AviWriterLong, OpenDmlPieceOver1_2GiB) {
    if (!std::getenv("ZEMBRA_LONG_TESTS")) GTEST_SKIP() << "set ZEMBRA_LONG_TESTS to run";
    ZEMBRA_REQUIRE_TOOL("ffprobe");
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    TempDir dir;
    RecordingHost host;
    AviWriter w(host);
    ASSERT_TRUE(w.chooseAudioCodec(kAudioConverter, "PCM", 0));
    // 1100 frames make 1.3 GB; ZEMBRA_LONG_AVI_FRAMES asks for more (3500
    // pass 4 GiB).
    const char* more = std::getenv("ZEMBRA_LONG_AVI_FRAMES");
    const int width = 720, height = 576, frames = more ? std::max(1100, std::atoi(more)) : 1100;
    std::string path = (dir / "big.avi").string();
    ASSERT_TRUE(w.openAvi(path, frames, width, height, 25.0, false, kAudioConverter, true,
                          kExportRgb24, 0, kTypeVideo, kHandlerDib, {}));
    for (int i = 0; i < frames; ++i) {
        auto pic = zembra::testing::testPicture(width, height, i);
        auto pcm = zembra::testing::testTone(44100, i * kSamplesPerFrame, kSamplesPerFrame);
        ASSERT_TRUE(w.writeAviFrame(pic.data(), pcm.data(), int(pcm.size()))) << i;
    }
    double mb = w.getAviSizeMB();
    ASSERT_TRUE(w.closeAvi());
    uint64_t size = std::filesystem::file_size(path);
    EXPECT_GT(size, uint64_t(1.2 * 1024 * 1024 * 1024));
    RiffChunk root = readRiff(path);
    std::printf("file %llu bytes (%.1f MiB written), %zu RIFFs\n", (unsigned long long)size, mb,
                root.children.size());
    EXPECT_EQ(root.children.size(), size / (1u << 30) + 1);
    EXPECT_EQ(root.children[0].first("dmlh")->u32(0), uint32_t(frames));

    auto p = probeStreams(path, true);
    EXPECT_EQ(p["error"], "");
    EXPECT_EQ(p["0.nb_read_frames"], std::to_string(frames));
    EXPECT_EQ(p["1.codec_name"], "pcm_s16le");
    std::string last = zembra::testing::runCapture(
        "ffmpeg -nostdin -v error -i '" + path + "' -map 0:v -vf select='eq(n\\," +
        std::to_string(frames - 1) + ")' -fps_mode passthrough -f rawvideo -pix_fmt bgr24 - 2>&1");
    auto want = zembra::testing::testPicture(width, height, frames - 1);
    ASSERT_EQ(last.size(), want.size());
    size_t row = size_t(width) * 3;
    for (int y = 0; y < height; y += 97)
        EXPECT_EQ(std::memcmp(last.data() + size_t(y) * row,
                              want.data() + size_t(height - 1 - y) * row, row),
                  0)
            << "row " << y;
    std::printf("ffprobe counted %s frames; last frame decoded\n", p["0.nb_read_frames"].c_str());
}

}  // namespace
}  // namespace zembra::avi
