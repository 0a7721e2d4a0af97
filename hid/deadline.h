// A time-out, in the few words every wait needs: how long is left, whether it has passed, sleep
// out the rest. It counts on the platform's monotonic clock (platform.h), so every platform and
// the device object keep time alike, and on the simulated bus a time-out runs on its virtual clock.
//
// A deadline starts lazily: it reads the clock only when somebody first asks how long is left, so
// that a read whose report is already queued, or a write the device takes at once, never reads a
// clock (on a virtual machine a clock read can cost more than the whole read). The wait that asks
// first begins within a few instructions of the operation, so the bound it keeps is the
// operation's own.
#pragma once

#include <cstdint>

#include "hid/platform.h"

namespace quen::hid {

inline constexpr std::int64_t NsFromMs(std::uint32_t ms) {
    return std::int64_t{ms} * 1000000;
}

class Deadline {
  public:
    // Ends timeoutMs after it starts; it starts when first asked.
    explicit Deadline(std::uint32_t timeoutMs) : timeoutMs_(timeoutMs) {}

    // Whole milliseconds left, rounded up, so that a wait for that long never ends before the
    // deadline; 0 once it has passed. Starts the deadline if it has not started.
    std::uint32_t RemainingMs() {
        const std::int64_t leftNs = EndNs() - platform::MonotonicNowNs();
        return leftNs <= 0 ? 0u : static_cast<std::uint32_t>((leftNs + kNsPerMs - 1) / kNsPerMs);
    }
    // For a platform that waits once and needs no clock for it: the whole time-out while nobody
    // has started the deadline (no clock read), otherwise what is left.
    std::uint32_t SingleWaitMs() { return started() ? RemainingMs() : timeoutMs_; }
    bool Expired() { return platform::MonotonicNowNs() >= EndNs(); }
    // Returns once the deadline has passed; a signal on this thread does not cut it short.
    void SleepOut() { platform::SleepUntilNs(EndNs()); }
    // Starts the deadline now if it has not started: for a failure path that must keep the bound
    // of the whole operation across a search.
    void Start() { EndNs(); }
    // The end on the platform's clock, for a platform that waits on a clock of its own.
    std::int64_t EndNs() {
        if (!started()) {
            endNs_ = platform::MonotonicNowNs() + NsFromMs(timeoutMs_);
        }
        return endNs_;
    }
    bool started() const { return endNs_ != kNotStarted; }

  private:
    static constexpr std::int64_t kNsPerMs = NsFromMs(1);
    static constexpr std::int64_t kNotStarted = INT64_MIN;
    std::uint32_t timeoutMs_;
    std::int64_t endNs_ = kNotStarted;
};

}  // namespace quen::hid
