// The scale's device object: the shared HID device with the scale's block reader. A read joins
// the input reports that follow one another closely into one block of fixed 64-byte records,
// until the scale has been quiet for 50 ms. The reports are not interpreted.
#pragma once

#include <cstdint>

#include "hid/hid_device.h"

namespace quen::scale {

inline constexpr std::uint32_t kQuietTimeoutMs = 50;
inline constexpr std::int32_t kRecordSize = 64;
inline constexpr std::int32_t kBlockCapacity = 16 * kRecordSize;

class ScaleHIDDevice final : public hid::HIDDevice {
  public:
    // True when at least one record was stored; `length` is then 64 times the number of records.
    // A record is bytes 0 to 63 of the report as it arrived (report ID first, zeros past a short
    // report), as bytes (std::uint8_t) or as Java chars made by sign extension (std::uint16_t).
    // The block ends when `capacity` holds no further record: reports that follow stay with the
    // device for the next read, so none is lost. False when no report arrived.
    template <typename Unit>
    bool ReadReport(Unit* buffer, std::int32_t capacity, std::int32_t& length);
};

}  // namespace quen::scale
