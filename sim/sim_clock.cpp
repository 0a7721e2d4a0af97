#include "sim/sim_clock.h"

#include <algorithm>
#include <thread>

namespace quen::sim {

void SimClock::Reset(ClockMode mode) {
    std::lock_guard<std::mutex> lock(mutex_);
    mode_ = mode;
    virtualNs_ = 0;
    epoch_ = Steady::now();
}

void SimClock::PinRealEpoch(std::chrono::nanoseconds sinceSteadyEpoch) {
    std::lock_guard<std::mutex> lock(mutex_);
    epoch_ = Steady::time_point(std::chrono::duration_cast<Steady::duration>(sinceSteadyEpoch));
}

ClockMode SimClock::mode() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return mode_;
}

std::int64_t SimClock::NowNs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (mode_ == ClockMode::Virtual) {
        return virtualNs_;
    }
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Steady::now().time_since_epoch())
        .count();
}

std::uint64_t SimClock::BusMs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (mode_ == ClockMode::Virtual) {
        return static_cast<std::uint64_t>(virtualNs_ / 1000000);
    }
    const Steady::time_point now = Steady::now();
    if (now <= epoch_) {
        return 0;  // an epoch pinned a little ahead
    }
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now - epoch_).count());
}

std::int64_t SimClock::DueNs(std::uint64_t atMs) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto atNs = static_cast<std::int64_t>(atMs) * 1000000;
    if (mode_ == ClockMode::Virtual) {
        return atNs;
    }
    return std::chrono::duration_cast<std::chrono::nanoseconds>(epoch_.time_since_epoch()).count() +
           atNs;
}

SimClock::Steady::time_point SimClock::SteadyAt(std::int64_t ns) {
    return Steady::time_point(
        std::chrono::duration_cast<Steady::duration>(std::chrono::nanoseconds(ns)));
}

void SimClock::AdvanceTo(std::int64_t ns) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (mode_ == ClockMode::Virtual) {
        virtualNs_ = std::max(virtualNs_, ns);
    }
}

void SimClock::SleepUntil(std::int64_t ns) {
    if (mode() == ClockMode::Virtual) {
        AdvanceTo(ns);
        return;
    }
    // A steady-clock sleep may end a little early (Windows sleeps in whole timer ticks): the
    // time is checked again until it has really passed.
    const Steady::time_point wake = SteadyAt(ns);
    while (Steady::now() < wake) {
        std::this_thread::sleep_until(wake);
    }
}

}  // namespace quen::sim
