// Both readers against whatever a device might send: any report contents and lengths, any
// arrival times, any caller buffer size. A read must never store past the buffer, must report a
// length within it, and must end: at most 64 reports per scanner read, 16 records per scale read.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "bridge/device_ids.h"
#include "fuzz/fuzz_input.h"
#include "sim/sim_bus.h"
#include "scale/scale_device.h"
#include "scanner/scanner_device.h"

namespace {

using quen::sim::InterfaceSpec;
using quen::sim::SimBus;

constexpr std::uint8_t kGuard = 0xEE;
constexpr std::size_t kGuardBytes = 64;

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

template <typename Device>
void ReadAll(Device& device, std::int32_t capacity, std::int32_t mostPerRead, std::size_t queued) {
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(capacity) + kGuardBytes, kGuard);
    std::size_t reads = 0;
    for (;;) {
        std::int32_t length = -1;
        const std::size_t pending = SimBus::Instance().PendingReports("/fuzz/device");
        if (device.ReadReport(buffer.data(), capacity, length) == 0) {
            Check(length == -1);
            break;
        }
        Check(length >= 0 && length <= capacity);
        const std::size_t taken = pending - SimBus::Instance().PendingReports("/fuzz/device");
        Check(taken >= 1 && taken <= static_cast<std::size_t>(mostPerRead));
        for (std::size_t i = static_cast<std::size_t>(capacity); i < buffer.size(); ++i) {
            Check(buffer[i] == kGuard);
        }
        Check(++reads <= queued);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quen::fuzz::Input in(data, size);
    SimBus& bus = SimBus::Instance();
    bus.Reset();
    InterfaceSpec spec;
    spec.path = "/fuzz/device";
    spec.vendorId = quen::bridge::kMakerVendorId;
    spec.usagePage = quen::bridge::kMakerUsagePage;
    const bool scale = (in.Byte() & 1) != 0;
    const bool segmented = (in.Byte() & 1) != 0;
    spec.usage = scale ? quen::bridge::kScaleUsage : quen::bridge::kScannerUsage;
    spec.inputReportLength = static_cast<std::uint16_t>(1 + in.Byte());  // 1 to 256
    const std::int32_t capacity = in.Word() % 1100;
    bus.AddInterface(spec);

    std::size_t queued = 0;
    std::uint64_t at = 0;
    while (!in.Empty() && queued < 200) {
        at += in.Byte() % 80u;
        std::vector<std::uint8_t> report(in.Byte() % 300u);
        for (auto& b : report)
            b = in.Byte();
        bus.QueueReport(spec.path, at, std::move(report));
        ++queued;
    }

    if (scale) {
        quen::scale::ScaleHIDDevice device;
        Check(device.FindDevice(quen::bridge::kMakerVendorId, quen::bridge::kMakerUsagePage,
                                quen::bridge::kScaleUsage) == 1 &&
              device.OpenDevice() == 1);
        ReadAll(device, capacity, capacity / 64, queued);
        device.CloseDevice();
    } else {
        quen::scanner::ScannerHIDDevice device;
        device.SetMode(segmented);
        Check(device.FindDevice(quen::bridge::kMakerVendorId, quen::bridge::kMakerUsagePage,
                                quen::bridge::kScannerUsage) == 1 &&
              device.OpenDevice() == 1);
        ReadAll(device, capacity, quen::scanner::kMaxReportsPerRead, queued);
        device.CloseDevice();
    }
    return 0;
}
