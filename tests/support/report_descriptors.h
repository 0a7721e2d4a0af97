// Report descriptors of real and of the maker's devices, as a hidraw node's sysfs file holds
// them: for the parser's tests and for any test that lays out a sysfs tree.
#pragma once

#include <cstdint>
#include <vector>

namespace quen::test {

// One of the maker's devices without numbered reports: vendor page 0xFF45, the given usage, and
// input and output reports of the given lengths (one byte more each, counted with the ID byte).
inline std::vector<std::uint8_t> MakerDescriptor(std::uint16_t usage, std::uint16_t inputBytes,
                                                 std::uint16_t outputBytes) {
    const auto lo = [](std::uint16_t v) { return static_cast<std::uint8_t>(v & 0xFF); };
    const auto hi = [](std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); };
    // clang-format off
    return {
        0x06, 0x45, 0xFF,                           // Usage Page (0xFF45)
        0x0A, lo(usage), hi(usage),                 // Usage
        0xA1, 0x01,                                 // Collection (Application)
        0x15, 0x00, 0x26, 0xFF, 0x00,               //   Logical 0..255
        0x75, 0x08,                                 //   Report Size (8)
        0x96, lo(inputBytes), hi(inputBytes),       //   Report Count
        0x09, 0x01, 0x81, 0x02,                     //   Usage (1), Input (Data, Variable)
        0x96, lo(outputBytes), hi(outputBytes),     //   Report Count
        0x09, 0x02, 0x91, 0x02,                     //   Usage (2), Output (Data, Variable)
        0xC0,                                       // End Collection
    };
    // clang-format on
}

// The maker's scanner without numbered reports: usage 0x4A00, 64-byte input and output reports
// (65 bytes each, counted with the ID byte).
inline std::vector<std::uint8_t> MakerScannerDescriptor() {
    return {
        0x06, 0x45, 0xFF, 0x0A, 0x00, 0x4A,  // Usage Page (0xFF45), Usage (0x4A00)
        0xA1, 0x01,                          // Collection (Application)
        0x15, 0x00, 0x26, 0xFF, 0x00,        //   Logical 0..255
        0x75, 0x08, 0x95, 0x40,              //   64 bytes
        0x09, 0x01, 0x81, 0x02,              //   Usage (1), Input (Data, Variable)
        0x09, 0x02, 0x91, 0x02,              //   Usage (2), Output (Data, Variable)
        0xC0,                                // End Collection
    };
}

// A scanner and a scale behind one node, with numbered reports: collection 1 (usage 0x4A00)
// sends ID 1 input of 63 bytes and takes ID 1 output of 31; collection 2 (usage 0x6E00) sends
// ID 2 input of 7 bytes and takes ID 2 output of 2.
inline std::vector<std::uint8_t> ScannerAndScaleDescriptor() {
    return {
        0x06, 0x45, 0xFF, 0x0A, 0x00, 0x4A,  // Usage Page (0xFF45), Usage (0x4A00)
        0xA1, 0x01, 0x85, 0x01,              // Collection (Application), Report ID (1)
        0x75, 0x08, 0x95, 0x3F,              //   63 bytes
        0x09, 0x01, 0x81, 0x02,              //   Usage (1), Input
        0x95, 0x1F, 0x09, 0x02, 0x91, 0x02,  //   31 bytes: Usage (2), Output
        0xC0,                                // End Collection
        0x0A, 0x00, 0x6E,                    // Usage (0x6E00)
        0xA1, 0x01, 0x85, 0x02,              // Collection (Application), Report ID (2)
        0x95, 0x07, 0x09, 0x01, 0x81, 0x02,  //   7 bytes: Usage (1), Input
        0x95, 0x02, 0x09, 0x02, 0x91, 0x02,  //   2 bytes: Usage (2), Output
        0xC0,                                // End Collection
    };
}

// The boot keyboard of the HID class definition's appendix: page 1, usage 6; 8 input bytes
// (modifiers, reserved, six key codes) and 5 LED bits padded to one output byte.
inline std::vector<std::uint8_t> BootKeyboardDescriptor() {
    return {
        0x05, 0x01, 0x09, 0x06, 0xA1, 0x01,  // Generic Desktop, Keyboard, Application
        0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7,  //   Key Codes, modifiers E0-E7
        0x15, 0x00, 0x25, 0x01, 0x75, 0x01,  //   0..1, 1 bit
        0x95, 0x08, 0x81, 0x02,              //   8 of them: Input (Data, Variable)
        0x95, 0x01, 0x75, 0x08, 0x81, 0x01,  //   1 byte: Input (Constant), reserved
        0x95, 0x05, 0x75, 0x01,              //   5 bits
        0x05, 0x08, 0x19, 0x01, 0x29, 0x05,  //   LEDs 1-5
        0x91, 0x02,                          //   Output (Data, Variable)
        0x95, 0x01, 0x75, 0x03, 0x91, 0x01,  //   3 bits: Output (Constant), padding
        0x95, 0x06, 0x75, 0x08,              //   6 bytes
        0x15, 0x00, 0x25, 0x65,              //   0..101
        0x05, 0x07, 0x19, 0x00, 0x29, 0x65,  //   Key Codes 0-101
        0x81, 0x00,                          //   Input (Data, Array)
        0xC0,                                // End Collection
    };
}

// The boot mouse of the same appendix: page 1, usage 2; 3 buttons, 5 bits of padding, X and Y in
// a Physical collection nested in the Application one: 3 input bytes, no output.
inline std::vector<std::uint8_t> BootMouseDescriptor() {
    return {
        0x05, 0x01, 0x09, 0x02, 0xA1, 0x01,  // Generic Desktop, Mouse, Application
        0x09, 0x01, 0xA1, 0x00,              //   Pointer, Physical
        0x05, 0x09, 0x19, 0x01, 0x29, 0x03,  //     Buttons 1-3
        0x15, 0x00, 0x25, 0x01,              //     0..1
        0x95, 0x03, 0x75, 0x01, 0x81, 0x02,  //     3 bits: Input (Data, Variable)
        0x95, 0x01, 0x75, 0x05, 0x81, 0x01,  //     5 bits: Input (Constant)
        0x05, 0x01, 0x09, 0x30, 0x09, 0x31,  //     X, Y
        0x15, 0x81, 0x25, 0x7F,              //     -127..127
        0x75, 0x08, 0x95, 0x02, 0x81, 0x06,  //     2 bytes: Input (Data, Variable, Relative)
        0xC0,                                //   End Collection
        0xC0,                                // End Collection
    };
}

}  // namespace quen::test
