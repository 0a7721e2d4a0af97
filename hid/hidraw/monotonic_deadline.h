// A time-out on the monotonic clock, in the few words every hidraw wait needs: start it, ask how
// long is left (rounded up, so a poll never returns before the bound), sleep out the rest.
#pragma once

#include <cerrno>
#include <cstdint>
#include <ctime>

namespace quen::hid::hidraw {

class MonotonicDeadline {
  public:
    explicit MonotonicDeadline(std::uint32_t timeoutMs) {
        clock_gettime(CLOCK_MONOTONIC, &end_);
        end_.tv_sec += static_cast<time_t>(timeoutMs / 1000);
        end_.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
        if (end_.tv_nsec >= 1000000000L) {
            end_.tv_sec += 1;
            end_.tv_nsec -= 1000000000L;
        }
    }

    // Whole milliseconds left, rounded up; 0 once the deadline has passed.
    int RemainingMs() const {
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        const std::int64_t leftNs =
            (static_cast<std::int64_t>(end_.tv_sec) - now.tv_sec) * 1000000000LL +
            (end_.tv_nsec - now.tv_nsec);
        if (leftNs <= 0) {
            return 0;
        }
        return static_cast<int>((leftNs + 999999) / 1000000);
    }

    bool Expired() const { return RemainingMs() == 0; }

    // Sleeps until the deadline; a signal handled on this thread does not cut it short.
    void SleepOut() const {
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &end_, nullptr) == EINTR) {
        }
    }

  private:
    timespec end_{};
};

}  // namespace quen::hid::hidraw
