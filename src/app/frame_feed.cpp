#include "app/frame_feed.h"

#include <utility>

namespace zembra {

namespace {

thread_local HostDeferral* t_deferral = nullptr;

}  // namespace

// ------------------------------------------------------------------ relay

void HostRelay::deferOnThisThread(HostDeferral* deferral) { t_deferral = deferral; }

BoxAnswer HostRelay::messageBox(BoxKind kind, const std::string& text) {
    if (!t_deferral) return target_.messageBox(kind, text);
    if (kind == BoxKind::Question) return t_deferral->ask(text);
    t_deferral->record({HostEvent::Kind::Box, kind, text, 0, 0});
    return BoxAnswer::Ok;
}

void HostRelay::pumpMessages() {
    if (t_deferral)
        t_deferral->record({HostEvent::Kind::Pump, BoxKind::Error, {}, 0, 0});
    else
        target_.pumpMessages();
}

void HostRelay::setStatus(const std::string& text) {
    if (t_deferral)
        t_deferral->record({HostEvent::Kind::Status, BoxKind::Error, text, 0, 0});
    else
        target_.setStatus(text);
}

void HostRelay::setProgress(int position, int range) {
    if (t_deferral)
        t_deferral->record({HostEvent::Kind::Progress, BoxKind::Error, {}, position, range});
    else
        target_.setProgress(position, range);
}

void HostRelay::replay(const HostEvent& event) {
    switch (event.kind) {
        case HostEvent::Kind::Box:
            target_.messageBox(event.box, event.text);
            break;
        case HostEvent::Kind::Status:
            target_.setStatus(event.text);
            break;
        case HostEvent::Kind::Progress:
            target_.setProgress(event.position, event.range);
            break;
        case HostEvent::Kind::Pump:
            target_.pumpMessages();
            break;
    }
}

// ------------------------------------------------------------------- feed

FrameFeed::FrameFeed(RipSource& source, HostRelay* relay, int depth, int64_t frameCap,
                     PictureStage pictures)
    : source_(source),
      relay_(relay),
      depth_(relay ? depth : 0),
      frameCap_(frameCap),
      pictures_(std::move(pictures)) {
    if (depth_ > 0 && frameCap_ > 0) producer_ = std::thread([this] { produce(); });
}

FrameFeed::~FrameFeed() { stop(); }

void FrameFeed::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (producer_.joinable()) producer_.join();
    std::lock_guard lock(mutex_);
    queue_.clear();
    framesQueued_ = 0;
    ended_ = true;
}

void FrameFeed::setIdleStatus(const std::string& text) {
    if (!producer_.joinable()) {
        source_.setIdleStatus(text);
        return;
    }
    std::lock_guard lock(mutex_);
    idleStatus_ = text;
    idleStatusNew_ = true;
}

// The producer thread: the source's calls, frame after frame, until the
// source ends, the cap is reached or the loop stops taking frames.
void FrameFeed::produce() {
    HostRelay::deferOnThisThread(this);
    for (int64_t made = 0; made < frameCap_; ++made) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_) break;
            if (idleStatusNew_) {
                source_.setIdleStatus(idleStatus_);
                idleStatusNew_ = false;
            }
        }
        Item item = makeItem();
        const bool end = item.result == 0 || item.thrown;
        push(std::move(item), false);
        if (end) break;
    }
    HostRelay::deferOnThisThread(nullptr);
    {
        std::lock_guard lock(mutex_);
        producerDone_ = true;
    }
    changed_.notify_all();
}

FrameFeed::Item FrameFeed::makeItem() {
    Item item;
    try {
        const int16_t* pcm = nullptr;
        int values = 0;
        item.result = source_.getNextFrame(item.frame, item.width, item.height, pcm, values);
        // The source's PCM buffer is reused by its next call.
        item.hasPcm = pcm != nullptr;
        if (pcm && values > 0) item.pcm.assign(pcm, pcm + values);
        item.skipped = source_.skippedSectors().size();
        if (item.result && pictures_.make) makePicture(item);
    } catch (...) {
        item = Item{};
        item.thrown = std::current_exception();
    }
    item.events = std::exchange(pending_, {});
    return item;
}

