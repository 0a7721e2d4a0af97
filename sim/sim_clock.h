// The simulated bus's clock. Virtual by default: a wait moves the clock on instead of sleeping,
// so a 6000 ms bound is checked exactly and at once. Real (the demo, the JVM tests): bus time is
// the steady clock's since an epoch. It has a lock of its own, never held while waiting, so that
// the bus may read it under the bus's lock.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

namespace quen::hid::sim {

enum class ClockMode { Virtual, Real };

class SimClock {
  public:
    using Steady = std::chrono::steady_clock;

    // Starts again at 0 in `mode`; in real mode bus time 0 is now.
    void Reset(ClockMode mode);
    // Real mode: bus time 0 becomes this moment of the steady clock (nanoseconds from its epoch:
    // CLOCK_MONOTONIC on Linux, which a JVM's System.nanoTime reads too). Before that moment the
    // bus clock reads 0.
    void PinRealEpoch(std::chrono::nanoseconds sinceSteadyEpoch);
    ClockMode mode() const;

    // Bus time in nanoseconds.
    std::int64_t NowNs() const;
    // The steady-clock moment of bus time `ns` (real mode).
    Steady::time_point SteadyAt(std::int64_t ns) const;
    // Virtual mode: moves the clock on to `ns` (never back). Real mode: nothing.
    void AdvanceTo(std::int64_t ns);
    // Returns once bus time `ns` has come: at once on the virtual clock (which moves on to it),
    // after sleeping on the real one. A reset meanwhile does not move the moment of waking.
    void SleepUntil(std::int64_t ns);

  private:
    mutable std::mutex mutex_;
    ClockMode mode_ = ClockMode::Virtual;
    std::int64_t virtualNs_ = 0;
    Steady::time_point epoch_{};
};

}  // namespace quen::hid::sim
