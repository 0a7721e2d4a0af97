// The scanner's device object: the shared HID device with the scanner's reader. In single-report
// mode one read returns one whole report, header included, up to the length the report states.
// In segmented mode each report's six-byte header is dropped and reports are joined for as long
// as each one announces a continuation.
//
// Input report layout: byte 0 report ID; byte 1 L (signed), the position of the last meaningful
// byte; bytes 2-4 header; byte 5 continuation (signed, > 0: another report follows); 6..L data.
#pragma once

#include <cstdint>

#include "hid/hid_device.h"

namespace quen::scanner {

inline constexpr std::uint32_t kReportTimeoutMs = 500;
// A read takes at most this many reports, so a device that announces continuations without end
// cannot hold the caller for more than 64 x 500 ms.
inline constexpr int kMaxReportsPerRead = 64;

class ScannerHIDDevice final : public hid::HIDDevice {
  public:
    // 1 when at least one report arrived; `length` is then the number of bytes stored (at most
    // `capacity`: data beyond it is dropped, but the message is still read to its end, so the
    // next read starts with a new message). 0 when nothing arrived; `length` is left alone.
    std::int32_t ReadReport(std::uint8_t* buffer, std::int32_t capacity, std::int32_t& length);

    // Stores the reading mode and returns it. The mode belongs to the library's one device and
    // survives closing and reopening.
    bool SetMode(bool flag) {
        segmented_ = flag ? 1 : 0;
        return segmented_ != 0;
    }
    bool segmented() const { return segmented_ != 0; }

  private:
    std::uint8_t segmented_ = 0;
};

}  // namespace quen::scanner
