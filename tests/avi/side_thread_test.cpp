// The side thread beside the AVI writer: every job handed over runs exactly
// once and is done when wait() returns, whether the thread or the waiting
// caller (when the thread had not begun it) ran it.

#include "avi/side_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace zembra::avi {
namespace {

TEST(SideThread, EachJobRunsOnceAndIsDoneWhenWaitedForOnEitherThread) {
    const std::thread::id caller = std::this_thread::get_id();
    std::vector<int> done;
    std::atomic<int> ran{0};
    int onCaller = 0, beside = 0;
    {
        SideThread side;
        for (int job = 0; job < 400; ++job) {
            side.run([&, job] {
                done.push_back(job);
                ++(std::this_thread::get_id() == caller ? onCaller : beside);
                ++ran;
            });
            // Now and then the thread is given the time to run the job.
            for (int ms = 0; job % 4 == 0 && ran < job + 1 && ms < 2000; ++ms)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            side.wait();
            ASSERT_EQ(done.size(), size_t(job) + 1);
            EXPECT_EQ(done.back(), job);
        }
        // A job handed over and never waited for still runs before the
        // thread ends.
        side.run([&] { done.push_back(-1); });
    }
    ASSERT_EQ(done.size(), 401u);
    EXPECT_EQ(done.back(), -1);
    EXPECT_EQ(onCaller + beside, 400);
    EXPECT_GE(beside, 100);
}

}  // namespace
}  // namespace zembra::avi
