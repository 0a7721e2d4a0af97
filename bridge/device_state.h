// The state of a bridge's device in words a till can show, as the bridges' DeviceState hands it
// to Java: "WORD RECOVERIES" or "WORD RECOVERIES: HINT", where WORD is one of
//   closed     never opened, or closed
//   open       open, and its last read or write reached the device
//   searching  its device has gone, and the library searches for it
//   denied     found, but this user may not open it (HINT: what to do about it)
//   busy       found, but another program holds it
// and RECOVERIES counts the times the library found the device again since the last Open.
// Examples: "open 0", "searching 2", "denied 0: the udev rule gives it to group plugdev, and this
// user is not in it: add the user to that group and start again". The hint is the probe's.
#pragma once

#include <cstddef>

#include "bridge/maker_device.h"
#include "hid/hid_device.h"

namespace quen::bridge {

// Room for any state text, hint included.
inline constexpr std::size_t kStateTextCapacity = 512;

// Writes the state into `text` (capacity bytes, NUL-terminated). `opened` is the device the last
// Open asked for: for a denied device, its hint is looked up by searching for it (never opening
// it). Never blocks on a device; a search asks every HID interface present.
void DescribeState(const hid::HIDDevice& device, UsageChoice opened, char* text,
                   std::size_t capacity);

}  // namespace quen::bridge
