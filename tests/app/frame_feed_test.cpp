// The frame feed between the source and the rip loop: frames made ahead on a
// producer thread come out as the loop would have fetched them itself, with
// the source's messages shown on the loop's thread at the same points; a
// question waits for the loop's answer; a stop drops what the loop never
// took; past its cap the source is the loop's again; out of memory on the
// producer reaches the loop; pictures drawn ahead reach the loop in order.

#include "app/frame_feed.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "support/recording_host.h"

namespace zembra {
namespace {

using testing::RecordingHost;

// Frames 1..count, each with its number as its only sample, a status line and
// a pump before it; a read-error box at the end. A question at frame
// `askAt` decides whether that frame's number gets 1000 added.
class NumberSource : public RipSource {
public:
    NumberSource(UiHost& host, int count) : relay_(host), count_(count) {}

    int getNextFrame(FrameRecord& frame, int& width, int& height, const int16_t*& pcm,
                     int& pcmValues) override {
        std::lock_guard lock(mutex_);
        threads.push_back(std::this_thread::get_id());
        if (made_ == throwAt) throw std::bad_alloc();
        if (made_ >= count_) {
            relay_.error("STR_ERROR_503");
            return 0;
        }
        ++made_;
        relay_.pumpMessages();
        relay_.setStatus("decoded " + std::to_string(made_));
        frame.frameNumber = uint32_t(made_);
        if (made_ == askAt && relay_.ask("STR_ERROR_19")) frame.frameNumber += 1000;
        if (made_ % 3 == 0) skipped_.push_back({uint32_t(made_), 1, 0.0});
        width = 16;
        height = 16;
        sample_ = int16_t(made_);
        pcm = &sample_;
        pcmValues = made_ % 4 == 0 ? 0 : 1;  // sometimes no sound, still a buffer
        return 1;
    }
    std::vector<SkippedSectors> skippedSectors() const override {
        std::lock_guard lock(mutex_);
        return skipped_;
    }
    HostRelay* relay() override { return &relay_; }
    int made() const {
        std::lock_guard lock(mutex_);
        return made_;
    }

    int askAt = -1;
    int throwAt = -1;
    std::vector<std::thread::id> threads;

