// Frame queue: repeat/drop pacing against the output rates, the PCM handed
// out per frame, audio starvation, read-error skip-ahead and the end.

#include "decoder/frame_queue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <vector>

#include "support/recording_host.h"

namespace zembra {
namespace {

// A decoder stand-in: each decoded picture is emitted with its number in
// every luma byte and brings the PCM that belongs to it.
class FakeSource : public FrameQueueSource {
public:
    FakeSource(FrameQueue& q, PcmFifo* fifo, int pictures, double rate, int audioRate)
        : queue(q),
          fifo(fifo),
          pictures(pictures),
          rate(rate),
          audioRate(audioRate),
          layout(PlaneLayout::make(32, 16, 1)),
          buffer(layout) {}

    bool decodeOnePicture() override {
        ++decodeCalls;
        if (readErrorAt >= 0 && int(next) == readErrorAt) {
            readErrorAt = -1;
            state = DecodeStatus::ReadError;
            return false;
        }
        if (int(next) >= pictures) {
            // Sound muxed after the last picture arrives with the end.
            if (fifo && audioPresent && audioLag > 0) appendAudioUpTo(pictures);
            state = DecodeStatus::EndOfInput;
            return false;
        }
        std::fill(buffer.bytes.begin(), buffer.bytes.end(), uint8_t(next));
        const uint8_t* planes[3] = {buffer.plane(0), buffer.plane(1), buffer.plane(2)};
        const DecodeStatus taken = queue.emitFrame(planes, next - numberBase);
        if (isFatal(taken)) state = taken;
        if (fifo && audioPresent) appendAudioUpTo(int(next) + 1 - audioLag);
        ++next;
        return true;
    }
    void appendAudioUpTo(int picture) {
        const int64_t due =
            int64_t(std::llround(std::min(picture, audioPictures) * audioRate / rate));
        if (due <= appended) return;
        std::vector<int16_t> pcm(size_t(2 * (due - appended)), 1000);
        EXPECT_TRUE(fifo->append(pcm.data(), int(pcm.size())));
        appended = due;
    }
    DecodeStatus status() const override { return state; }
    void stop(DecodeStatus why) override { state = why; }
    uint32_t currentSector() override { return 1000; }
    bool reseekSilently(uint32_t sector) override {
        seeks.push_back(sector);
        if (int(seeks.size()) < seekSucceedsAt || seekSucceedsAt < 0) return false;
        state = DecodeStatus::Ok;
        next += 10;  // decoding picks up further on
        return true;
    }
    void closeDecoder() override {
        ++closes;
        queue.close();
    }
    double cellSumSeconds() const override { return cellSum; }
    int64_t anchorVideoPtsMs() const override { return 0; }
    uint32_t anchorFrameCount() const override { return 0; }

    FrameQueue& queue;
    PcmFifo* fifo;
    int pictures;
    double rate;
    int audioRate;
    PlaneLayout layout;
    PlaneBuffer buffer;
    uint32_t next = 0;
    DecodeStatus state = DecodeStatus::Ok;
    int64_t appended = 0;
    bool audioPresent = true;
    uint32_t numberBase = 0;      // a seek restarts the frame numbers here
    int audioLag = 0;             // pictures the sound trails behind in the stream
    int audioPictures = 1 << 30;  // pictures the sound track lasts
    int readErrorAt = -1;
    int seekSucceedsAt = -1;
    std::vector<uint32_t> seeks;
    int closes = 0;
    int decodeCalls = 0;
    double cellSum = 0.0;
};

struct Output {
    std::vector<uint32_t> frames;
    std::vector<int> pcmCounts;
    int64_t pcmValues = 0;
};

struct Harness {
    testing::RecordingHost host;
    FrameQueue queue{host};
    PcmFifo fifo;
    FakeSource source;
    FrameQueueSettings settings;
    bool checkPictures = true;

