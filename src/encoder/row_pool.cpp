#include "encoder/row_pool.h"

#include <algorithm>
#include <chrono>

#include "platform/priority.h"

namespace zembra {

namespace {

// A hint to the core that this thread is waiting in a loop.
inline void pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

constexpr std::uint32_t span(int low, int high) {
    return static_cast<std::uint32_t>(high) << 16 | static_cast<std::uint32_t>(low);
}

}  // namespace

int RowPool::Units::next() {
    // The next unit is claimed before the last is counted: once a row's
    // last unit is counted, nothing of the batch is touched here again.
    const int unit = pool_.claim(row_, right_);
    if (holding_) pool_.unitDone(row_);
    holding_ = unit >= 0;
    return unit;
}

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
    start(rows, 1, [job = std::move(job)](int row, Units& units) {
        while (units.next() >= 0) job(row);
    });
}

void RowPool::start(int rows, int unitsPerRow, UnitJob job) {
    finish();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job_ = std::move(job);
        rows_ = std::max(rows, 0);
        units_ = std::clamp(unitsPerRow, 1, 0xFFFF);
        next_ = 0;
        rowsDone_ = 0;
        done_.assign(static_cast<std::size_t>(rows_), 0);
        shared_.assign(static_cast<std::size_t>(rows_), 0);
        if (rows_ > stateRows_) {
            state_ = std::make_unique<Row[]>(static_cast<std::size_t>(rows_));
            stateRows_ = rows_;
        }
        for (int r = 0; r < rows_; ++r) {
            state_[r].open.store(span(0, units_), std::memory_order_relaxed);
            state_[r].left.store(units_, std::memory_order_relaxed);
        }
    }
    rowsWaiting_.notify_all();
}

int RowPool::claim(int row, bool fromRight) {
    std::atomic<std::uint32_t>& open = state_[row].open;
    std::uint32_t v = open.load(std::memory_order_relaxed);
    for (;;) {
        const int low = static_cast<int>(v & 0xFFFF), high = static_cast<int>(v >> 16);
        if (low >= high) return -1;
        const std::uint32_t taken = fromRight ? span(low, high - 1) : span(low + 1, high);
        if (open.compare_exchange_weak(v, taken, std::memory_order_relaxed))
            return fromRight ? high - 1 : low;
    }
}

void RowPool::unitDone(int row) {
    // The last unit's thread has seen every other unit's results through
    // the count, and hands them on with the lock.
    if (state_[row].left.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        done_[static_cast<std::size_t>(row)] = 1;
        ++rowsDone_;
    }
    rowDone_.notify_all();
}

void RowPool::runUnits(std::unique_lock<std::mutex>& lock, int row, bool fromRight) {
    ++running_;
    lock.unlock();
    Units units(*this, row, fromRight);
    job_(row, units);
    lock.lock();
    if (--running_ == 0) rowDone_.notify_all();
}

void RowPool::runNext(std::unique_lock<std::mutex>& lock) { runUnits(lock, next_++, false); }

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
    // to `row` first. A row of units another thread runs is shared: this
    // thread takes its units from the other end, then waits a moment for
    // the one the other thread holds. Beyond that the row is waited for
    // with later rows run meanwhile, so the caller works whenever it would
    // otherwise idle (the other thread may be waiting for a core).
    const std::size_t r = static_cast<std::size_t>(row);
    while (!done_[r]) {
        if (next_ <= row) {
            runNext(lock);
        } else if (units_ > 1 && !shared_[r]) {
            shared_[r] = 1;
            runUnits(lock, row, true);
            // What is left is the one unit the other thread holds: a moment
            // of waiting for it costs less than a sleep and a wake-up.
            if (awaitLastUnit(lock, row)) return;
        } else if (next_ < rows_) {
            runNext(lock);
        } else {
            rowDone_.wait(lock);
        }
    }
}

bool RowPool::awaitLastUnit(std::unique_lock<std::mutex>& lock, int row) {
    // A macroblock takes a microsecond or two; longer, and the other thread
    // is likely waiting for a core, which sleeping hands it.
    constexpr auto kLongest = std::chrono::microseconds(20);
    const std::atomic<int>& left = state_[row].left;
    lock.unlock();
    const auto until = std::chrono::steady_clock::now() + kLongest;
    bool done = false;
    for (int n = 1; !(done = left.load(std::memory_order_acquire) == 0); ++n) {
        pause();
        if (n % 16 == 0 && std::chrono::steady_clock::now() > until) break;
    }
    lock.lock();
    return done;
}

void RowPool::finish() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (next_ < rows_) runNext(lock);
    rowDone_.wait(lock, [this] { return rowsDone_ == rows_ && running_ == 0; });
    rows_ = next_ = rowsDone_ = 0;
}

}  // namespace zembra
