#include "platform/priority.h"

#include <sys/resource.h>

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

}  // namespace zembra
