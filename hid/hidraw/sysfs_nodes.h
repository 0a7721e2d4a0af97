// What sysfs states about the hidraw nodes present: which nodes there are, and for each the
// device's identity and report descriptor. The hidraw platform builds its interface list from
// these; the class folder is a parameter so that tests can lay out a tree of their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quen::hid::hidraw {

// The longest report descriptor the kernel keeps (HID_MAX_DESCRIPTOR_SIZE).
inline constexpr std::size_t kMaxDescriptorSize = 4096;

struct HidrawNode {
    unsigned number = 0;  // N of hidrawN
    std::uint32_t bus = 0;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t descriptorSize = 0;
    std::uint8_t descriptor[kMaxDescriptorSize] = {};
};

// N of a node name "hidrawN" as the kernel writes it: decimal, no sign, no leading zero, short
// enough not to overflow. False for any other name.
bool ParseHidrawName(std::string_view name, unsigned* number);

// The numbers N of the entries hidrawN in `classRoot` ("/sys/class/hidraw"), ascending; other
// entries are ignored. Empty when the folder cannot be read (no hidraw support, no sysfs).
std::vector<unsigned> ListHidrawNodeNumbers(const std::string& classRoot);

// Reads <classRoot>/hidrawN/device/uevent (its HID_ID line: bus, vendor and product in hex, of
// which vendor and product keep their low 16 bits) and <classRoot>/hidrawN/device/
// report_descriptor. False when either is missing or unreadable, the uevent has no well-formed
// HID_ID, or the descriptor is longer than kMaxDescriptorSize; `out` then holds no descriptor
// (descriptorSize 0) and zero IDs. Does not allocate.
bool ReadHidrawNode(const std::string& classRoot, unsigned number, HidrawNode* out);

}  // namespace quen::hid::hidraw
