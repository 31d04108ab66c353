// Whole files checked by the outside tools: video made by ffmpeg, audio by
// our Layer II encoder, multiplexed by us, then probed, decoded and turned
// into VCD and SVCD images by vcdimager.

#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>

#include "encoder/layer2/layer2_encoder.h"
#include "encoder/mux/multiplexer.h"
#include "mux_support.h"
#include "support/recording_host.h"

namespace zembra {
namespace {

using testing::RecordingHost;
namespace fs = std::filesystem;

struct Preset {
    const char* name;
    MuxLayout layout;
    const char* ffmpegVideo;  // makes the elementary stream
    double videoBitRate;
    const char* vcdimagerType;
};

void PrintTo(const Preset& p, std::ostream* os) { *os << p.name; }

const Preset kVcd{"vcd", MuxLayout::Vcd,
                  "-c:v mpeg1video -s 352x288 -b:v 1150k -minrate 1150k -maxrate 1150k "
                  "-bufsize 327680 -g 15 -bf 2 -f mpeg1video",
                  1150000, "vcd2"};
const Preset kSvcd{"svcd", MuxLayout::Svcd,
                   "-c:v mpeg2video -s 480x576 -b:v 2000k -maxrate 2300k -bufsize 1835008 -g 12 "
                   "-bf 2 -scan_offset 1 -f mpeg2video",
                   2000000, "svcd"};

// Makes (once) the preset's video and the multiplexed file; returns its path.
// CTest runs the tests side by side: each names its own output `tag`, and
// the shared video is written under a private name and then moved in place.
fs::path makeFile(const Preset& p, RecordingHost& host, int seconds, std::size_t* audioBytes,
                  std::vector<std::uint8_t>* videoEs, const std::string& tag) {
    const auto dir = muxtest::workDir(std::string("oracle_") + p.name);
    const fs::path es = dir / ("video" + std::to_string(seconds) + ".es");
    if (!fs::exists(es)) {
        const std::string tmp = es.string() + "." + std::to_string(::getpid()) + ".es";
        const std::string cmd =
            "ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=352x288:rate=25 -t " +
            std::to_string(seconds) + " -pix_fmt yuv420p " + p.ffmpegVideo + " " + tmp + " && mv " +
            tmp + " " + es.string();
        if (muxtest::run(cmd) != 0) return {};
    }
    const auto bytes = muxtest::readFile(es);
    if (videoEs) *videoEs = bytes;
    const auto video = muxtest::cutVideo(bytes, 25.0, p.layout);
    const auto pcm = muxtest::musicSignal(seconds);

    const fs::path out = dir / (tag + std::to_string(seconds) + ".mpg");
    Multiplexer mux(host);
    MuxSettings ms;
    ms.layout = p.layout;
    ms.outputPath = out.string();
    ms.videoBitRate = p.videoBitRate;
    ms.audioBitrateIndex = 11;
    ms.muxRateFactor = 1.014;
    ms.frameRate = 25;
    mux.reset(ms);
    Layer2Encoder audio(host);
    Layer2Settings as;
    as.layout = p.layout;
    std::size_t audioSum = 0;
    if (!audio.audioStart(as, mux.audioStore(), [&](const AudioUnit& u) {
            audioSum += static_cast<std::size_t>(u.size);
            return mux.pushAudioUnit(u);
        }))
        return {};
    PcmStore store;
    std::size_t at = 0, pcmAt = 0;
    for (std::size_t k = 0; k < video.units.size(); ++k) {
        const auto& u = video.units[k];
        if (!mux.videoStore().append(video.bytes.data() + at, static_cast<std::size_t>(u.size)))
            return {};
        at += static_cast<std::size_t>(u.size);
        if (!mux.pushVideoUnit(u)) return {};
        const std::size_t n = std::min<std::size_t>(3528, pcm.size() - pcmAt);
        if (!store.append(pcm.data() + pcmAt, n)) return {};
        pcmAt += n;
        while (store.size() > 2304)
            if (!audio.audioEncodeFrame(store)) return {};
        if (!mux.muxPump()) return {};
    }
    // the sequence end code
    if (!mux.videoStore().append(video.bytes.data() + at, video.bytes.size() - at)) return {};
    while (store.size() > 0)
        if (!audio.audioEncodeFrame(store, true)) return {};
    audio.audioEnd();
    if (!mux.muxDrain()) return {};
    if (audioBytes) *audioBytes = audioSum;
    return out;
}

class MuxOracle : public ::testing::TestWithParam<Preset> {};

TEST_P(MuxOracle, ToolsAcceptTheStream) {
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    ZEMBRA_REQUIRE_TOOL("ffprobe");
    const Preset& p = GetParam();
    RecordingHost host;
    std::size_t audioBytes = 0;
    std::vector<std::uint8_t> es;
    const fs::path file = makeFile(p, host, 6, &audioBytes, &es, "tools");
    ASSERT_FALSE(file.empty());
    EXPECT_TRUE(host.boxes.empty()) << host.boxes[0].text;

    // Our own walk over every sector; both streams come out whole.
    const auto bytes = muxtest::readFile(file);
    const auto rep = muxtest::checkProgramStream(bytes, p.layout);
    ASSERT_EQ(rep.error, "");
    EXPECT_EQ(rep.payload.at(0xC0).size(), audioBytes);
    if (p.layout == MuxLayout::Vcd) {
        EXPECT_EQ(rep.payload.at(0xE0), es);
    } else {
        EXPECT_EQ(rep.payload.at(0xE0).size(), es.size());  // scan offsets differ
    }

    const std::string probe = muxtest::runOutput(
        "ffprobe -v error -show_entries stream=codec_name,sample_rate:stream=start_time,duration "
        "-of compact=p=0:nk=0 " +
        file.string() + " 2>&1");
    EXPECT_NE(
        probe.find(p.layout == MuxLayout::Vcd ? "codec_name=mpeg1video" : "codec_name=mpeg2video"),
        std::string::npos)
        << probe;
    EXPECT_NE(probe.find("codec_name=mp2"), std::string::npos) << probe;
    EXPECT_NE(probe.find("sample_rate=44100"), std::string::npos) << probe;

    const std::string errors =
        muxtest::runOutput("ffmpeg -v error -nostdin -i " + file.string() + " -f null - 2>&1");
    EXPECT_EQ(errors, "") << errors;

    // The first audio frame and the first picture are both shown one frame
    // period after the zero time, so the two streams start together.
    const std::string starts = muxtest::runOutput(
        "ffprobe -v error -show_entries stream=codec_type,start_time -of csv=p=0 " + file.string());
    double videoStart = -1, audioStart = -1;
    std::istringstream in(starts);
    std::string line;
    while (std::getline(in, line)) {
        const auto comma = line.find(',');
        if (comma == std::string::npos) continue;
        const double t = std::atof(line.c_str() + comma + 1);
        if (line.rfind("video", 0) == 0) videoStart = t;
        if (line.rfind("audio", 0) == 0) audioStart = t;
    }
    EXPECT_GT(videoStart, 0.0) << starts;
    EXPECT_NEAR(audioStart, videoStart, 0.002) << starts;

    // Sound and pictures last as long as each other, to within a frame.
    const auto pcm = muxtest::runOutput("ffmpeg -v error -nostdin -i " + file.string() +
                                        " -map 0:a -f s16le - 2>/dev/null");
    const std::string frames = muxtest::runOutput(
        "ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of csv=p=0 "
        "-select_streams v " +
        file.string());
    const double audioSeconds = static_cast<double>(pcm.size()) / 4 / 44100;
    const double videoSeconds = std::atof(frames.c_str()) / 25.0;
    EXPECT_NEAR(videoSeconds, 6.0, 0.001);
    EXPECT_NEAR(audioSeconds, videoSeconds, 0.04);
}

TEST_P(MuxOracle, VcdimagerBuildsAnImage) {
    ZEMBRA_REQUIRE_TOOL("ffmpeg");
    ZEMBRA_REQUIRE_TOOL("vcdimager");
    const Preset& p = GetParam();
    RecordingHost host;
    const fs::path file = makeFile(p, host, 6, nullptr, nullptr, "image");
    ASSERT_FALSE(file.empty());
    const fs::path dir = file.parent_path();
    const std::string out =
        muxtest::runOutput("cd " + dir.string() + " && vcdimager -t " + p.vcdimagerType +
                           " -c image.cue -b image.bin " + file.string() + " 2>&1");
    EXPECT_EQ(out.find("error"), std::string::npos) << out;
    EXPECT_EQ(out.find("Error"), std::string::npos) << out;
    EXPECT_TRUE(fs::exists(dir / "image.bin")) << out;
    std::printf("%s\n", out.c_str());
}

INSTANTIATE_TEST_SUITE_P(Presets, MuxOracle, ::testing::Values(kVcd, kSvcd),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zembra
