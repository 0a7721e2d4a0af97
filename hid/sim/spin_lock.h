// The simulated bus's lock. Every call on the bus holds it for a few dozen instructions and
// never waits while holding it (waits release it), so a test-and-set lock serves: taking it is
// one atomic exchange and releasing it a plain store, where a mutex costs two atomic operations
// and a call each way, more than the rest of a read or write on the bus. A thread that finds it
// taken yields instead of spinning against the holder, which on a busy machine may have been
// preempted.
#pragma once

#include <atomic>
#include <thread>

namespace quen::hid::sim {

class SpinLock {
  public:
    void lock() noexcept {
        while (taken_.exchange(true, std::memory_order_acquire)) {
            while (taken_.load(std::memory_order_relaxed)) {
                std::this_thread::yield();
            }
        }
    }
    bool try_lock() noexcept {
        return !taken_.load(std::memory_order_relaxed) &&
               !taken_.exchange(true, std::memory_order_acquire);
    }
    void unlock() noexcept { taken_.store(false, std::memory_order_release); }

  private:
    std::atomic<bool> taken_{false};
};

}  // namespace quen::hid::sim
