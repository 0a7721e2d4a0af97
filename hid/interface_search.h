// The search that FindDevice and DeviceExists share: walks the interfaces present in
// enumeration order and stops at the first one of the vendor with the asked usage page and usage.
#pragma once

#include <cstdint>

#include "hid/platform.h"

namespace quen::hid {

struct InterfaceMatch {
    InterfaceAttributes attributes;
    InterfaceCaps caps;
};

// True when a matching interface is present; then `match` and `path` (capacity bytes) describe
// the first one. Every list and query handle taken is released before it returns. Interfaces
// whose reports do not fit the device object's buffers, or whose path is longer than capacity - 1,
// never match.
bool FindFirstInterface(std::int32_t vendorId, std::int32_t usagePage, std::int32_t usage,
                        InterfaceMatch* match, char* path, std::uint32_t capacity);

}  // namespace quen::hid
