#include "scanner/scanner_device.h"

#include <cstring>

namespace quen::scanner {
namespace {

constexpr int kLengthByte = 1;
constexpr int kContinuationByte = 5;
constexpr int kSegmentDataStart = 6;

int SignedByte(std::uint8_t b) {
    return static_cast<std::int8_t>(b);
}

// Appends report bytes [first, last] to the buffer, dropping what does not fit.
void Append(const std::uint8_t* report, int first, int last, std::uint8_t* buffer,
            std::int32_t capacity, std::int32_t& stored) {
    if (last < first) {
        return;
    }
    std::int32_t count = last - first + 1;
    if (count > capacity - stored) {
        count = capacity - stored;
    }
    if (count > 0) {
        std::memcpy(buffer + stored, report + first, static_cast<std::size_t>(count));
        stored += count;
    }
}

}  // namespace

std::int32_t ScannerHIDDevice::ReadReport(std::uint8_t* buffer, std::int32_t capacity,
                                          std::int32_t& length) {
    std::int32_t result = 0;
    std::int32_t stored = 0;
    for (int pass = 0; pass < kMaxReportsPerRead; ++pass) {
        if (AwaitInputReport(kReportTimeoutMs) != hid::IoOutcome::Completed) {
            break;
        }
        const std::uint8_t* report = inputReport();
        // L is a signed byte, so no position past 127 of the 256-byte buffer is ever taken.
        const int last = SignedByte(report[kLengthByte]);
        bool final = true;
        if (segmented_ != 0) {
            final = SignedByte(report[kContinuationByte]) <= 0;
            Append(report, kSegmentDataStart, last, buffer, capacity, stored);
        } else {
            Append(report, 0, last, buffer, capacity, stored);
        }
        result = 1;
        length = stored;
        if (final) {
            break;
        }
    }
    return result;
}

}  // namespace quen::scanner
