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
int writeUnderLimit(const fs::path& out, int mpegStream, rlim_t limitBytes, bool split) {
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

}  // namespace
}  // namespace zembra::venctest
