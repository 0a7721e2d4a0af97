#include "scale/scale_device.h"

#include "bridge/report_units.h"

namespace quen::scale {

template <typename Unit>
bool ScaleHIDDevice::ReadReport(Unit* buffer, std::int32_t capacity, std::int32_t& length) {
    InputReports reports(*this);
    bool arrived = false;
    std::int32_t stored = 0;
    while (capacity - stored >= kRecordSize) {
        if (reports.Await(kQuietTimeoutMs) != hid::IoOutcome::Completed) {
            break;
        }
        bridge::StoreReportUnits(buffer + stored, inputReport(), kRecordSize);
        stored += kRecordSize;
        arrived = true;
        length = stored;
    }
    return arrived;
}

template bool ScaleHIDDevice::ReadReport(std::uint8_t*, std::int32_t, std::int32_t&);
template bool ScaleHIDDevice::ReadReport(std::uint16_t*, std::int32_t, std::int32_t&);

}  // namespace quen::scale
