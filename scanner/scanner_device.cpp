#include "scanner/scanner_device.h"

#include "bridge/report_units.h"

namespace quen::scanner {
namespace {

constexpr int kLengthByte = 1;
constexpr int kContinuationByte = 5;
constexpr int kSegmentDataStart = 6;

int SignedByte(std::uint8_t b) {
    return static_cast<std::int8_t>(b);
}

// Appends report bytes [first, last] to the buffer, dropping what does not fit.
template <typename Unit>
void Append(const std::uint8_t* report, int first, int last, Unit* buffer, std::int32_t capacity,
            std::int32_t& stored) {
    if (last < first) {
        return;
    }
    std::int32_t count = last - first + 1;
    if (count > capacity - stored) {
        count = capacity - stored;
    }
    if (count > 0) {
        bridge::StoreReportUnits(buffer + stored, report + first, count);
        stored += count;
    }
}

}  // namespace

template <typename Unit>
bool ScannerHIDDevice::ReadReport(Unit* buffer, std::int32_t capacity, std::int32_t& length) {
    const bool segmented = segmented_.load(std::memory_order_relaxed);
    InputReports reports(*this);
    bool arrived = false;
    std::int32_t stored = 0;
    for (int pass = 0; pass < kMaxReportsPerRead; ++pass) {
        if (reports.Await(kReportTimeoutMs) != hid::IoOutcome::Completed) {
            break;
        }
        const std::uint8_t* report = inputReport();
        // L is a signed byte, so no position past 127 of the report buffer is ever taken.
        const int last = SignedByte(report[kLengthByte]);
        bool final = true;
        if (segmented) {
            final = SignedByte(report[kContinuationByte]) <= 0;
            Append(report, kSegmentDataStart, last, buffer, capacity, stored);
        } else {
            Append(report, 0, last, buffer, capacity, stored);
        }
        arrived = true;
        length = stored;
        if (final) {
            break;
        }
    }
    return arrived;
}

template bool ScannerHIDDevice::ReadReport(std::uint8_t*, std::int32_t, std::int32_t&);
template bool ScannerHIDDevice::ReadReport(std::uint16_t*, std::int32_t, std::int32_t&);

}  // namespace quen::scanner
