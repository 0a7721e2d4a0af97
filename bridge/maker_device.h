// How the bridges (and the probe) pick the maker's device: by vendor, usage page and one usage
// after another, in a fixed order of preference. One place, so that what the probe reports as
// "the scanner" is exactly what the scanner bridge opens.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bridge/device_ids.h"
#include "hid/hid_device.h"

namespace quen::bridge {

using hid::HIDDevice;

struct UsageChoice {
    const std::int32_t* usages;  // in order of preference
    std::size_t count;
};

inline constexpr std::int32_t kScannerUsageOrder[] = {kScannerUsage, kScannerUsageAlternate};
inline constexpr std::int32_t kScaleUsageOrder[] = {kScaleUsage};
inline constexpr UsageChoice kScannerChoice{kScannerUsageOrder, 2};
inline constexpr UsageChoice kScaleChoice{kScaleUsageOrder, 1};

// Searches for the usages in order and remembers the first that is present: a device with an
// earlier usage wins even when it enumerates after one with a later usage. True when found.
bool FindMakerDevice(HIDDevice& device, UsageChoice choice);

// True when a device with one of the usages is present; changes nothing.
bool MakerDeviceExists(const HIDDevice& device, UsageChoice choice);

// FindMakerDevice, then open the channels. True when a device was found, even if its channels
// then failed to open (reads and writes fail quietly after that).
bool OpenMakerDevice(HIDDevice& device, UsageChoice choice);

}  // namespace quen::bridge
