#include "scale/scale_device.h"

#include <cstring>

namespace quen::scale {

std::int32_t ScaleHIDDevice::ReadReport(std::uint8_t* buffer, std::int32_t capacity,
                                        std::int32_t& length) {
    std::int32_t result = 0;
    std::int32_t stored = 0;
    while (capacity - stored >= kRecordSize) {
        if (AwaitInputReport(kQuietTimeoutMs) != hid::IoOutcome::Completed) {
            break;
        }
        std::memcpy(buffer + stored, inputReport(), kRecordSize);
        stored += kRecordSize;
        result = 1;
        length = stored;
    }
    return result;
}

}  // namespace quen::scale