// Into planes the loop handed back when there are some: a few pictures
// circulate between the producer and the loop.
void FrameFeed::makePicture(Item& item) {
    {
        std::lock_guard lock(mutex_);
        for (int i = 0; i < 3; ++i) {
            if (spare_[i].empty()) continue;
            item.picture[i] = std::move(spare_[i].back());
            spare_[i].pop_back();
        }
    }
    uint8_t* planes[3];
    for (int i = 0; i < 3; ++i) {
        if (item.picture[i].size() < pictures_.planeSize[i])
            item.picture[i].resize(pictures_.planeSize[i]);
        planes[i] = item.picture[i].data();
    }
    // A frame without a picture repeats the last one, whose planes the loop
    // may have handed on by now: it is drawn again.
    if (!item.frame.empty()) lastDrawn_ = item.frame;
    item.hasPicture = pictures_.make(lastDrawn_.empty() ? item.frame : lastDrawn_, planes);
}

void FrameFeed::recycle(Planes& planes) {
    std::lock_guard lock(mutex_);
    for (int i = 0; i < 3; ++i)
        if (!planes[i].empty()) spare_[i].push_back(std::move(planes[i]));
}

bool FrameFeed::takePicture(Planes& planes) {
    if (!pictureReady_) return false;
    for (int i = 0; i < 3; ++i) planes[i].swap(current_.picture[i]);
    pictureReady_ = false;
    return true;
}

// Frames wait for room; a question goes in at once, since its answer is
// what the producer waits for.
void FrameFeed::push(Item item, bool overBound) {
    std::unique_lock lock(mutex_);
    if (!overBound) changed_.wait(lock, [this] { return stopping_ || framesQueued_ < depth_; });
    if (stopping_) return;
    if (!item.question) ++framesQueued_;
    queue_.push_back(std::move(item));
    lock.unlock();
    changed_.notify_all();
}

bool FrameFeed::pop(Item& item) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !queue_.empty() || producerDone_; });
    if (queue_.empty()) return false;
    item = std::move(queue_.front());
    queue_.pop_front();
    if (!item.question) --framesQueued_;
    lock.unlock();
    changed_.notify_all();
    return true;
}

void FrameFeed::record(HostEvent event) { pending_.push_back(std::move(event)); }

BoxAnswer FrameFeed::ask(const std::string& text) {
    Item item;
    item.question = true;
    item.events = std::exchange(pending_, {});
    item.questionText = text;
    std::unique_lock lock(mutex_);
    answered_ = false;
    lock.unlock();
    push(std::move(item), true);
    lock.lock();
    // A loop that stopped taking frames answers nothing: No, as an
    // unattended question is answered.
    changed_.wait(lock, [this] { return answered_ || stopping_; });
    return answered_ ? answer_ : BoxAnswer::No;
}

void FrameFeed::replay(const std::vector<HostEvent>& events) {
    for (const HostEvent& e : events) relay_->replay(e);
}

int FrameFeed::direct(FrameRecord& frame, int& width, int& height, const int16_t*& pcm,
                      int& pcmValues) {
    const int r = source_.getNextFrame(frame, width, height, pcm, pcmValues);
    skippedTaken_ = source_.skippedSectors().size();
    return r;
}

int FrameFeed::next(FrameRecord& frame, int& width, int& height, const int16_t*& pcm,
                    int& pcmValues) {
    pcm = nullptr;
    pcmValues = 0;
    pictureReady_ = false;
    if (ended_) return 0;
    if (!producer_.joinable()) return direct(frame, width, height, pcm, pcmValues);
    // The planes the loop gave for the last picture are free from here on.
    recycle(current_.picture);
    for (;;) {
        Item item;
        if (!pop(item)) {
            // The producer made its cap: the source is the loop's again.
            producer_.join();
            return direct(frame, width, height, pcm, pcmValues);
        }
        replay(item.events);
        if (item.question) {
            const BoxAnswer answer = relay_->messageBox(BoxKind::Question, item.questionText);
            {
                std::lock_guard lock(mutex_);
                answer_ = answer;
                answered_ = true;
            }
            changed_.notify_all();
            continue;
        }
        if (item.thrown) {
            ended_ = true;
            producer_.join();
            std::rethrow_exception(item.thrown);
        }
        current_ = std::move(item);
        pictureReady_ = current_.hasPicture;
        skippedTaken_ = current_.skipped;
        if (!current_.result) {
            ended_ = true;
            producer_.join();
            return 0;
        }
        frame = current_.frame;
        width = current_.width;
        height = current_.height;
        // An empty vector's data() may be null or not: the source's own
        // pointer says whether there was a PCM buffer at all.
        static const int16_t kNoSamples = 0;
        pcm = !current_.hasPcm ? nullptr : current_.pcm.empty() ? &kNoSamples : current_.pcm.data();
        pcmValues = int(current_.pcm.size());
        return 1;
    }
}

}  // namespace zembra