    // Not used by the feed.
    Status openDecoder(const InputSettings&, const TitleCatalogue&, SourceFacts&) override {
        return {};
    }
    bool isOpen() const override { return true; }
    void closeDecoder() override {}
    Status reopenDecoder() override { return {}; }
    Status scanVobFiles(const std::vector<std::string>&, const InputSettings&, TitleCatalogue&,
                        const CancelToken*) override {
        return {};
    }
    void setRunMode(int) override {}
    int getRunMode() const override { return 1; }
    Status reseek(int64_t) override { return {}; }
    int peekFrame(FrameRecord&, int&, int&) override { return 0; }
    int currentTimeSeconds() const override { return 0; }
    void setPrefill(int) override {}
    int64_t getCurrentSector() const override { return -1; }
    void setCancel(const CancelToken*) override {}

private:
    HostRelay relay_;
    const int count_;
    mutable std::mutex mutex_;
    int made_ = 0;
    int16_t sample_ = 0;
    std::vector<SkippedSectors> skipped_;
};

// What the loop saw, in order, with what the host was told in between.
struct LoopRecord {
    std::vector<std::string> lines;  // host statuses and the loop's own "took" lines
    std::vector<std::string> boxes;
    int pumps = 0;
    size_t skipped = 0;
};

LoopRecord drain(int depth, int count, int64_t cap = FrameFeed::kUnlimited, int askAt = -1) {
    RecordingHost host;
    host.answers = {BoxAnswer::Yes};
    NumberSource source(host, count);
    source.askAt = askAt;
    FrameFeed feed(source, source.relay(), depth, cap);
    FrameRecord frame;
    int width = 0, height = 0, values = 0;
    const int16_t* pcm = nullptr;
    while (feed.next(frame, width, height, pcm, values)) {
        std::string took = "took " + std::to_string(frame.frameNumber) + " " +
                           std::to_string(width) + "x" + std::to_string(height) + " pcm " +
                           (pcm ? "buffer" : "none") + " " + std::to_string(values);
        if (values) took += " = " + std::to_string(pcm[0]);
        host.setStatus(took);
    }
    feed.stop();
    LoopRecord r;
    r.lines = host.statuses;
    for (const auto& b : host.boxes) r.boxes.push_back(b.text);
    r.pumps = host.pumps;
    r.skipped = depth ? feed.skippedSectorsTaken() : source.skippedSectors().size();
    return r;
}

TEST(FrameFeedThreads, MadeAheadTheFramesSoundAndMessagesComeAsFromOneThread) {
    for (int depth : {1, 2, 6}) {
        for (int count : {0, 1, 7, 40}) {
            const LoopRecord one = drain(0, count);
            const LoopRecord ahead = drain(depth, count);
            EXPECT_EQ(ahead.lines, one.lines) << "depth " << depth << ", " << count << " frames";
            EXPECT_EQ(ahead.boxes, one.boxes);
            EXPECT_EQ(ahead.pumps, one.pumps);
            EXPECT_EQ(ahead.skipped, one.skipped);
            ASSERT_EQ(one.boxes.size(), 1u);  // the read error at the end
        }
    }
    // Past the cap the frames come from the loop's own calls, in order.
    EXPECT_EQ(drain(3, 12, 5).lines, drain(0, 12).lines);
    // A question is answered by the loop before the frame it decides.
    const LoopRecord asked = drain(3, 8, FrameFeed::kUnlimited, 5);
    EXPECT_EQ(asked.lines, drain(0, 8, FrameFeed::kUnlimited, 5).lines);
    EXPECT_NE(std::find(asked.lines.begin(), asked.lines.end(), "took 1005 16x16 pcm buffer 1 = 5"),
              asked.lines.end());
}

// Pictures: the loop's planes after each frame, as a one-thread loop that
// draws them itself sees them; every fifth frame has no picture and keeps
// the last one. Returns the picture numbers in order.
std::vector<int> drawPictures(int depth, int count, int64_t cap, std::vector<bool>* onProducer,
                              size_t* buffers) {
    RecordingHost host;
    NumberSource source(host, count);
    const std::thread::id loop = std::this_thread::get_id();
    PictureStage stage;
    stage.planeSize[0] = 4;
    stage.planeSize[1] = stage.planeSize[2] = 1;
    stage.make = [&](const FrameRecord& frame, uint8_t* const planes[3]) {
        if (frame.frameNumber % 5 == 0) return false;
        if (onProducer) onProducer->push_back(std::this_thread::get_id() != loop);
        planes[0][0] = uint8_t(frame.frameNumber);
        planes[0][3] = uint8_t(frame.frameNumber + 1);
        planes[2][0] = uint8_t(frame.frameNumber + 2);
        return true;
    };
    FrameFeed feed(source, source.relay(), depth, cap, stage);
    FrameFeed::Planes planes;
    for (auto& p : planes) p.assign(4, 0);
    std::vector<const uint8_t*> seen;
    FrameRecord frame;
    int width, height, values;
    const int16_t* pcm;
    std::vector<int> pictures;
    while (feed.next(frame, width, height, pcm, values)) {
        if (!feed.takePicture(planes)) {
            uint8_t* const dst[3] = {planes[0].data(), planes[1].data(), planes[2].data()};
            (void)stage.make(frame, dst);
        }
        EXPECT_EQ(planes[0][3], uint8_t(planes[0][0] + (planes[0][0] ? 1 : 0)));
        EXPECT_EQ(planes[2][0], uint8_t(planes[0][0] + (planes[0][0] ? 2 : 0)));
        pictures.push_back(planes[0][0]);
        if (std::find(seen.begin(), seen.end(), planes[0].data()) == seen.end())
            seen.push_back(planes[0].data());
    }
    if (buffers) *buffers = seen.size();
    return pictures;
}

TEST(FrameFeedThreads, PicturesMadeAheadReachTheLoopInOrderInAFewReusedBuffers) {
    const std::vector<int> one = drawPictures(0, 40, FrameFeed::kUnlimited, nullptr, nullptr);
    ASSERT_EQ(one.size(), 40u);
    EXPECT_EQ(one[4], 4);  // frame 5 has none: frame 4's stays
    EXPECT_EQ(one[5], 6);
    for (int depth : {1, 3, 6}) {
        std::vector<bool> onProducer;
        size_t buffers = 0;
        EXPECT_EQ(drawPictures(depth, 40, FrameFeed::kUnlimited, &onProducer, &buffers), one)
            << "depth " << depth;
        EXPECT_EQ(std::count(onProducer.begin(), onProducer.end(), false), 0);
        // The queue, the frame being made, the loop's and the one it holds.
        EXPECT_LE(buffers, size_t(depth) + 3) << "depth " << depth;
    }
    // Past the cap the loop draws the pictures itself.
    std::vector<bool> onProducer;
    EXPECT_EQ(drawPictures(2, 40, 10, &onProducer, nullptr), one);
    ASSERT_EQ(onProducer.size(), 32u);
    EXPECT_TRUE(onProducer[7]);
    EXPECT_FALSE(onProducer[8]);
}

TEST(FrameFeedThreads, TheHostIsOnlyCalledOnTheLoopThread) {
    // A host that notes the thread of every call.
    class ThreadHost : public RecordingHost {
    public:
        BoxAnswer messageBox(BoxKind kind, const std::string& text) override {
            seen.push_back(std::this_thread::get_id());
            return RecordingHost::messageBox(kind, text);
        }
        void pumpMessages() override { seen.push_back(std::this_thread::get_id()); }
        void setStatus(const std::string&) override { seen.push_back(std::this_thread::get_id()); }
        std::vector<std::thread::id> seen;
    } host;
    host.answers = {BoxAnswer::No};
    NumberSource source(host, 10);
    source.askAt = 5;
    FrameFeed feed(source, source.relay(), 2, 7);
    FrameRecord frame;
    int width, height, values;
    const int16_t* pcm;
    int frames = 0;
    while (feed.next(frame, width, height, pcm, values)) ++frames;
    EXPECT_EQ(frames, 10);
    ASSERT_FALSE(host.seen.empty());
    for (const auto& id : host.seen) EXPECT_EQ(id, std::this_thread::get_id());
    // The first seven frames were made on the producer, the rest here.
    ASSERT_EQ(source.threads.size(), 11u);
    EXPECT_NE(source.threads[0], std::this_thread::get_id());
    EXPECT_EQ(source.threads[7], std::this_thread::get_id());
}

TEST(FrameFeedThreads, AStopDropsWhatTheLoopNeverTookAndOutOfMemoryReachesTheLoop) {
    RecordingHost host;
    NumberSource source(host, 1000);
    {
        FrameFeed feed(source, source.relay(), 3);
        FrameRecord frame;
        int width, height, values;
        const int16_t* pcm;
        ASSERT_EQ(feed.next(frame, width, height, pcm, values), 1);
        ASSERT_EQ(feed.next(frame, width, height, pcm, values), 1);
        feed.stop();
        EXPECT_EQ(feed.next(frame, width, height, pcm, values), 0);
    }
    // Two frames taken: their statuses only, and the producer made no more
    // than the queue holds beyond them.
    EXPECT_EQ(host.statuses, (std::vector<std::string>{"decoded 1", "decoded 2"}));
    EXPECT_EQ(host.pumps, 2);
    EXPECT_LE(source.made(), 2 + 3 + 1);
    EXPECT_TRUE(host.boxes.empty());

    RecordingHost host2;
    NumberSource failing(host2, 10);
    failing.throwAt = 2;
    FrameFeed feed(failing, failing.relay(), 4);
    FrameRecord frame;
    int width, height, values;
    const int16_t* pcm;
    EXPECT_EQ(feed.next(frame, width, height, pcm, values), 1);
    EXPECT_EQ(feed.next(frame, width, height, pcm, values), 1);
    EXPECT_THROW((void)feed.next(frame, width, height, pcm, values), std::bad_alloc);
}

}  // namespace
}  // namespace zembra
