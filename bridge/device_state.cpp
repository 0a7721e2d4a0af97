#include "bridge/device_state.h"

#include <cstdio>
#include <cstring>

#include "hid/interface_search.h"

namespace quen::bridge {
namespace {

using hid::DeviceHealth;

const char* Word(DeviceHealth health) {
    switch (health) {
        case DeviceHealth::Open:
            return "open";
        case DeviceHealth::Searching:
            return "searching";
        case DeviceHealth::Denied:
            return "denied";
        case DeviceHealth::Busy:
            return "busy";
        case DeviceHealth::Closed:
            break;
    }
    return "closed";
}

}  // namespace

void DescribeState(const hid::HIDDevice& device, UsageChoice opened, char* text,
                   std::size_t capacity) {
    if (capacity == 0) {
        return;
    }
    const DeviceHealth health = device.health();
    const int length = std::snprintf(text, capacity, "%s %u", Word(health), device.recoveries());
    if (length < 0 || static_cast<std::size_t>(length) >= capacity) {
        return;
    }
    char* const rest = text + length;
    const std::size_t room = capacity - static_cast<std::size_t>(length);
    if (health == DeviceHealth::Busy) {
        std::snprintf(rest, room, ": another program holds it");
    } else if (health == DeviceHealth::Denied) {
        // Where the last Open would land now, in one walk; nothing is opened.
        hid::InterfaceMatch match;
        char path[hid::kPathCapacity];
        char hint[kStateTextCapacity - 16];
        if (hid::FindFirstInterfaceOf(kMakerVendorId, kMakerUsagePage, opened.usages, opened.count,
                                      &match, path, sizeof path) &&
            hid::platform::AccessHint(path, hint, sizeof hint)) {
            std::snprintf(rest, room, ": %s", hint);
        }
    }
}

}  // namespace quen::bridge
