// The seam's clock on a POSIX system (the hidraw platform, and the benchmarks' null platform):
// CLOCK_MONOTONIC, which no one can set back, and an absolute sleep on it that a signal handled
// on the thread does not cut short.
#include <cerrno>
#include <ctime>

#include "hid/platform.h"

namespace quen::hid::platform {

std::int64_t MonotonicNowNs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

void SleepUntilNs(std::int64_t ns) {
    const timespec end{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &end, nullptr) == EINTR) {
    }
}

}  // namespace quen::hid::platform
