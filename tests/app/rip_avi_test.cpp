// `zembra rip` of the sample title to AVI, judged by ffprobe and ffmpeg:
// the file opens, the video lasts as long as the title, the sound as long
// as the video.

#include <gtest/gtest.h>

#include <cmath>

#include "rip_support.h"

namespace zembra {
namespace {

using namespace testing;

constexpr double kFps = 24.0;  // the stored FrameRate (index 1) the rips keep
constexpr double kRate = 44100.0;

#define ZEMBRA_REQUIRE_ZEMBRA()                                  \
    do {                                                         \
        if (zembraExe().empty() || !rip_fs::exists(zembraExe())) \
            GTEST_SKIP() << "zembra not built";                  \
    } while (0)

std::vector<std::string> sampleRip(const RipSandbox& box, std::vector<std::string> extra) {
    std::vector<std::string> args = {
        "rip",          sampleDisc(),          "--title", "0",    "--format",    "2",
        "--output-dir", box.outDir().string(), "--name",  "clip", "--overwrite", "--yes",
        "--quiet"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

// Uncompressed video with the sound in a WAV file beside it; an odd size
// asked for is ripped at the multiples of 16 below it.
TEST(RipAvi, UncompressedWithWavLastsAsLongAsTheTitle) {
    ZEMBRA_REQUIRE_ZEMBRA();
    ZEMBRA_REQUIRE_ORACLES();
    RipSandbox box;
    RipResult r =
        runZembra(box, sampleRip(box, {"--video-codec", "DIB ", "--export", "rgb24", "--avi-audio",
                                       "wav", "--width", "350", "--height", "290"}));
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string avi = box.out("clip.avi"), wav = box.out("clip.wav");
    EXPECT_EQ(box.outputFiles(), (std::vector<std::string>{"clip.avi", "clip.wav"}));
    EXPECT_FALSE(rip_fs::exists(box.programDir() / "options.ini")) << "saved without --save";

    EXPECT_EQ(probe(avi, "stream=width"), "336");
    EXPECT_EQ(probe(avi, "stream=height"), "288");
    EXPECT_EQ(probe(avi, "stream=codec_name"), "rawvideo");
    EXPECT_EQ(streamCount(avi, "a"), 0) << "the sound belongs in the WAV file";
    EXPECT_EQ(decodeErrors(avi), "");

    const double title = sourceSeconds(sampleDisc());
    ASSERT_GT(title, 5.0);
    const int frames = decodedFrames(avi);
    EXPECT_NEAR(frames / kFps, title, 1.0 / kFps + 1e-9) << frames << " frames";

    EXPECT_EQ(probe(wav, "stream=sample_rate", "a:0"), "44100");
    EXPECT_EQ(probe(wav, "stream=channels", "a:0"), "2");
    const long samples = decodedAudioSamples(wav);
    EXPECT_NEAR(samples / kRate, frames / kFps, 1.0 / kFps) << samples << " samples";
    // The header's sizes agree with the data written.
    const auto bytes = readAll(wav);
    ASSERT_GE(bytes.size(), 44u);
    auto le32 = [&](size_t at) {
        return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
               uint32_t(bytes[at + 3]) << 24;
    };
    EXPECT_EQ(le32(40), bytes.size() - 44);
    EXPECT_EQ(le32(4), bytes.size() - 8);
}

// MPEG-4 (Xvid) with MP3 in the AVI: the encoder holds back its delay and
// is never flushed, so the sound may be short by that much.
TEST(RipAvi, XvidWithMp3LastsAsLongAsTheTitle) {
    ZEMBRA_REQUIRE_ZEMBRA();
    ZEMBRA_REQUIRE_ORACLES();
    if (!haveXvidAndMp3()) GTEST_SKIP() << "no Xvid or LAME library";
    RipSandbox box;
    RipResult r = runZembra(
        box, sampleRip(box, {"--video-codec", "XVID", "--codec-opt", "bitrate=900", "--avi-audio",
                             "mp3", "--mp3-bitrate", "128", "--width", "352", "--height", "288"}));
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string avi = box.out("clip.avi");
    EXPECT_EQ(box.outputFiles(), (std::vector<std::string>{"clip.avi"}));
    EXPECT_EQ(probe(avi, "stream=codec_name"), "mpeg4");
    EXPECT_EQ(probe(avi, "stream=codec_tag_string"), "XVID");
    EXPECT_EQ(probe(avi, "stream=width"), "352");
    EXPECT_EQ(probe(avi, "stream=height"), "288");
    EXPECT_EQ(probe(avi, "stream=codec_name", "a:0"), "mp3");
    EXPECT_EQ(probe(avi, "stream=sample_rate", "a:0"), "44100");
    EXPECT_EQ(decodeErrors(avi), "");

    const double title = sourceSeconds(sampleDisc());
    const int frames = decodedFrames(avi);
    EXPECT_NEAR(frames / kFps, title, 1.0 / kFps + 1e-9) << frames << " frames";

    // LAME's delay (576 + 529 decoder samples) plus up to one 1152-sample
    // frame still inside the unflushed encoder.
    const double mp3Delay = (576.0 + 529.0 + 1152.0) / kRate;
    const long samples = decodedAudioSamples(avi);
    EXPECT_NEAR(samples / kRate, frames / kFps, 1.0 / kFps + mp3Delay) << samples << " samples";
}

// A stored MP3 rate the stream cannot have at 44.1 kHz (8 kbit/s, set in
// options.ini): LAME codes at 32, and the AVI's format record says 32 too,
// not 8, so that players pace the sound by its real byte rate.
TEST(RipAvi, Mp3FormatRecordStatesTheRateLameCodes) {
    ZEMBRA_REQUIRE_ZEMBRA();
    ZEMBRA_REQUIRE_ORACLES();
    if (!haveXvidAndMp3()) GTEST_SKIP() << "no Xvid or LAME library";
    RipSandbox box;
    ASSERT_EQ(runZembra(box, {"config", "--set", "Zembra_Lame.BitRate=8"}).status, 0);
    RipResult r = runZembra(box, sampleRip(box, {"--video-codec", "DIB ", "--avi-audio", "mp3",
                                                 "--width", "176", "--height", "144"}));
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string avi = box.out("clip.avi");
    EXPECT_EQ(probe(avi, "stream=bit_rate", "a:0"), "32000");
    const std::string copied = box.path("sound.mp3").string();
    ASSERT_EQ(shell("ffmpeg -v error -y -i " + quoted(avi) + " -map 0:a -c copy " + quoted(copied))
                  .status,
              0);
    EXPECT_EQ(probe(copied, "stream=bit_rate", "a:0"), "32000") << "the stream's own frames";
}

// The README's main job as a user runs it: tools/main-job.sh on the sample
// disc, MPEG-4 + MP3 where the libraries are, else uncompressed + WAV.
// Returns whether it chose Xvid + MP3.
bool checkMainJob(const std::string& extraEnv) {
    RipSandbox box;
    const std::string env = extraEnv + " ZEMBRA_OUTPUT_DIR=" + quoted(box.outDir().string()) +
                            " ZEMBRA_PROGRAM_DIR=" + quoted(box.programDir().string()) +
                            " ZEMBRA_SHUTDOWN_COMMAND=true";
    ShellResult r = shell(env + " bash " + quoted(std::string(ZEMBRA_SOURCE_DIR)) +
                          "/tools/main-job.sh " + quoted(ZEMBRA_BINARY_DIR) + " </dev/null");
    const bool xvid = r.out.find("main job: Xvid") != std::string::npos;
    EXPECT_EQ(r.status, 0) << r.out;
    if (r.status != 0) return xvid;
    const std::string avi = box.out("sample.avi");
    EXPECT_EQ(decodeErrors(avi), "");
    EXPECT_EQ(probe(avi, "stream=codec_name"), xvid ? "mpeg4" : "rawvideo");
    int num = 0, den = 1;
    EXPECT_EQ(std::sscanf(probe(avi, "stream=r_frame_rate").c_str(), "%d/%d", &num, &den), 2);
    if (num <= 0 || den <= 0) return xvid;
    const double fps = double(num) / den;
    const int frames = decodedFrames(avi);
    EXPECT_NEAR(frames / fps, sourceSeconds(sampleDisc()), 1.0 / fps + 1e-9) << frames;
    const std::string sound = xvid ? avi : box.out("sample.wav");
    const double delay = xvid ? (576.0 + 529.0 + 1152.0) / kRate : 0.0;
    EXPECT_NEAR(decodedAudioSamples(sound) / kRate, frames / fps, 1.0 / fps + delay);
    return xvid;
}

TEST(RipAvi, MainJobMakesAFileAsLongAsTheTitle) {
    ZEMBRA_REQUIRE_ZEMBRA();
    ZEMBRA_REQUIRE_ORACLES();
    EXPECT_EQ(checkMainJob(""), haveXvidAndMp3());
    // A machine without LAME (or without Xvid) still gets its AVI.
    SCOPED_TRACE("without LAME");
    EXPECT_FALSE(checkMainJob("ZEMBRA_LAME_LIBRARY=/nonexistent/libmp3lame.so.0"));
}

// --two-pass with Xvid: a first pass that writes the statistics, a second
// that spends the bits by them and carries the sound; one title long.
TEST(RipAvi, TwoPassXvidWithMp3) {
    ZEMBRA_REQUIRE_ZEMBRA();
    ZEMBRA_REQUIRE_ORACLES();
    if (!haveXvidAndMp3()) GTEST_SKIP() << "no Xvid or LAME library";
    RipSandbox box;
    const std::string stats = box.path("xvid.stats").string();
    RipResult r = runZembra(
        box, sampleRip(box, {"--video-codec", "XVID", "--codec-opt", "bitrate=900", "--codec-opt",
                             "stats=" + stats, "--two-pass", "--avi-audio", "mp3", "--fps-index",
                             "2", "--width", "352", "--height", "288"}));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(box.outputFiles(), (std::vector<std::string>{"clip.avi"}));
    ASSERT_TRUE(rip_fs::exists(stats)) << "no first pass with statistics";
    EXPECT_GT(rip_fs::file_size(stats), 0u);
    const std::string avi = box.out("clip.avi");
    EXPECT_EQ(decodeErrors(avi), "");
    const int frames = decodedFrames(avi);
    EXPECT_NEAR(frames / 25.0, sourceSeconds(sampleDisc()), 1.0 / 25 + 1e-9) << frames;
    const double mp3Delay = (576.0 + 529.0 + 1152.0) / kRate;
    EXPECT_NEAR(decodedAudioSamples(avi) / kRate, frames / 25.0, 1.0 / 25 + mp3Delay);
}

}  // namespace
}  // namespace zembra
