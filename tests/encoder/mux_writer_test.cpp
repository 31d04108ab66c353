// The whole MPEG output: pictures and PCM through the MPEG writer, our video
// and Layer II encoders and the multiplexer, checked sector by sector and by
// the outside tools; pieces made by a split are each complete streams.

#include <gtest/gtest.h>

#include <sstream>

#include "encoder/mpeg_writer.h"
#include "mux_support.h"
#include "support/recording_host.h"

namespace zembra {
namespace {

using testing::RecordingHost;
namespace fs = std::filesystem;

struct WriterCase {
    const char* name;
    int mpegStream;
    int width, height;
    int videoKbps;
    int vbv;
    MuxLayout layout;
    const char* vcdimagerType;
};

void PrintTo(const WriterCase& c, std::ostream* os) { *os << c.name; }

const WriterCase kVcdCase{"vcd", 0, 352, 288, 1150, 20, MuxLayout::Vcd, "vcd2"};
const WriterCase kSvcdCase{"svcd", 1, 480, 576, 2000, 112, MuxLayout::Svcd, "svcd"};
// The DVD presets use the SVCD layout at far higher rates.
const WriterCase kDvdCase{"dvd", 1, 720, 576, 9400, 112, MuxLayout::Svcd, nullptr};

// Moving pictures and the music signal through the writer; `splitAt`
// frames start a new piece.
std::vector<fs::path> encode(const WriterCase& c, int frames, RecordingHost& host,
                             int splitAt = 0) {
    // a folder per test: CTest runs them side by side
    const fs::path dir =
        muxtest::workDir(std::string("writer_") + c.name + (splitAt ? "_split" : "_whole"));
    const fs::path out = dir / "movie.mpg";
    MpegWriter writer(host);
    MpegOpenArgs a;
    a.outputPath = out.string();
    a.mpegStream = c.mpegStream;
    a.frameCount = frames;
    a.width = c.width;
    a.height = c.height;
    a.cpu = 3;
    a.vbv = c.vbv;
    a.videoKbps = c.videoKbps;
    a.overwrite = true;
    a.quantMat = 1;
    if (!writer.openMpeg(a)) return {};
    const auto pcm = muxtest::musicSignal(frames / 25 + 1);
    std::vector<std::uint8_t> y(static_cast<std::size_t>(c.width * c.height));
    std::vector<std::uint8_t> cb(y.size() / 4), cr(y.size() / 4);
    std::vector<fs::path> pieces{out};
    for (int f = 0; f < frames; ++f) {
        for (int r = 0; r < c.height; ++r)
            for (int x = 0; x < c.width; ++x)
                y[static_cast<std::size_t>(r * c.width + x)] =
                    static_cast<std::uint8_t>(((x + 3 * f) ^ (r + f)) & 0xFF);
        for (std::size_t i = 0; i < cb.size(); ++i) {
            cb[i] = static_cast<std::uint8_t>(128 + (i + f) % 40);
            cr[i] = static_cast<std::uint8_t>(100 + (i / 7) % 50);
        }
        if (!writer.writeMpegFrame(y.data(), cb.data(), cr.data(),
                                   pcm.data() + static_cast<std::size_t>(f) * 3528, 3528))
            return {};
        if (splitAt > 0 && (f + 1) % splitAt == 0 && f + 1 < frames) {
            if (!writer.nextMpegPiece()) return {};
            pieces.push_back(writer.params().outputPath);
        }
    }
    (void)writer.closeMpeg();
    return pieces;
}

class MuxWriter : public ::testing::TestWithParam<WriterCase> {};

TEST_P(MuxWriter, PresetOutputPassesEveryCheck) {
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    ZEMBRA_REQUIRE_TOOL("ffprobe");
    const WriterCase& c = GetParam();
    if (c.vcdimagerType) ZEMBRA_REQUIRE_TOOL("vcdimager");
    RecordingHost host;
    const auto pieces = encode(c, 75, host);
    ASSERT_EQ(pieces.size(), 1u);
    for (const auto& b : host.boxes) ADD_FAILURE() << "box: " << b.text;
    const fs::path file = pieces[0];

    const auto rep = muxtest::checkProgramStream(muxtest::readFile(file), c.layout);
    ASSERT_EQ(rep.error, "");
    if (c.layout == MuxLayout::Svcd) {
        EXPECT_EQ(rep.pstdVideo, 1);
        EXPECT_EQ(rep.pstdAudio, 1);
        EXPECT_GE(rep.videoPacketStartsWithI.size(), 5u);  // 75 pictures, GOPs of 15
    }

    const std::string probe = muxtest::runOutput(
        "ffprobe -v error -show_entries stream=codec_name,sample_rate -of compact=p=0 " +
        file.string() + " 2>&1");
    EXPECT_NE(probe.find(c.mpegStream ? "codec_name=mpeg2video" : "codec_name=mpeg1video"),
              std::string::npos)
        << probe;
    EXPECT_NE(probe.find("codec_name=mp2|sample_rate=44100"), std::string::npos) << probe;
    const std::string errors =
        muxtest::runOutput("ffmpeg -v error -nostdin -i " + file.string() + " -f null - 2>&1");
    EXPECT_EQ(errors, "") << errors;

    const auto pcm = muxtest::runOutput("ffmpeg -v error -nostdin -i " + file.string() +
                                        " -map 0:a -f s16le - 2>/dev/null");
    const std::string frames = muxtest::runOutput(
        "ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames "
        "-of csv=p=0 " +
        file.string());
    const double videoSeconds = std::atof(frames.c_str()) / 25.0;
    EXPECT_NEAR(videoSeconds, 3.0, 0.001) << frames;
    EXPECT_NEAR(static_cast<double>(pcm.size()) / 4 / 44100, videoSeconds, 0.04);

    if (!c.vcdimagerType) return;
    const std::string image = muxtest::runOutput(
        "cd " + file.parent_path().string() + " && vcdimager -t " + c.vcdimagerType +
        " -c movie.cue -b movie.bin " + file.string() + " 2>&1");
    EXPECT_EQ(image.find("rror"), std::string::npos) << image;
    EXPECT_NE(image.find("finished ok"), std::string::npos) << image;
}

TEST_P(MuxWriter, EverySplitPieceIsACompleteStream) {
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    const WriterCase& c = GetParam();
    RecordingHost host;
    const auto pieces = encode(c, 50, host, 20);
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[1].filename(), "movie_02.mpg");
    EXPECT_EQ(pieces[2].filename(), "movie_03.mpg");
    const int expectFrames[3] = {20, 20, 10};
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const auto rep = muxtest::checkProgramStream(muxtest::readFile(pieces[i]), c.layout);
        EXPECT_EQ(rep.error, "") << pieces[i];
        const std::string errors = muxtest::runOutput("ffmpeg -v error -nostdin -i " +
                                                      pieces[i].string() + " -f null - 2>&1");
        EXPECT_EQ(errors, "") << errors;
        const std::string frames = muxtest::runOutput(
            "ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames "
            "-of csv=p=0 " +
            pieces[i].string());
        EXPECT_EQ(std::atoi(frames.c_str()), expectFrames[i]) << pieces[i];
    }
}

INSTANTIATE_TEST_SUITE_P(Presets, MuxWriter, ::testing::Values(kVcdCase, kSvcdCase, kDvdCase),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zembra
