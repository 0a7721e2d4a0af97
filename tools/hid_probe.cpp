// hid_probe: lists the HID interfaces present, in enumeration order, with what the bridges look
// at, and marks the ones the scanner and scale bridges would open. For support staff at a till
// whose scanner "is not found": it shows what the machine actually offers.
#include <cstdio>
#include <cstring>

#include "hid/device_ids.h"
#include "hid/hid_device.h"
#include "hid/platform.h"

namespace {

using namespace quen::hid;

const char* Role(const InterfaceAttributes& attributes, const InterfaceCaps& caps) {
    if (attributes.vendorId != kMakerVendorId || caps.usagePage != kMakerUsagePage) {
        return "";
    }
    if (caps.inputReportByteLength > kReportBufferSize ||
        caps.outputReportByteLength > kReportBufferSize) {
        return "  <- maker's device, reports too long: never opened";
    }
    switch (caps.usage) {
        case kScannerUsage:
            return "  <- scanner";
        case kScannerUsageAlternate:
            return "  <- scanner (second usage)";
        case kScaleUsage:
            return "  <- scale";
        default:
            return "  <- maker's device, unknown usage";
    }
}

void Describe(const char* path) {
    const NativeHandle query = platform::OpenQueryHandle(path);
    if (query == kInvalidHandle) {
        std::printf("  %s\n      cannot be opened\n", path);
        return;
    }
    InterfaceAttributes attributes;
    InterfaceCaps caps;
    if (!platform::QueryAttributes(query, &attributes)) {
        std::printf("  %s\n      no attributes\n", path);
    } else if (!platform::QueryCaps(query, &caps)) {
        std::printf("  %s\n      vendor %04X product %04X, no capabilities\n", path,
                    attributes.vendorId, attributes.productId);
    } else {
        std::printf(
            "  %s\n      vendor %04X product %04X usage page %04X usage %04X"
            " in %u out %u%s\n",
            path, attributes.vendorId, attributes.productId, caps.usagePage, caps.usage,
            caps.inputReportByteLength, caps.outputReportByteLength, Role(attributes, caps));
    }
    platform::CloseQueryHandle(query);
}

}  // namespace

int main() {
    InterfaceList* list = platform::OpenInterfaceList();
    if (list == nullptr) {
        std::printf("the HID interfaces cannot be listed\n");
        return 1;
    }
    static char path[kDevicePathCapacity];
    std::uint32_t index = 0;
    for (;; ++index) {
        std::memset(path, 0, sizeof path);
        const PathStatus status = platform::InterfacePath(list, index, path, sizeof path);
        if (status == PathStatus::End) {
            break;
        }
        if (status == PathStatus::Unusable) {
            std::printf("  (interface %u: path unusable or longer than %u characters)\n", index,
                        kDevicePathCapacity - 1);
            continue;
        }
        Describe(path);
    }
    platform::CloseInterfaceList(list);
    std::printf("%u HID interface(s)\n", index);
    return 0;
}
