#pragma once
// One job at a time on a thread beside the caller: run() hands it over and
// returns, wait() returns once it is done. The AVI writer encodes a frame's
// MP3 sound here while it compresses the frame's picture.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace zembra::avi {

class SideThread {
public:
    SideThread() : thread_([this] { loop(); }) {}
    ~SideThread() {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    SideThread(const SideThread&) = delete;
    SideThread& operator=(const SideThread&) = delete;

    // Starts a job; the one before must have been waited for.
    void run(std::function<void()> job) {
        {
            std::lock_guard lock(mutex_);
            job_ = std::move(job);
            busy_ = true;
        }
        changed_.notify_all();
    }
    void wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !busy_; });
    }

private:
    void loop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return quit_ || busy_; });
            if (busy_) {
                std::function<void()> job = std::move(job_);
                lock.unlock();
                job();
                lock.lock();
                busy_ = false;
                changed_.notify_all();
                continue;
            }
            return;
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<void()> job_;
    bool busy_ = false;
    bool quit_ = false;
    std::thread thread_;  // last: started once the members above exist
};

}  // namespace zembra::avi
