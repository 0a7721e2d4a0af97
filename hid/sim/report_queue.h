// The input reports waiting on one simulated interface, in arrival order. A ring of fixed-size
// report slots that grows only by doubling, up to a cap: queueing and taking a report allocate
// nothing and cost the same however many reports wait.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace quen::hid::sim {

// No read takes more than this of a report (platform.h), so no slot keeps more.
inline constexpr std::size_t kMaxReportBytes = 256;

struct QueuedReport {
    std::uint64_t atMs = 0;
    std::uint16_t length = 0;
    std::uint8_t bytes[kMaxReportBytes] = {};
};

class ReportQueue {
  public:
    // Beyond this many waiting reports a new one is dropped (a test that floods a device).
    static constexpr std::size_t kMaxReports = 65536;

    // Queues a report arriving at atMs; bytes past kMaxReportBytes are left out. Reports for the
    // same moment keep the order they were queued in. False, and nothing queued, when full.
    bool Push(std::uint64_t atMs, const std::uint8_t* bytes, std::size_t length);
    // The earliest report, or null when none waits.
    const QueuedReport* Front() const { return count_ == 0 ? nullptr : &slots_[head_]; }
    void Pop();
    void Clear() { head_ = count_ = 0; }
    std::size_t size() const { return count_; }
    std::size_t capacity() const { return capacity_; }

  private:
    QueuedReport& At(std::size_t position) { return slots_[(head_ + position) & (capacity_ - 1)]; }
    bool MakeRoom();

    std::unique_ptr<QueuedReport[]> slots_;
    std::size_t capacity_ = 0;  // 0 or a power of two
    std::size_t head_ = 0;
    std::size_t count_ = 0;
};

}  // namespace quen::hid::sim
