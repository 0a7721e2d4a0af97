// A time-out, in the few words every wait needs: start it, ask how long is left, sleep out the
// rest. It counts on the platform's monotonic clock (platform.h), so every platform and the
// device object keep time alike, and on the simulated bus a time-out runs on its virtual clock.
#pragma once

#include <cstdint>

#include "hid/platform.h"

namespace quen::hid {

class Deadline {
  public:
    // Ends timeoutMs from now.
    explicit Deadline(std::uint32_t timeoutMs)
        : endNs_(platform::MonotonicNowNs() + std::int64_t{timeoutMs} * kNsPerMs) {}

    // Whole milliseconds left, rounded up, so that a wait for that long never ends before the
    // deadline; 0 once it has passed.
    std::uint32_t RemainingMs() const {
        const std::int64_t leftNs = endNs_ - platform::MonotonicNowNs();
        return leftNs <= 0 ? 0u : static_cast<std::uint32_t>((leftNs + kNsPerMs - 1) / kNsPerMs);
    }
    bool Expired() const { return platform::MonotonicNowNs() >= endNs_; }
    // Returns once the deadline has passed; a signal on this thread does not cut it short.
    void SleepOut() const { platform::SleepUntilNs(endNs_); }
    // The end on the platform's clock, for a platform that waits on a clock of its own.
    std::int64_t endNs() const { return endNs_; }

  private:
    static constexpr std::int64_t kNsPerMs = 1000000;
    std::int64_t endNs_;
};

}  // namespace quen::hid
