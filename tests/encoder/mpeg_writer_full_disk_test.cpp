// The MPEG writer on a full disk, played by a file-size limit in a child
// process: every failed write reaches the caller (the picture that met it,
// or the close when it was the last sectors), and the piece that stays ends
// with its last whole sector, without the SVCD scan list beside it; a piece
// that got no picture data to the disk does not stay.

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "encoder/mpeg_writer.h"
#include "venc_support.h"

namespace zembra::venctest {
namespace {

constexpr int kPictures = 60;

enum Outcome { kWhole = 10, kRefusedPicture = 11, kCloseFailed = 12, kOpenFailed = 13 };

// Writes the stream into `out`, under `limitBytes` when it is not 0; the
// outcome is the child's exit status.
int writeUnderLimit(const fs::path& out, int mpegStream, rlim_t limitBytes, bool split,
                    bool videoOnly = false) {
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        if (limitBytes) {
            rlimit limit{limitBytes, limitBytes};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        testing::RecordingHost host;
        MpegWriter w(host);
        MpegOpenArgs a;
        a.outputPath = out.string();
        a.mpegStream = mpegStream;
        a.frameCount = kPictures;
        a.width = 352;
        a.height = 288;
        a.vbv = mpegStream == 0 ? 20 : 112;
        a.videoKbps = 2500;
        a.frameRate = 25;
        a.overwrite = true;
        a.videoOnly = videoOnly;
        if (!w.openMpeg(a)) _exit(kOpenFailed);
        std::vector<std::int16_t> pcm(3528, 0);
        for (int i = 0; i < kPictures; ++i) {
            Picture p = synthetic(352, 288, i, 7);
            if (!w.writeMpegFrame(p.y.data(), p.u.data(), p.v.data(), pcm.data(), 3528))
                _exit(kRefusedPicture);
            if (split && i == kPictures / 2 && !w.nextMpegPiece()) _exit(kRefusedPicture);
        }
        _exit(w.closeMpeg() ? kWhole : kCloseFailed);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(MpegWriterFullDisk, EveryFailedWriteIsReportedAndThePieceEndsWithWholeSectors) {
    struct Case {
        const char* what;
        int mpegStream;
        bool split;
    };
    for (const Case c : {Case{"VCD layout", 0, false}, Case{"SVCD layout", 1, false},
                         Case{"SVCD layout, split", 1, true}}) {
        fs::path dir =
            workDir(std::string("fulldisk") + std::to_string(c.mpegStream) + (c.split ? "s" : ""));
        fs::remove_all(dir);
        fs::create_directories(dir);
        const fs::path out = dir / "f.mpg";
        ASSERT_EQ(writeUnderLimit(out, c.mpegStream, 0, c.split), kWhole) << c.what;
        const std::uintmax_t whole = fs::file_size(out);
        ASSERT_GT(whole, 4u * 2324) << c.what;

        // Half way: the picture that meets the limit is refused. One byte
        // short: only the last sectors, written when the piece is closed,
        // fail, and the close (or the step to the next piece) says so.
        const std::pair<std::uintmax_t, int> limits[] = {
            {whole / 2, kRefusedPicture}, {whole - 1, c.split ? kRefusedPicture : kCloseFailed}};
        for (const auto& [limit, expected] : limits) {
            EXPECT_EQ(writeUnderLimit(out, c.mpegStream, limit, c.split), expected)
                << c.what << ", limit " << limit;
            const std::uintmax_t size = fs::file_size(out);
            EXPECT_LE(size, limit) << c.what;
            EXPECT_EQ(size % 2324, 0u) << c.what << ": the file ends inside a sector";
            EXPECT_GT(size + 2324, limit) << c.what << ": whole sectors that fitted were dropped";
            EXPECT_FALSE(fs::exists(dir / "f.mpgsvcd")) << c.what;
            if (haveTool("ffprobe")) {
                std::string frames = runOutput(
                    "ffprobe -v error -select_streams v -count_frames -show_entries "
                    "stream=nb_read_frames -of csv=p=0 '" +
                    out.string() + "' 2>/dev/null");
                EXPECT_GT(std::atoi(frames.c_str()), 0) << c.what;
            }
        }
        // So little room that no video sector fits: a file without a
        // picture is of no use, and none stays.
        EXPECT_NE(writeUnderLimit(out, c.mpegStream, 3000, c.split), kWhole) << c.what;
        EXPECT_FALSE(fs::exists(out)) << c.what;
        EXPECT_FALSE(fs::exists(dir / "f.mpgsvcd")) << c.what;
    }
}

// The video stream alone has no sectors: what stays ends with the last whole
// picture, so it decodes without an error to its end.
TEST(MpegWriterFullDisk, AVideoStreamAloneEndsWithAWholePicture) {
    for (int mpegStream : {0, 1}) {
        const std::string what = mpegStream ? "MPEG-2 video" : "MPEG-1 video";
        fs::path dir = workDir("fulldisk-video" + std::to_string(mpegStream));
        fs::remove_all(dir);
        fs::create_directories(dir);
        const fs::path out = dir / (mpegStream ? "f.m2v" : "f.m1v");
        ASSERT_EQ(writeUnderLimit(out, mpegStream, 0, false, true), kWhole) << what;
        const std::uintmax_t whole = fs::file_size(out);
        EXPECT_EQ(writeUnderLimit(out, mpegStream, whole - 1, false, true), kCloseFailed) << what;
        EXPECT_EQ(writeUnderLimit(out, mpegStream, whole / 2, false, true), kCloseFailed) << what;
        const std::uintmax_t size = fs::file_size(out);
        EXPECT_LE(size, whole / 2) << what;
        EXPECT_GT(size, whole / 4) << what << ": whole pictures that fitted were dropped";
        if (haveTool("ffmpeg")) {
            const std::string errors =
                runOutput("ffmpeg -nostdin -v error -i '" + out.string() + "' -f null - 2>&1");
            EXPECT_EQ(errors, "") << what << ": the stream ends inside a picture";
        }
        EXPECT_NE(writeUnderLimit(out, mpegStream, 3000, false, true), kWhole) << what;
        EXPECT_FALSE(fs::exists(out)) << what << ": a file without a whole picture stayed";
    }
}

}  // namespace
}  // namespace zembra::venctest
