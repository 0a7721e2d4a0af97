// What the native side itself costs per call, apart from waiting for the device: the search on a
// till with many HID interfaces, a segmented scanner message, a full scale block, and the
// widening of a 1024-byte read into Java chars. Runs on the simulated bus's virtual clock, so
// the numbers include the simulated platform's own bookkeeping (an upper bound for ours).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "hid/hid_device.h"
#include "hid/java_reports.h"
#include "sim/sim_bus.h"
#include "scale/scale_device.h"
#include "scanner/scanner_device.h"

namespace {

using quen::hid::sim::InterfaceSpec;
using quen::hid::sim::SimBus;

InterfaceSpec Interface(const std::string& path, std::uint16_t vendor, std::uint16_t usage) {
    InterfaceSpec spec;
    spec.path = path;
    spec.vendorId = vendor;
    spec.usagePage = vendor == 0x2E5A ? 0xFF45 : 0x0001;
    spec.usage = usage;
    return spec;
}

void BM_SearchBehindForeignInterfaces(benchmark::State& state) {
    SimBus::Instance().Reset();
    for (int i = 0; i < state.range(0); ++i) {
        SimBus::Instance().AddInterface(Interface("/bench/other" + std::to_string(i), 0x845E, 6));
    }
    SimBus::Instance().AddInterface(Interface("/bench/scanner", 0x2E5A, 0x4A00));
    quen::hid::HIDDevice device;
    for (auto _ : state) {
        benchmark::DoNotOptimize(device.FindDevice(0x2E5A, 0xFF45, 0x4A00));
    }
    state.SetItemsProcessed(state.iterations() * (state.range(0) + 1));
}
BENCHMARK(BM_SearchBehindForeignInterfaces)->Arg(4)->Arg(16)->Arg(32)->Arg(256);

// Opening and closing the channels of a found device: the bus's handle bookkeeping, which must
// not grow with the number of handles ever opened.
void BM_OpenAndCloseChannels(benchmark::State& state) {
    SimBus::Instance().Reset();
    SimBus::Instance().AddInterface(Interface("/bench/scanner", 0x2E5A, 0x4A00));
    quen::hid::HIDDevice device;
    device.FindDevice(0x2E5A, 0xFF45, 0x4A00);
    for (auto _ : state) {
        device.OpenDevice();
        device.CloseDevice();
    }
}
BENCHMARK(BM_OpenAndCloseChannels);

// One single-report read while 10,000 further reports wait behind it: a read must not cost
// time in proportion to what is still queued.
void BM_ReadWith10000Queued(benchmark::State& state) {
    SimBus& bus = SimBus::Instance();
    bus.Reset();
    bus.AddInterface(Interface("/bench/scanner", 0x2E5A, 0x4A00));
    quen::scanner::ScannerHIDDevice device;
    device.FindDevice(0x2E5A, 0xFF45, 0x4A00);
    device.OpenDevice();
    std::vector<std::uint8_t> report(64, 0x41);
    report[1] = 20;
    for (int i = 0; i < 10000; ++i) {
        bus.QueueReport("/bench/scanner", 0, report);
    }
    std::uint8_t buffer[1024];
    for (auto _ : state) {
        state.PauseTiming();
        bus.QueueReport("/bench/scanner", 0, report);
        state.ResumeTiming();
        std::int32_t length = 0;
        benchmark::DoNotOptimize(device.ReadReport(buffer, sizeof buffer, length));
    }
    device.CloseDevice();
}
BENCHMARK(BM_ReadWith10000Queued);

void BM_SegmentedMessageOf20Reports(benchmark::State& state) {
    SimBus& bus = SimBus::Instance();
    bus.Reset();
    bus.AddInterface(Interface("/bench/scanner", 0x2E5A, 0x4A00));
    quen::scanner::ScannerHIDDevice device;
    device.SetMode(true);
    device.FindDevice(0x2E5A, 0xFF45, 0x4A00);
    device.OpenDevice();
    std::vector<std::uint8_t> report(64, 0x41);
    report[1] = 62;
    std::uint8_t buffer[1024];
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < 20; ++i) {
            report[5] = i < 19 ? 1 : 0;
            bus.QueueReport("/bench/scanner", bus.NowMs(), report);
        }
        state.ResumeTiming();
        std::int32_t length = 0;
        benchmark::DoNotOptimize(device.ReadReport(buffer, sizeof buffer, length));
    }
    device.CloseDevice();
}
BENCHMARK(BM_SegmentedMessageOf20Reports);

void BM_ScaleBlockOf16Records(benchmark::State& state) {
    SimBus& bus = SimBus::Instance();
    bus.Reset();
    bus.AddInterface(Interface("/bench/scale", 0x2E5A, 0x6E00));
    quen::scale::ScaleHIDDevice device;
    device.FindDevice(0x2E5A, 0xFF45, 0x6E00);
    device.OpenDevice();
    const std::vector<std::uint8_t> report(64, 0x30);
    std::uint8_t block[quen::scale::kBlockCapacity];
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < 16; ++i) {
            bus.QueueReport("/bench/scale", bus.NowMs(), report);
        }
        state.ResumeTiming();
        std::int32_t length = 0;
        benchmark::DoNotOptimize(device.ReadReport(block, sizeof block, length));
    }
    device.CloseDevice();
}
BENCHMARK(BM_ScaleBlockOf16Records);

// The byte-to-char widening of a full 1024-byte read (the JVM's own array copy is not ours).
void BM_SignExtend1024Bytes(benchmark::State& state) {
    std::uint8_t bytes[1024];
    jchar chars[1024];
    for (int i = 0; i < 1024; ++i)
        bytes[i] = static_cast<std::uint8_t>(i);
    for (auto _ : state) {
        for (int i = 0; i < 1024; ++i)
            chars[i] = quen::hid::CharFromReportByte(bytes[i]);
        benchmark::DoNotOptimize(chars);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_SignExtend1024Bytes);

}  // namespace

BENCHMARK_MAIN();
