#pragma once
// One job at a time on a thread beside the caller: run() hands it over and
// returns, wait() returns once it is done; a job the thread has not begun by
// then runs on the waiting caller instead (the thread may be waiting for a
// core). The AVI writer encodes a frame's MP3 sound here while it compresses
// the frame's picture.

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
            begun_ = false;
        }
        changed_.notify_all();
    }
    void wait() {
        std::unique_lock lock(mutex_);
        if (busy_ && !begun_) {
            runJob(lock);
            return;
        }
        changed_.wait(lock, [this] { return !busy_; });
    }

private:
    void loop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return quit_ || (busy_ && !begun_); });
            if (!busy_ || begun_) return;
            runJob(lock);
        }
    }
    // Runs the waiting job with the lock let go meanwhile.
    void runJob(std::unique_lock<std::mutex>& lock) {
        begun_ = true;
        std::function<void()> job = std::move(job_);
        lock.unlock();
        job();
        lock.lock();
        busy_ = false;
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<void()> job_;
    bool busy_ = false;   // a job was handed over and is not done
    bool begun_ = false;  // ... and the thread or the caller runs it
    bool quit_ = false;
    std::thread thread_;  // last: started once the members above exist
};

}  // namespace zembra::avi
