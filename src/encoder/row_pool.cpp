#include "encoder/row_pool.h"

#include "platform/priority.h"

namespace zembra {

RowPool::RowPool(int threads) {
    try {
        for (int n = 1; n < threads; ++n) workers_.emplace_back([this] { workerLoop(); });
    } catch (...) {
        // The workers already started must end before the pool is gone.
        stopWorkers();
        throw;
    }
}

RowPool::~RowPool() {
    finish();
    stopWorkers();
}

void RowPool::stopWorkers() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    rowsWaiting_.notify_all();
    for (std::thread& t : workers_) t.join();
    workers_.clear();
}

void RowPool::start(int rows, std::function<void(int)> job) {
    finish();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job_ = std::move(job);
        rows_ = rows;
        next_ = 0;
        pending_ = rows;
        done_.assign(static_cast<std::size_t>(rows > 0 ? rows : 0), 0);
    }
    rowsWaiting_.notify_all();
}

void RowPool::runNext(std::unique_lock<std::mutex>& lock) {
    const int row = next_++;
    lock.unlock();
    job_(row);
    lock.lock();
    done_[static_cast<std::size_t>(row)] = 1;
    --pending_;
    rowDone_.notify_all();
}

void RowPool::workerLoop() {
    // The owner runs rows itself whenever it waits for one, and has the
    // coding to do besides: it (and a reader ahead of it) gets a core first.
    lowerThisThreadPriority(kWorkerNiceSteps);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        rowsWaiting_.wait(lock, [this] { return stopping_ || next_ < rows_; });
        if (stopping_) return;
        runNext(lock);
    }
}

void RowPool::waitRow(int row) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (row < 0 || row >= rows_) return;
    // Rows nobody has taken run here instead of being waited for: those up
    // to `row` first, then later ones while another thread ends `row`, so
    // the caller works whenever it would otherwise idle.
    while (!done_[static_cast<std::size_t>(row)]) {
        if (next_ < rows_)
            runNext(lock);
        else
            rowDone_.wait(lock);
    }
}

void RowPool::finish() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (next_ < rows_) runNext(lock);
    rowDone_.wait(lock, [this] { return pending_ == 0; });
    rows_ = next_ = 0;
}

}  // namespace zembra
