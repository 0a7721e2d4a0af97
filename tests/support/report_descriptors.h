// HID report descriptors of the maker's devices, for tests that present a device to a real
// kernel.
#pragma once

#include <cstdint>
#include <vector>

namespace quen::test {

// The scanner as one vendor-page collection with unnumbered 64-byte input and output reports.
inline std::vector<std::uint8_t> ScannerReportDescriptor() {
    return {
        0x06, 0x45, 0xFF,  // Usage Page (0xFF45)
        0x0A, 0x00, 0x4A,  // Usage (0x4A00)
        0xA1, 0x01,        // Collection (Application)
        0x15, 0x00,        //   Logical Minimum (0)
        0x26, 0xFF, 0x00,  //   Logical Maximum (255)
        0x75, 0x08,        //   Report Size (8)
        0x95, 0x40,        //   Report Count (64)
        0x09, 0x01,        //   Usage (1)
        0x81, 0x02,        //   Input (Data, Variable, Absolute)
        0x95, 0x40,        //   Report Count (64)
        0x09, 0x02,        //   Usage (2)
        0x91, 0x02,        //   Output (Data, Variable, Absolute)
        0xC0,              // End Collection
    };
}

}  // namespace quen::test
