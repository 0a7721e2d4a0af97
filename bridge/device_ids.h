// HID identifiers of the maker's devices.
#pragma once

#include <cstdint>

namespace quen::bridge {

inline constexpr std::uint16_t kMakerVendorId = 0x2E5A;
inline constexpr std::uint16_t kMakerUsagePage = 0xFF45;  // vendor-defined page
inline constexpr std::uint16_t kScannerUsage = 0x4A00;
inline constexpr std::uint16_t kScannerUsageAlternate = 0x4B00;
inline constexpr std::uint16_t kScaleUsage = 0x6E00;

}  // namespace quen::bridge
