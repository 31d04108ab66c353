#pragma once
// A small pool of worker threads that runs one job over the rows of a
// picture. Rows are handed out in order; the thread that owns the pool joins
// in whenever it waits, so a pool of one thread (no workers) runs every row
// on the caller, in order, just before it is needed.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace zembra {

class RowPool {
public:
    // `threads` counts the caller too: 1 (or less) starts no worker.
    explicit RowPool(int threads);
    ~RowPool();
    RowPool(const RowPool&) = delete;
    RowPool& operator=(const RowPool&) = delete;

    int threads() const { return static_cast<int>(workers_.size()) + 1; }

    // Starts `job` over rows 0..rows-1; the workers begin at once. The job
    // must not throw. A running batch is finished first.
    void start(int rows, std::function<void(int)> job);
    // Returns once `row` is done, running rows nobody has taken yet on the
    // calling thread meanwhile.
    void waitRow(int row);
    // Returns once every row of the batch is done.
    void finish();
    // start + finish.
    void run(int rows, std::function<void(int)> job) {
        start(rows, std::move(job));
        finish();
    }

    // How much lower the workers run than the thread that made the pool.
    static constexpr int kWorkerNiceSteps = 10;

private:
    void workerLoop();
    void stopWorkers();
    // Takes the next row and runs it; called with the lock held, returns
    // with it held.
    void runNext(std::unique_lock<std::mutex>& lock);

    std::mutex mutex_;
    std::condition_variable rowsWaiting_;  // workers wait for rows
    std::condition_variable rowDone_;      // the owner waits for a row
    std::function<void(int)> job_;
    int rows_ = 0;
    int next_ = 0;     // first row nobody has taken
    int pending_ = 0;  // rows taken or waiting that are not done
    std::vector<char> done_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace zembra
