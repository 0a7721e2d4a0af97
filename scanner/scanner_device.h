// The scanner's device object: the shared HID device with the scanner's reader. In single-report
// mode one read returns one whole report, header included, up to the length the report states.
// In segmented mode each report's six-byte header is dropped and reports are joined for as long
// as each one announces a continuation.
//
// Input report layout: byte 0 report ID; byte 1 L (signed), the position of the last meaningful
// byte; bytes 2-4 header; byte 5 continuation (signed, > 0: another report follows); 6..L data.
#pragma once

#include <atomic>
#include <cstdint>

#include "hid/hid_device.h"

namespace quen::scanner {

inline constexpr std::uint32_t kReportTimeoutMs = 500;
// A read takes at most this many reports, so a device that announces continuations without end
// cannot hold the caller for more than 64 x 500 ms.
inline constexpr int kMaxReportsPerRead = 64;

class ScannerHIDDevice final : public hid::HIDDevice {
  public:
    // True when at least one report arrived; `length` is then the number of units stored (at
    // most `capacity`: data beyond it is dropped, but the message is still read to its end, so
    // the next read starts with a new message). False when nothing arrived; `length` is left
    // alone. A unit is a report byte (std::uint8_t), or a Java char made from it by sign
    // extension (std::uint16_t), widened straight from the input report.
    template <typename Unit>
    bool ReadReport(Unit* buffer, std::int32_t capacity, std::int32_t& length);

    // Stores the reading mode and returns it. The mode belongs to the library's one device and
    // survives closing and reopening; it may be set from any thread, and takes effect at the
    // next read.
    bool SetMode(bool flag) {
        segmented_.store(flag, std::memory_order_relaxed);
        return flag;
    }
    bool segmented() const { return segmented_.load(std::memory_order_relaxed); }

  private:
    std::atomic<bool> segmented_{false};
};

}  // namespace quen::scanner
