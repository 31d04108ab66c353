#pragma once
// The frames of one rip pass as the rip loop takes them. With one thread
// they come straight from the source; with more, a producer thread runs the
// source ahead of the loop (reading, demultiplexing, video and audio
// decoding, the frame queue's repeats, drops and PCM hand-out) and passes
// finished frames through a short bounded queue, while the rip thread scales,
// encodes and writes. The producer makes exactly the calls the loop would
// make, in the same order, so every frame, every sample and every decision
// of the frame queue is the same at any thread count.
//
// The producer can also make each frame's output picture (the rip's output
// geometry), so that work runs beside the encoder too; the loop takes the
// picture in exchange for the planes it holds.
//
// What the source says to the user on the producer thread (errors, status,
// questions, message pumps) travels with the frames and reaches the real
// host on the rip thread, at the point of the run where a one-thread rip
// shows it; what the producer said after the loop stopped taking frames is
// dropped, as a one-thread rip would never have said it.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/rip_seams.h"
#include "platform/ui_host.h"

namespace zembra {

// One call the source made on its host.
struct HostEvent {
    enum class Kind { Box, Status, Progress, Pump };
    Kind kind = Kind::Pump;
    BoxKind box = BoxKind::Error;
    std::string text;
    int position = 0;
    int range = 0;
};

// Where the calls of a thread that may not show anything itself go.
class HostDeferral {
public:
    virtual ~HostDeferral() = default;
    virtual void record(HostEvent event) = 0;
    // A question needs its answer before the caller can go on.
    virtual BoxAnswer ask(const std::string& text) = 0;
};

// The host the source's engines are built with: it passes every call to the
// real host, except on a thread that has a deferral installed.
class HostRelay : public UiHost {
public:
    explicit HostRelay(UiHost& target) : UiHost(target.strings()), target_(target) {}

    BoxAnswer messageBox(BoxKind kind, const std::string& text) override;
    void pumpMessages() override;
    void setStatus(const std::string& text) override;
    void setProgress(int position, int range) override;

    // Installs (or with nullptr removes) the deferral of the calling thread.
    static void deferOnThisThread(HostDeferral* deferral);
    // Shows an event on the real host.
    void replay(const HostEvent& event);

private:
    UiHost& target_;
};

// Draws a frame's output picture into three planes; false when the frame has
// none (the output repeats the last picture then).
using PictureMaker = std::function<bool(const FrameRecord& frame, uint8_t* const planes[3])>;

// The picture stage a producer runs: the maker and the size of each plane.
struct PictureStage {
    PictureMaker make;
    size_t planeSize[3] = {0, 0, 0};
};

class FrameFeed : private HostDeferral {
public:
    static constexpr int64_t kUnlimited = std::numeric_limits<int64_t>::max();
    // How far a producer runs ahead of the loop: enough to ride out an
    // uneven picture, few enough to keep the frames in flight small.
    static constexpr int kFramesAhead = 6;
    using Planes = std::vector<uint8_t>[3];

    // `depth` frames are made ahead on a producer thread; 0 makes them on
    // the calling thread. The producer makes at most `frameCap` frames (the
    // loop never takes more when a writer stops at the title's frame count,
    // and the source must not run past where a one-thread rip leaves it);
    // later frames come from the source on the calling thread.
    // With a picture stage the producer also makes the frames' pictures.
    FrameFeed(RipSource& source, HostRelay* relay, int depth, int64_t frameCap = kUnlimited,
              PictureStage pictures = {});
    ~FrameFeed() override;
    FrameFeed(const FrameFeed&) = delete;
    FrameFeed& operator=(const FrameFeed&) = delete;

    // getNextFrame of the source: 1 with a frame and its PCM (valid until
    // the next call), 0 at the end. The producer's messages up to this frame
    // have been shown.
    [[nodiscard]] int next(FrameRecord& frame, int& width, int& height, const int16_t*& pcm,
                           int& pcmValues);
    // The picture the producer made of the frame next() gave last (of the
    // last frame with one, when that frame has none): swaps it into
    // `planes` (whose buffers the producer reuses) and returns true. False
    // when the caller is to draw it itself: no producer made it, or there
    // is none yet.
    [[nodiscard]] bool takePicture(Planes& planes);
    // Stops the producer and waits for it; what it made beyond the frames
    // taken is dropped. Safe to call twice.
    void stop();
    // The reader's status line after its buffering message.
    void setIdleStatus(const std::string& text);
    // Of the sectors the source skipped over read errors, those before the
    // last frame taken.
    size_t skippedSectorsTaken() const { return skippedTaken_; }
    bool runsAhead() const { return depth_ > 0; }

private:
    struct Item {
        std::vector<HostEvent> events;
        bool question = false;
        std::string questionText;
        int result = 0;
        FrameRecord frame;
        int width = 0;
        int height = 0;
        std::vector<int16_t> pcm;
        bool hasPcm = false;
        size_t skipped = 0;
        Planes picture;
        bool hasPicture = false;
        // What getNextFrame threw (out of memory), thrown again on the rip
        // thread as a one-thread rip would see it.
        std::exception_ptr thrown;
    };

    void produce();
    Item makeItem();
    void push(Item item, bool overBound);
    bool pop(Item& item);
    void replay(const std::vector<HostEvent>& events);
    void makePicture(Item& item);
    void recycle(Planes& planes);
    int direct(FrameRecord& frame, int& width, int& height, const int16_t*& pcm, int& pcmValues);

    // HostDeferral, on the producer thread.
    void record(HostEvent event) override;
    BoxAnswer ask(const std::string& text) override;

    RipSource& source_;
    HostRelay* relay_;
    const int depth_;
    const int64_t frameCap_;
    const PictureStage pictures_;

    std::thread producer_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Item> queue_;
    int framesQueued_ = 0;
    bool stopping_ = false;
    bool producerDone_ = false;
    bool answered_ = false;
    BoxAnswer answer_ = BoxAnswer::No;
    std::string idleStatus_;
    bool idleStatusNew_ = false;
    // Picture planes handed back by the loop, for the producer to reuse.
    std::vector<std::vector<uint8_t>> spare_[3];

    std::vector<HostEvent> pending_;  // producer thread only
    FrameRecord lastDrawn_;           // producer thread only: the last frame with a picture
    Item current_;                    // the frame handed out last
    bool pictureReady_ = false;       // current_ holds the picture of that frame
    size_t skippedTaken_ = 0;
    bool ended_ = false;
};

}  // namespace zembra