    Harness(int pictures, double sourceRate, int fpsIndex, int audioMode = 5)
        : source(queue, &fifo, pictures, sourceRate, audioMode == 5 ? 48000 : 44100) {
        settings.frameRateIndex = fpsIndex;
        settings.sourceRate = sourceRate;
        settings.audioMode = audioMode;
        settings.layout = source.layout;
    }
    void open() {
        queue.open(settings, &source, FrameQueueAudio{&fifo, nullptr, nullptr, nullptr});
    }
    Output run(int limit = 100000) {
        open();
        Output r;
        FrameRecord f;
        int w = 0, h = 0, count = 0;
        const int16_t* pcm = nullptr;
        while (limit-- > 0 && queue.getNextFrame(f, w, h, pcm, count) == 1) {
            EXPECT_EQ(w, 32);
            if (checkPictures) {
                EXPECT_EQ(f.y[0], uint8_t(f.frameNumber));
            }
            r.frames.push_back(f.frameNumber);
            r.pcmCounts.push_back(count);
            r.pcmValues += count;
        }
        return r;
    }
};

TEST(FramePacing, FilmToNtscRepeatsFiveForFour) {
    Harness h(240, 24000.0 / 1001.0, 3);
    Output r = h.run();
    ASSERT_GT(r.frames.size(), 250u);
    EXPECT_EQ(r.frames[0], 0u);  // the head first: time 0 is below 1 / R
    // 5 outputs for every 4 pictures, no picture shown more than twice.
    std::map<uint32_t, int> shown;
    for (size_t i = 0; i < 250; ++i) ++shown[r.frames[i]];
    EXPECT_NEAR(double(shown.size()), 200.0, 1.0);
    for (const auto& [n, times] : shown) EXPECT_LE(times, 2) << n;
    // Never out of order, never skipping a picture.
    for (size_t i = 1; i < r.frames.size(); ++i) EXPECT_LE(r.frames[i] - r.frames[i - 1], 1u);
    EXPECT_TRUE(h.host.boxes.empty());
}

TEST(FramePacing, NtscToPalDropsAndEqualRatesPass) {
    Harness h(300, 30000.0 / 1001.0, 2);
    Output r = h.run();
    ASSERT_GT(r.frames.size(), 200u);
    // About one picture in six is dropped.
    const double ratio = double(r.frames.back() + 1) / double(r.frames.size());
    EXPECT_NEAR(ratio, (30000.0 / 1001.0) / 25.0, 0.02);
    for (size_t i = 1; i < r.frames.size(); ++i) {
        EXPECT_GE(r.frames[i] - r.frames[i - 1], 1u);
        EXPECT_LE(r.frames[i] - r.frames[i - 1], 2u);
    }

    Harness same(100, 25.0, 2);
    Output s = same.run();
    for (size_t i = 0; i < s.frames.size(); ++i) EXPECT_EQ(s.frames[i], uint32_t(i));
    EXPECT_GT(s.frames.size(), 90u);
}

TEST(FramePacing, PcmPerFrameAndOverTheTitle) {
    // 25 fps: exactly 1920 sample frames at 48 kHz, 1764 at 44.1 kHz.
    for (int mode : {5, 1}) {
        Harness h(150, 25.0, 2, mode);
        Output r = h.run();
        for (int c : r.pcmCounts) ASSERT_EQ(c, 2 * (mode == 5 ? 1920 : 1764));
    }
    // 29.97 output: the counts follow the running total to the sample.
    Harness h(200, 30000.0 / 1001.0, 3, 5);
    Output r = h.run();
    const double perFrame = 48000.0 / (30000.0 / 1001.0);
    EXPECT_NEAR(double(r.pcmValues) / 2, r.frames.size() * perFrame, perFrame);
    for (int c : r.pcmCounts) EXPECT_TRUE(c == 2 * 1601 || c == 2 * 1602) << c;
}

TEST(FramePacing, EndOfInputHandsOutTheQueuedFramesWithTheirSound) {
    // Sound trailing the pictures in the stream (as DVD muxers lay it out):
    // every picture still comes out, each with its full share of PCM.
    Harness h(150, 25.0, 2, 5);
    h.source.audioLag = 12;
    Output r = h.run();
    ASSERT_EQ(r.frames.size(), 150u);
    EXPECT_EQ(r.frames.back(), 149u);
    for (int c : r.pcmCounts) ASSERT_EQ(c, 2 * 1920);
    EXPECT_EQ(h.source.closes, 1);

    // A track shorter than the pictures: its end is padded with silence.
    Harness shortTrack(100, 25.0, 2, 5);
    shortTrack.source.audioLag = 5;
    shortTrack.source.audioPictures = 90;
    Output s = shortTrack.run();
    ASSERT_EQ(s.frames.size(), 100u);
    EXPECT_EQ(s.pcmValues, int64_t(100) * 2 * 1920);
}

TEST(FramePacing, AudioOnlyHandsOutTheSoundLeftAtTheEnd) {
    Harness audio(50, 25.0, 2, 5);
    audio.settings.runMode = 3;
    audio.source.audioLag = 7;
    audio.checkPictures = false;
    Output a = audio.run();
    EXPECT_EQ(a.pcmValues, int64_t(50) * 2 * 1920);
}

TEST(FramePacing, SeekInTheMiddleOfARunGoesOnFromTheNewPlace) {
    // 25 -> 24 fps drops one picture in 25; after a seek back (as a split
    // with overlap does) the pictures from the new place come out at once,
    // although the decoder numbers them from 0 again.
    Harness h(300, 25.0, 1, 5);
    h.open();
    FrameRecord f;
    int w = 0, ht = 0, count = 0;
    const int16_t* pcm = nullptr;
    for (int i = 0; i < 200; ++i) ASSERT_EQ(h.queue.getNextFrame(f, w, ht, pcm, count), 1);
    h.queue.clearQueue();
    h.source.next = h.source.numberBase = 120;
    h.source.appended = std::llround(120 * 48000 / 25.0);
    ASSERT_EQ(h.queue.getNextFrame(f, w, ht, pcm, count), 1);
    EXPECT_LE(f.y[0], 122);
    EXPECT_GE(f.y[0], 120);
    int handed = 1;
    while (h.queue.getNextFrame(f, w, ht, pcm, count) == 1) ++handed;
    // The 180 pictures left, at 24 of every 25.
    EXPECT_NEAR(handed, 180 * 24 / 25, 2);
}

TEST(FramePacing, MissingAudioIsFilledWithSilence) {
    Harness h(400, 25.0, 2, 5);
    h.source.audioPresent = false;
    Output r = h.run();
    // The queue grows past 48, silence stands in for the audio, frames go on.
    EXPECT_GT(r.frames.size(), 300u);
    for (int c : r.pcmCounts) EXPECT_EQ(c, 2 * 1920);
    EXPECT_FALSE(h.host.sawText("MPEG2Dec: too many frames."));
    EXPECT_FALSE(h.host.sawText("MPEG2Dec: Error during reading input file."));
}

TEST(FramePacing, TooManyFramesWhenNothingTakesThem) {
    Harness h(400, 25.0, 2, 5);
    h.open();
    const uint8_t* planes[3] = {h.source.buffer.plane(0), h.source.buffer.plane(1),
                                h.source.buffer.plane(2)};
    for (uint32_t n = 0; n < 50; ++n) EXPECT_EQ(h.queue.emitFrame(planes, n), DecodeStatus::Ok);
    EXPECT_EQ(h.queue.queued(), 50);
    // Past 48 the FIFO was forced to the queue's worth of silence.
    EXPECT_EQ(h.fifo.fill, int(50 * (44100.0 / 25.0) * 2));
    EXPECT_EQ(h.queue.emitFrame(planes, 50), DecodeStatus::NoPicture);
    EXPECT_TRUE(h.host.sawText("MPEG2Dec: too many frames."));
    EXPECT_EQ(h.queue.queued(), 50);
}

TEST(FramePacing, ReadErrorSkipsAheadInGrowingSteps) {
    Harness h(100, 25.0, 2, 5);
    h.source.readErrorAt = 30;
    h.source.seekSucceedsAt = 3;
    Output r = h.run();
    EXPECT_EQ(h.source.seeks, (std::vector<uint32_t>{1512, 2536, 4072}));
    EXPECT_TRUE(h.host.boxes.empty());
    EXPECT_GT(r.frames.back(), 60u);

    // Pictures decoded before the damage but still waiting for their sound
    // go out before decoding moves on, with silence where the sound was lost.
    for (int lag : {0, 10}) {
        Harness fail(100, 25.0, 2, 5);
        fail.source.readErrorAt = 30;
        fail.source.audioLag = lag;
        Output f = fail.run();
        ASSERT_EQ(fail.source.seeks.size(), 20u);
        EXPECT_EQ(fail.source.seeks.back(), 1000u + 512u * 210u);
        EXPECT_TRUE(fail.host.sawText("MPEG2Dec: Error during reading input file."));
        EXPECT_EQ(fail.source.closes, 1);
        std::vector<uint32_t> before(30);
        for (uint32_t k = 0; k < 30; ++k) before[k] = k;
        EXPECT_EQ(f.frames, before) << lag;
        EXPECT_EQ(f.pcmValues, 30 * 1920 * 2) << lag;
    }
}

TEST(FramePacing, EndOfInputPeekAndVideoOnly) {
    Harness h(20, 25.0, 2, 5);
    h.settings.runMode = 2;
    h.open();
    h.queue.fill();
    FrameRecord f;
    int w = 0, ht = 0;
    ASSERT_EQ(h.queue.peekFrame(f, w, ht), 1);
    EXPECT_EQ(f.frameNumber, 0u);
    EXPECT_EQ(h.queue.queued(), 1);
    h.source.next = 0;
    Output r = h.run();
    EXPECT_EQ(r.frames.size(), 20u);
    for (int c : r.pcmCounts) EXPECT_EQ(c, 0);
    EXPECT_TRUE(h.host.boxes.empty());
    EXPECT_EQ(h.source.closes, 1);
    EXPECT_EQ(h.queue.peekFrame(f, w, ht), 0);
    const int16_t* pcm = nullptr;
    int count = 0;
    EXPECT_EQ(h.queue.getNextFrame(f, w, ht, pcm, count), 0);
}

TEST(FramePacing, FramesAreProcessedBeforeQueueing) {
    Harness h(10, 25.0, 2, 5);
    h.settings.luminance = {true, 0, 50};
    h.settings.deinterlace = 3;
    h.open();
    h.queue.fill();
    FrameRecord f;
    int w = 0, ht = 0;
    ASSERT_EQ(h.queue.peekFrame(f, w, ht), 1);
    EXPECT_EQ(f.y[0], 50);
    EXPECT_EQ(f.cb[0], 0);  // chroma untouched by the filter
}

}  // namespace
}  // namespace zembra
