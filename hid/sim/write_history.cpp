#include "hid/sim/write_history.h"

#include <cstring>

namespace quen::hid::sim {

void WriteHistory::Record(const std::uint8_t* report, std::size_t length, IoOutcome outcome,
                          std::uint64_t atMs) {
    WrittenReport& record = records_[total_ % kKept];
    record.atMs = atMs;
    record.outcome = outcome;
    record.length = static_cast<std::uint16_t>(length < kMaxReportBytes ? length : kMaxReportBytes);
    if (record.length > 0) {
        std::memcpy(record.bytes, report, record.length);
    }
    ++total_;
}

const WrittenReport& WriteHistory::Kept(std::size_t i) const {
    const std::uint64_t oldest = total_ - kept();
    return records_[(oldest + i) % kKept];
}

}  // namespace quen::hid::sim
