#include "bridge/maker_device.h"

namespace quen::bridge {

bool FindMakerDevice(HIDDevice& device, UsageChoice choice) {
    for (std::size_t i = 0; i < choice.count; ++i) {
        if (device.FindDevice(kMakerVendorId, kMakerUsagePage, choice.usages[i])) {
            return true;
        }
    }
    return false;
}

bool MakerDeviceExists(const HIDDevice& device, UsageChoice choice) {
    for (std::size_t i = 0; i < choice.count; ++i) {
        if (device.DeviceExists(kMakerVendorId, kMakerUsagePage, choice.usages[i])) {
            return true;
        }
    }
    return false;
}

bool OpenMakerDevice(HIDDevice& device, UsageChoice choice) {
    if (!FindMakerDevice(device, choice)) {
        return false;
    }
    // A device that comes back after a reseat is taken by the same order of preference.
    device.SearchAgainWith(choice.usages, choice.count);
    return device.OpenDevice();
}

}  // namespace quen::bridge
