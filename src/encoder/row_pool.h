#pragma once
// A small pool of worker threads that runs one job over the rows of a
// picture. Rows are handed out in order; the thread that owns the pool joins
// in whenever it waits, so a pool of one thread (no workers) runs every row
// on the caller, in order, just before it is needed.
//
// A row may be made of units (macroblocks) that do not depend on each
// other. The thread that runs such a row takes its units from the left; an
// owner that needs the row while a worker runs it takes the units nobody
// has begun from the right, instead of waiting for a thread that may be
// waiting for a core itself.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace zembra {

class RowPool {
public:
    // The units of one row as a job takes them: next() returns the next
    // unit to run, -1 when none is left, and counts the one it returned
    // before as done.
    class Units {
    public:
        int next();

    private:
        friend class RowPool;
        Units(RowPool& pool, int row, bool fromRight) : pool_(pool), row_(row), right_(fromRight) {}
        RowPool& pool_;
        int row_;
        bool right_;
        bool holding_ = false;
    };
    using UnitJob = std::function<void(int row, Units& units)>;

    // `threads` counts the caller too: 1 (or less) starts no worker.
    explicit RowPool(int threads);
    ~RowPool();
    RowPool(const RowPool&) = delete;
    RowPool& operator=(const RowPool&) = delete;

    int threads() const { return static_cast<int>(workers_.size()) + 1; }

    // Starts `job` over rows 0..rows-1; the workers begin at once. The job
    // must not throw. A running batch is finished first.
    void start(int rows, std::function<void(int)> job);
    // The same over rows of `unitsPerRow` units each, which may run in any
    // order and on two threads at once.
    void start(int rows, int unitsPerRow, UnitJob job);
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
    struct Row {
        // Units nobody has begun: [low 16 bits, high 16 bits).
        std::atomic<std::uint32_t> open{0};
        // Units not done yet.
        std::atomic<int> left{0};
    };

    void workerLoop();
    void stopWorkers();
    // Takes the next row and runs it; called with the lock held, returns
    // with it held.
    void runNext(std::unique_lock<std::mutex>& lock);
    // Runs the job on `row`'s units from one end; the same lock rule.
    void runUnits(std::unique_lock<std::mutex>& lock, int row, bool fromRight);
    // After the caller ran its share of `row`: waits a little, without the
    // lock, for the unit another thread holds; true when the row is done.
    bool awaitLastUnit(std::unique_lock<std::mutex>& lock, int row);
    int claim(int row, bool fromRight);
    void unitDone(int row);

    std::mutex mutex_;
    std::condition_variable rowsWaiting_;  // workers wait for rows
    std::condition_variable rowDone_;      // the owner waits for a row
    UnitJob job_;
    int rows_ = 0;
    int units_ = 1;
    int next_ = 0;      // first row nobody has taken
    int rowsDone_ = 0;  // rows whose units are all done
    int running_ = 0;   // calls of the job not returned yet
    std::vector<char> done_;
    std::vector<char> shared_;  // the owner takes units of the row too
    std::unique_ptr<Row[]> state_;
    int stateRows_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace zembra
