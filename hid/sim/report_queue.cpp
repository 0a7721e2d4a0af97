#include "hid/sim/report_queue.h"

#include <cstring>

namespace quen::hid::sim {
namespace {
constexpr std::size_t kFirstCapacity = 16;
}  // namespace

bool ReportQueue::Push(std::uint64_t atMs, const std::uint8_t* bytes, std::size_t length) {
    if (!MakeRoom()) {
        return false;
    }
    // Reports nearly always come in arrival order: then this places the report at the back at
    // once. An earlier one moves past the later ones only, after those of its own moment.
    std::size_t position = count_;
    while (position > 0 && At(position - 1).atMs > atMs) {
        At(position) = At(position - 1);
        --position;
    }
    QueuedReport& slot = At(position);
    slot.atMs = atMs;
    slot.length = static_cast<std::uint16_t>(length < kMaxReportBytes ? length : kMaxReportBytes);
    if (slot.length > 0) {
        std::memcpy(slot.bytes, bytes, slot.length);
    }
    ++count_;
    return true;
}

void ReportQueue::Pop() {
    if (count_ > 0) {
        head_ = (head_ + 1) & (capacity_ - 1);
        --count_;
    }
#if defined(__GNUC__)
    if (count_ > 1) {
        // A long queue does not stay in the caches: fetch the report after next while the
        // caller hands this one on, rather than wait for memory at a later read.
        const char* next = reinterpret_cast<const char*>(&slots_[(head_ + 1) & (capacity_ - 1)]);
        __builtin_prefetch(next);
        __builtin_prefetch(next + 64);
    }
#endif
}

bool ReportQueue::MakeRoom() {
    if (count_ < capacity_) {
        return true;
    }
    if (capacity_ >= kMaxReports) {
        return false;
    }
    const std::size_t grown = capacity_ == 0 ? kFirstCapacity : capacity_ * 2;
    std::unique_ptr<QueuedReport[]> slots(new QueuedReport[grown]);
    for (std::size_t i = 0; i < count_; ++i) {
        slots[i] = At(i);
    }
    slots_ = std::move(slots);
    capacity_ = grown;
    head_ = 0;
    return true;
}

}  // namespace quen::hid::sim
