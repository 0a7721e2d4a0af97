// The simulated bus's clock. Virtual by default: a wait moves the clock on instead of sleeping,
// so a 6000 ms bound is checked exactly and at once. Real (the demo, the JVM tests): bus time, on
// which reports are due, is the steady clock's since an epoch, and time-outs count on the steady
// clock itself, so that a reset (a new epoch) never stretches a wait already begun. It has a lock
// of its own, never held while waiting, so that the bus may read it under the bus's lock.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

namespace quen::sim {

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

    // The clock time-outs count on (the seam's MonotonicNowNs), in nanoseconds: the virtual
    // clock, or the steady clock's own reading.
    std::int64_t NowNs() const;
    // Bus time, in whole milliseconds since 0.
    std::uint64_t BusMs() const;
    // The moment on NowNs's clock when bus time reaches atMs.
    std::int64_t DueNs(std::uint64_t atMs) const;
    // Virtual mode: moves the clock on to `ns` (never back). Real mode: nothing.
    void AdvanceTo(std::int64_t ns);
    // Returns once NowNs() has reached `ns`: at once on the virtual clock (which moves on to it),
    // after sleeping on the real one.
    void SleepUntil(std::int64_t ns);
    // Real mode: the steady-clock moment of NowNs's `ns`.
    static Steady::time_point SteadyAt(std::int64_t ns);

  private:
    mutable std::mutex mutex_;
    ClockMode mode_ = ClockMode::Virtual;
    std::int64_t virtualNs_ = 0;
    Steady::time_point epoch_{};
};

}  // namespace quen::sim
