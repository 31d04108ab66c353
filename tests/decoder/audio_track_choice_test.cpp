// Discs whose AC-3 track and LPCM or MPEG audio track both carry stream
// number 0 (as ffmpeg and dvdauthor number each coding from 0): the chosen
// track's sound comes from its own packets only.

#include <cmath>

#include "audio/audio_decoder.h"
#include "audio/stream_extract.h"
#include "decoder/frame_source.h"
#include "dvd/source_reader.h"
#include "dvd/test_support.h"
#include "dvd/title_set.h"
#include "mpeg2_test_support.h"

namespace zembra::testing {
namespace {

constexpr int kSeconds = 8;  // long enough for a mixed-in second track to overflow the FIFO

struct RipResult {
    int frames = 0;
    std::vector<int16_t> pcm;
};

// The title's first Audio list entry, ripped at 25 fps with 48 kHz sound.
RipResult ripFirstAudioEntry(const std::string& disc, RecordingHost& host) {
    RipResult result;
    TitleCatalogue catalogue;
    const auto sets = findTitleSets(disc);
    if (sets.empty() || !parseIfo(catalogue, sets.front().ifo, host)) return result;
    const TitleRecord& title = catalogue.titles[0];
    EXPECT_EQ(title.audioCount, 2);
    EXPECT_EQ(title.audioStream[0], 0);
    EXPECT_EQ(title.audioStream[1], 0);
    EXPECT_EQ(title.audioCoding[0], 0);  // AC-3 first

    SourceReader reader(host, catalogue);
    auto input = makeSourceReaderInput(reader);
    Mpeg2Decoder decoder(host, catalogue);
    decoder.setInput(input.get());
    AudioDecoder audio(host);
    FrameQueue queue(host);
    DecoderFrameSource frames(decoder, queue, &audio);
    DecoderOpenParams p;
    p.files = sets.front().vobs;
    p.title = 0;
    p.audioTrack = title.audioStream[0];
    p.audioFormat = title.audioCoding[0];
    p.frameRate = 2;
    p.downSampling = 4;
    decoder.setRunMode(kRunVideoAudio);
    double rate;
    int cf, w, h;
    if (!frames.openDecoder(p, rate, cf, w, h)) return result;
    FrameRecord frame;
    const int16_t* pcm = nullptr;
    int count = 0;
    while (frames.getNextFrame(frame, w, h, pcm, count) == 1) {
        ++result.frames;
        result.pcm.insert(result.pcm.end(), pcm, pcm + count);
    }
    decoder.closeDecoder();
    return result;
}

TEST(AudioTrackChoice, AnAc3TrackIsNotFedTheOtherCodingOfItsNumber) {
    for (const char* second : {"lpcm", "mp2"}) {
        const std::string disc = makeDisc(std::string("ac3-and-") + second + "-0",
                                          std::string("--audio ac3 --audio ") + second +
                                              " --seconds " + std::to_string(kSeconds));
        ZEMBRA_REQUIRE_DISC(disc);
        RecordingHost host;
        const RipResult r = ripFirstAudioEntry(disc, host);
        EXPECT_FALSE(host.sawText(
            "MPEG2Dec: Too much sample. \r\nTry other frame rate or change 'Detect/Force 24 Hz' "
            "flag."))
            << second;
        EXPECT_TRUE(host.boxes.empty()) << second << ": " << host.boxes[0].text;
        EXPECT_EQ(r.frames, kSeconds * 25) << second;
        EXPECT_EQ(r.pcm.size(), size_t(r.frames) * 1920 * 2) << second;
        // The AC-3 track is the 440 Hz tone, the other one 660 Hz.
        EXPECT_NEAR(toneHz(r.pcm, 48000), 440.0, 10.0) << second;
    }
}

// The checking tool's decoding of a whole VOB: the number's first coding only.
TEST(AudioTrackChoice, ProgramStreamAudioKeepsToOneCoding) {
    const std::string disc = makeDisc(
        "ac3-and-lpcm-0", "--audio ac3 --audio lpcm --seconds " + std::to_string(kSeconds));
    ZEMBRA_REQUIRE_DISC(disc);
    RecordingHost host;
    AudioDecoder audio(host);
    AudioSettings settings;
    settings.audioMode = 5;
    audio.open(settings);
    std::vector<int16_t> pcm;
    decodeProgramStreamAudio(readFile(disc + "/VIDEO_TS/VTS_01_1.VOB"), 0, audio, pcm);
    EXPECT_NEAR(double(pcm.size() / 2) / 48000, kSeconds, 0.2);
    EXPECT_NEAR(toneHz(pcm, 48000), 440.0, 10.0);
}

TEST(AudioTrackChoice, DecodeCommandTakesTheTrackTheAudioListShowsFirst) {
    const std::string zembra = std::string(ZEMBRA_BINARY_DIR) + "/src/cli/zembra";
    if (!std::filesystem::exists(zembra)) GTEST_SKIP() << "zembra not built";
    const std::string disc = makeDisc("ac3-and-mp2-0",
                                      "--audio ac3 --audio mp2 "
                                      "--seconds " +
                                          std::to_string(kSeconds));
    ZEMBRA_REQUIRE_DISC(disc);
    const std::string wav = std::string(ZEMBRA_BINARY_DIR) + "/audio_choice.wav";
    std::filesystem::remove(wav);
    const std::string cmd = zembra + " decode '" + disc + "' --audio 0 --downsampling 4 --wav '" +
                            wav + "' -o /dev/null 2>/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_NEAR(wavToneHz(wav), 440.0, 10.0);  // AC-3, not the MPEG track's 660 Hz
}

}  // namespace
}  // namespace zembra::testing
