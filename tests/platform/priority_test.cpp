// Thread priorities: a helper thread lowers itself alone, never the thread
// that started it (nor the rest of the process), and no further than 19.

#include "platform/priority.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

namespace zembra {
namespace {

int niceOfThisThread() {
    return ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
}

TEST(ThreadPriority, LoweringTouchesOnlyTheCallingThreadUpToTheLowest) {
    const int before = niceOfThisThread();
    int lowered = 0, again = 0;
    std::thread helper([&] {
        lowerThisThreadPriority(3);
        lowered = niceOfThisThread();
        lowerThisThreadPriority(40);
        again = niceOfThisThread();
    });
    helper.join();
    EXPECT_EQ(lowered, std::min(19, before + 3));
    EXPECT_EQ(again, 19);
    EXPECT_EQ(niceOfThisThread(), before);
    EXPECT_EQ(currentNiceValue(), before);
}

}  // namespace
}  // namespace zembra
