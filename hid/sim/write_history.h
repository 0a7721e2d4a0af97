// What the writes of one simulated interface put on the wire: the latest ones in a ring of
// fixed-size records, and how many there were in all, so that a long run keeps a bounded history
// and a write copies its report once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "hid/platform.h"
#include "hid/sim/report_queue.h"

namespace quen::hid::sim {

struct WrittenReport {
    std::uint64_t atMs = 0;  // when the write began
    IoOutcome outcome = IoOutcome::Completed;
    std::uint16_t length = 0;
    std::uint8_t bytes[kMaxReportBytes] = {};
};

class WriteHistory {
  public:
    static constexpr std::size_t kKept = 64;

    // Bytes past kMaxReportBytes are left out (no output report is longer). Inline: every write
    // on the bus records one.
    void Record(const std::uint8_t* report, std::size_t length, IoOutcome outcome,
                std::uint64_t atMs) {
        WrittenReport& record = records_[total_ % kKept];
        record.atMs = atMs;
        record.outcome = outcome;
        record.length =
            static_cast<std::uint16_t>(length < kMaxReportBytes ? length : kMaxReportBytes);
        if (record.length > 0) {
            std::memcpy(record.bytes, report, record.length);
        }
        ++total_;
    }
    std::size_t kept() const { return total_ < kKept ? static_cast<std::size_t>(total_) : kKept; }
    std::uint64_t total() const { return total_; }
    // The i-th oldest of the writes kept.
    const WrittenReport& Kept(std::size_t i) const;

  private:
    // Out of line: kept inside, 17 KB per interface would spread the interfaces a search walks
    // over that much memory. Taken once, when the interface is declared; never by a write.
    std::unique_ptr<WrittenReport[]> records_{new WrittenReport[kKept]};
    std::uint64_t total_ = 0;
};

}  // namespace quen::hid::sim
