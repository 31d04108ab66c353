// The MPEG writer: opening checks and their messages, piece naming, every fed
// picture coded, and whole program streams through ffmpeg.

#include "encoder/mpeg_writer.h"

#include <algorithm>

#include "encoder/layer2/layer2_encoder.h"
#include "encoder/presets.h"
#include "venc_support.h"

namespace zembra::venctest {
namespace {

MpegOpenArgs args(const fs::path& out, int mpegStream, int w, int h, double fps, int kbps,
                  int frames) {
    MpegOpenArgs a;
    a.outputPath = out.string();
    a.mpegStream = mpegStream;
    a.frameCount = frames;
    a.width = w;
    a.height = h;
    a.vbv = mpegStream == 0 ? 20 : 112;
    a.videoKbps = kbps;
    a.audioBitRate = 10;
    a.frameRate = fps;
    a.overwrite = true;
    a.cpu = 0;
    return a;
}

TEST(MpegWriterOpen, ChecksInOrderWithTheirMessages) {
    fs::path dir = workDir("open");
    struct Case {
        const char* what;
        void (*change)(MpegOpenArgs&);
        const char* key;
    };
    const Case cases[] = {
        {"chroma", [](MpegOpenArgs& a) { a.chromaCode = 2; }, "STR_ERROR_348"},
        {"width 360", [](MpegOpenArgs& a) { a.width = 360; }, "STR_ERROR_349"},
        {"3DNow", [](MpegOpenArgs& a) { a.cpu = 1; }, "STR_ERROR_350"},
        {"SSE2 release", [](MpegOpenArgs& a) { a.cpu = 2; }, "STR_ERROR_351"},
        {"rate", [](MpegOpenArgs& a) { a.frameRate = 20; }, "STR_ERROR_352"},
        // Sides beyond what the sequence header can state.
        {"MPEG-1 4096 wide",
         [](MpegOpenArgs& a) {
             a.mpegStream = 0;
             a.width = 4096;
         },
         "STR_ERROR_OutputTooLarge"},
        {"MPEG-2 16384 high", [](MpegOpenArgs& a) { a.height = 16384; },
         "STR_ERROR_OutputTooLarge"},
        // A side whose low 12 bits are 0, which MPEG-2 forbids (MPEG-1 stops
        // at 4095 anyway).
        {"MPEG-2 4096 wide", [](MpegOpenArgs& a) { a.width = 4096; }, "STR_ERROR_OutputSide4096"},
        {"MPEG-2 8192 high", [](MpegOpenArgs& a) { a.height = 8192; }, "STR_ERROR_OutputSide4096"},
        // The first failing check wins: a bad chroma code before a bad size.
        {"both",
         [](MpegOpenArgs& a) {
             a.chromaCode = 0;
             a.width = 100;
         },
         "STR_ERROR_348"},
    };
    for (const Case& c : cases) {
        testing::RecordingHost host;
        MpegWriter w(host);
        MpegOpenArgs a = args(dir / "x.mpg", 1, 352, 288, 25, 2000, 10);
        c.change(a);
        const Status opened = w.openMpeg(a);
        EXPECT_FALSE(opened.ok()) << c.what;
        EXPECT_EQ(opened.kind(), BoxKind::Error) << c.what;
        EXPECT_EQ(opened.key(), c.key) << c.what;
        EXPECT_TRUE(host.boxes.empty()) << c.what;
    }
}

TEST(MpegWriterOpen, AcceptsSizesAndAsksAboutVbvAndOverwrite) {
    fs::path dir = workDir("open2");
    {
        testing::RecordingHost host;
        MpegWriter w(host);
        EXPECT_TRUE(w.openMpeg(args(dir / "a.mpg", 0, 352, 240, 29.97, 1150, 10)));
        EXPECT_TRUE(host.boxes.empty());
        (void)w.closeMpeg();
        EXPECT_TRUE(w.openMpeg(args(dir / "b.mpg", 1, 720, 576, 25, 6000, 10)));
        (void)w.closeMpeg();
    }
    {
        // MPEG-1 with another VBV size asks; No fails, Yes keeps the size.
        testing::RecordingHost host;
        MpegWriter w(host);
        MpegOpenArgs a = args(dir / "c.mpg", 0, 352, 288, 25, 1150, 10);
        a.vbv = 40;
        EXPECT_FALSE(w.openMpeg(a));
        ASSERT_EQ(host.boxes.size(), 1u);
        EXPECT_EQ(host.boxes[0].kind, BoxKind::Question);
        EXPECT_EQ(host.boxes[0].text, host.text("STR_ERROR_102"));
        host.answers.push_back(BoxAnswer::Yes);
        EXPECT_TRUE(w.openMpeg(a));
        EXPECT_EQ(w.params().vbvSize, 40);
        (void)w.closeMpeg();
    }
    {
        // An existing file without overwrite asks first.
        fs::path existing = dir / "exists.mpg";
        writeFile(existing, {1, 2, 3});
        testing::RecordingHost host;
        MpegWriter w(host);
        MpegOpenArgs a = args(existing, 1, 352, 288, 25, 2000, 10);
        a.overwrite = false;
        EXPECT_FALSE(w.openMpeg(a));
        ASSERT_EQ(host.boxes.size(), 1u);
        EXPECT_EQ(host.boxes[0].kind, BoxKind::Question);
        EXPECT_EQ(host.boxes[0].text.rfind(existing.string(), 0), 0u);
        EXPECT_NE(host.boxes[0].text.find(host.text("STR_ERROR_406")), std::string::npos);
    }
}

TEST(MpegWriterOpen, PulldownOnlyAt23976) {
    fs::path dir = workDir("pulldown");
    testing::RecordingHost host;
    MpegWriter w(host);
    MpegOpenArgs a = args(dir / "p.mpg", 1, 352, 288, 25, 2000, 10);
    a.pulldown = true;
    EXPECT_TRUE(w.openMpeg(a));
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, host.text("STR_ERROR_353"));
    EXPECT_FALSE(w.params().pulldown);
    EXPECT_EQ(w.params().rate.frameRateCode, 3);
    (void)w.closeMpeg();
    a.frameRate = 23.976;
    EXPECT_TRUE(w.openMpeg(a));
    EXPECT_TRUE(w.params().pulldown);
    (void)w.closeMpeg();
}

// The sound follows the stream's layout and the AudioBitRate list: the
// SVCD layout keeps the 27 MHz remainder of its time stamps, and entry 10
// is Layer II index 11, 224 kbit/s.
TEST(MpegWriterOpen, SoundSettingsFollowTheLayoutAndTheRateList) {
    fs::path dir = workDir("sound");
    for (int mpegStream : {0, 1}) {
        testing::RecordingHost host;
        MpegWriter w(host);
        ASSERT_TRUE(w.openMpeg(args(dir / "s.mpg", mpegStream, 352, 288, 25, 2000, 10)));
        const Layer2Settings ls = layer2SettingsOf(w.params());
        EXPECT_EQ(ls.layout, mpegStream ? MuxLayout::Svcd : MuxLayout::Vcd);
        EXPECT_EQ(Layer2Encoder::bitrateKbps(ls.bitrateIndex), 224);
        (void)w.closeMpeg();
    }
}

TEST(MpegWriterPieces, NamesOfLaterPieces) {
    EXPECT_EQ(MpegWriter::pieceName("c:\\out\\film.mpg", 2), "c:\\out\\film_02.mpg");
    EXPECT_EQ(MpegWriter::pieceName("/out/film.mpg", 3), "/out/film_03.mpg");
    EXPECT_EQ(MpegWriter::pieceName("/out/film", 2), "/out/film_02.mpg");
    EXPECT_EQ(MpegWriter::pieceName("/o.d/film.x.mpg", 12), "/o.d/film.x_12.mpg");
    EXPECT_EQ(MpegWriter::pieceName("/a.b/film", 2), "/a.b/film_02.mpg");
    EXPECT_EQ(MpegWriter::pieceName("c:\\a.b\\film", 2), "c:\\a.b\\film_02.mpg");
}

// Feeding n pictures codes all n, including the ones still waiting for their
// B-picture partners when the piece ends.
TEST(MpegWriterPieces, EveryFedPictureIsCoded) {
    fs::path dir = workDir("count");
    for (int n : {1, 2, 10, 11, 12, 13, 14, 15, 16}) {
        testing::RecordingHost host;
        MpegWriter w(host);
        ASSERT_TRUE(w.openMpeg(args(dir / "n.mpg", 1, 176, 144, 25, 800, n)));
        std::vector<std::int16_t> pcm(3528, 0);
        for (int i = 0; i < n; ++i) {
            Picture p = synthetic(176, 144, i);
            ASSERT_TRUE(w.writeMpegFrame(p.y.data(), p.u.data(), p.v.data(), pcm.data(), 3528));
        }
        (void)w.closeMpeg();
        EXPECT_EQ(static_cast<int>(w.video().pictures().size()), n);
        if (haveTool("ffprobe")) {
            std::string count = runOutput(
                "ffprobe -v error -select_streams v -count_frames -show_entries "
                "stream=nb_read_frames -of csv=p=0 '" +
                (dir / "n.mpg").string() + "'");
            EXPECT_EQ(std::atoi(count.c_str()), n) << "fed " << n;
        }
    }
}

TEST(MpegWriterPieces, MorePicturesThanAnnouncedStop) {
    fs::path dir = workDir("limit");
    testing::RecordingHost host;
    MpegWriter w(host);
    ASSERT_TRUE(w.openMpeg(args(dir / "l.mpg", 0, 176, 144, 25, 600, 4)));
    std::vector<std::int16_t> pcm(3528, 0);
    Picture p = synthetic(176, 144, 0);
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(w.writeMpegFrame(p.y.data(), p.u.data(), p.v.data(), pcm.data(), 3528));
    EXPECT_FALSE(w.writeMpegFrame(p.y.data(), p.u.data(), p.v.data(), pcm.data(), 3528));
    EXPECT_FALSE(w.isOpen());
    EXPECT_TRUE(w.frameCountReached());
    // An unknown length (0) sets no limit.
    ASSERT_TRUE(w.openMpeg(args(dir / "l.mpg", 0, 176, 144, 25, 600, 0)));
    EXPECT_FALSE(w.frameCountReached());
    for (int i = 0; i < 6; ++i)
        ASSERT_TRUE(w.writeMpegFrame(p.y.data(), p.u.data(), p.v.data(), pcm.data(), 3528));
    (void)w.closeMpeg();
    EXPECT_EQ(static_cast<int>(w.video().pictures().size()), 6);
    // Too many samples for one picture stop too.
    ASSERT_TRUE(w.openMpeg(args(dir / "l.mpg", 0, 176, 144, 25, 600, 4)));
    std::vector<std::int16_t> flood(100002, 0);
    EXPECT_FALSE(w.writeMpegFrame(p.y.data(), p.u.data(), p.v.data(), flood.data(), 100002));
    EXPECT_TRUE(host.sawText(host.text("STR_ERROR_354")));
}

// A bit rate no VCD decoder buffer can carry: pictures larger than the
// buffer never leave the video store, which runs full. The bits after that
// are lost, so the piece fails (it was taken for a success, with a stream
// ffprobe could not even name).
TEST(MpegWriterPieces, AStoreRunFullFailsThePiece) {
    fs::path dir = workDir("storefull");
    testing::RecordingHost host;
    MpegWriter w(host);
    ASSERT_TRUE(w.openMpeg(args(dir / "f.mpg", 0, 352, 288, 25, 100000, 60)));
    std::vector<std::int16_t> pcm(3528, 0);
    int taken = 0;
    for (int i = 0; i < 60; ++i) {
        Picture p = synthetic(352, 288, i, 7);
        if (!w.writeMpegFrame(p.y.data(), p.u.data(), p.v.data(), pcm.data(), 3528)) break;
        ++taken;
    }
    EXPECT_LT(taken, 60) << "every picture taken";
    EXPECT_FALSE(w.isOpen());
    EXPECT_TRUE(host.sawText(host.text("STR_ERROR_333")));
}

TEST(MpegWriterPieces, SplitsIntoNumberedPiecesThatAllDecode) {
    ZEMBRA_REQUIRE_TOOL("ffprobe");
    fs::path dir = workDir("split");
    fs::remove(dir / "film_02.mpg");
    testing::RecordingHost host;
    MpegWriter w(host);
    ASSERT_TRUE(w.openMpeg(args(dir / "film.mpg", 1, 176, 144, 25, 1000, 40)));
    std::vector<std::int16_t> pcm(3528, 0);
    for (int i = 0; i < 40; ++i) {
        Picture p = synthetic(176, 144, i);
        ASSERT_TRUE(w.writeMpegFrame(p.y.data(), p.u.data(), p.v.data(), pcm.data(), 3528));
        if (i == 16) {
            ASSERT_TRUE(w.nextMpegPiece());
        }
    }
    (void)w.closeMpeg();
    auto frames = [&](const fs::path& f) {
        return std::atoi(runOutput("ffprobe -v error -select_streams v -count_frames "
                                   "-show_entries stream=nb_read_frames -of csv=p=0 '" +
                                   f.string() + "'")
                             .c_str());
    };
    EXPECT_EQ(frames(dir / "film.mpg"), 17);
    EXPECT_EQ(frames(dir / "film_02.mpg"), 23);
}

// A split that falls on the last picture leaves a piece nothing is fed to:
// closing it makes no empty file and shows no message.
TEST(MpegWriterPieces, PieceWithoutPicturesLeavesNoFile) {
    fs::path dir = workDir("emptypiece");
    fs::remove(dir / "e_02.mpg");
    testing::RecordingHost host;
    MpegWriter w(host);
    ASSERT_TRUE(w.openMpeg(args(dir / "e.mpg", 0, 176, 144, 25, 600, 5)));
    std::vector<std::int16_t> pcm(3528, 0);
    for (int i = 0; i < 5; ++i) {
        Picture p = synthetic(176, 144, i);
        ASSERT_TRUE(w.writeMpegFrame(p.y.data(), p.u.data(), p.v.data(), pcm.data(), 3528));
    }
    ASSERT_TRUE(w.nextMpegPiece());
    (void)w.closeMpeg();
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_FALSE(fs::exists(dir / "e_02.mpg"));
    const auto bytes = readFile(dir / "e.mpg");
    ASSERT_GT(bytes.size(), 2324u);
    EXPECT_EQ(bytes.size() % 2324, 0u);
}

}  // namespace
}  // namespace zembra::venctest
