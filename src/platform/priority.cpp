#include "platform/priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace zembra {

PriorityClass priorityFromChoice(int choice) {
    switch (choice) {
        case 1:
            return PriorityClass::Idle;
        case 2:
            return PriorityClass::High;
        case 3:
            return PriorityClass::RealTime;
        default:
            return PriorityClass::Normal;
    }
}

int niceValueOf(PriorityClass priority) {
    switch (priority) {
        case PriorityClass::Idle:
            return 19;
        case PriorityClass::High:
            return -10;
        case PriorityClass::RealTime:
            return -20;
        case PriorityClass::Normal:
            break;
    }
    return 0;
}

bool setProcessPriority(PriorityClass priority) {
    return ::setpriority(PRIO_PROCESS, 0, niceValueOf(priority)) == 0;
}

int currentNiceValue() {
    errno = 0;
    int value = ::getpriority(PRIO_PROCESS, 0);
    return errno ? 0 : value;
}

void lowerThisThreadPriority(int steps) {
    // Linux keeps a nice value for each thread; the thread's id names it.
    const auto thread = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    const int now = ::getpriority(PRIO_PROCESS, thread);
    if (errno) return;
    (void)::setpriority(PRIO_PROCESS, thread, std::min(19, now + steps));
}

}  // namespace zembra
