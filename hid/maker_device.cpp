#include "hid/maker_device.h"

namespace quen::hid {

bool FindMakerDevice(HIDDevice& device, UsageChoice choice) {
    for (std::size_t i = 0; i < choice.count; ++i) {
        if (device.FindDevice(kMakerVendorId, kMakerUsagePage, choice.usages[i]) != 0) {
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
    return FindMakerDevice(device, choice) && device.OpenDevice() != 0;
}

}  // namespace quen::hid
