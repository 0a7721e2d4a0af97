// Both HID bridges on the hidraw platform against Debian's kernel, with the maker's devices
// presented through uhid and again as USB gadgets bound by usbhid: the exported functions as the
// JVM calls them, the bytes on both sides of the node, and the time-outs on the real clock.
// Timings are printed as "measured:" lines.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bridge/device_ids.h"
#include "hid/hid_device.h"
#include "kernel/device_reports.h"
#include "kernel/kernel_bridges.h"
#include "support/process_resources.h"

namespace quen::test {
namespace {

using std::chrono::milliseconds;

TEST_P(KernelBridges, OpenTakesTheFallbackUsageButNeverAnOversizedOrForeignDevice) {
    Plug("Other keyboard", 0x046D, 0xC31C, BootKeyboardDescriptor());
    Plug("Quen oversized", bridge::kMakerVendorId, 0x0199,
         MakerDescriptor(bridge::kScannerUsage, 300, 64));
    TestDevice& alternate = PlugScanner(bridge::kScannerUsageAlternate);

    EXPECT_TRUE(scanner.Exists());
    ASSERT_TRUE(scanner.Open());
    ASSERT_TRUE(scanner.Write(u"A\u0142"));
    std::vector<std::uint8_t> sent;
    ASSERT_TRUE(alternate.ReceiveOutput(sent));
    // Report ID 0, the low bytes of the chars, zeros to the output report's length.
    std::vector<std::uint8_t> expected(65, 0);
    expected[1] = 0x41;
    expected[2] = 0x42;
    EXPECT_EQ(sent, expected);
    EXPECT_FALSE(scanner.OpenScale());
    EXPECT_FALSE(scale.Exists());

    // The probe marks what the bridge took; its output goes to the console for the record.
    std::fflush(stdout);
    EXPECT_EQ(std::system("/test/hid_probe"), 0) << "found, and what was found opens";
}

TEST_P(KernelBridges, ScannerReadsWholeReportsAndJoinsSegmentedMessages) {
    TestDevice& device = PlugScanner();
    ASSERT_TRUE(scanner.Open());
    ASSERT_TRUE(device.SendInput(ScanReport("4006381", 0)));
    const std::u16string single = Chars(scanner.Read());
    // Report ID 0 in front, then the report up to L.
    EXPECT_EQ(single, std::u16string(u"\0\x0c\0\0\0\0", 6) + u"4006381");

    EXPECT_TRUE(scanner.SetMode(true));
    ASSERT_TRUE(device.SendInput(ScanReport("https://shop.ex", 1)));
    ASSERT_TRUE(device.SendInput(ScanReport("ample/r/421?t=", 1)));
    ASSERT_TRUE(device.SendInput(ScanReport("23.80", 0)));
    EXPECT_EQ(Chars(scanner.Read()), u"https://shop.example/r/421?t=23.80");
}

TEST_P(KernelBridges, ProbeReadsAsTheBridgeWouldReturn) {
    TestDevice& device = PlugScanner();
    std::FILE* probe = popen("/test/hid_probe --read scanner --seconds 3", "r");
    ASSERT_NE(probe, nullptr);
    std::string output;
    char line[4096];
    // The probe says when it reads; the report sent after that reaches it.
    while (std::fgets(line, sizeof line, probe) != nullptr) {
        output += line;
        if (output.find("reading") != std::string::npos) {
            EXPECT_TRUE(device.SendInput(ScanReport("4006381", 0)));
            break;
        }
    }
    while (std::fgets(line, sizeof line, probe) != nullptr) {
        output += line;
    }
    EXPECT_EQ(pclose(probe), 0);
    std::printf("%s", output.c_str());
    EXPECT_NE(output.find("  13 chars  00 0c 00 00 00 00 34 30 30 36 33 38 31  |......4006381|"),
              std::string::npos);
}

TEST_P(KernelBridges, ReadTimeOutsHoldOnTheRealClock) {
    TestDevice& scannerDevice = PlugScanner();
    PlugScale();
    ASSERT_TRUE(scanner.Open());
    ASSERT_TRUE(scale.Open());

    auto start = Clock::now();
    EXPECT_EQ(scanner.Read(), nullptr);
    const long scannerMs = MsSince(start);
    EXPECT_GE(scannerMs, 500);
    EXPECT_LT(scannerMs, 500 + kLateMs);

    start = Clock::now();
    EXPECT_EQ(scale.Read(), nullptr);
    const long scaleMs = MsSince(start);
    EXPECT_GE(scaleMs, 50);
    EXPECT_LT(scaleMs, 50 + kLateMs);
    std::printf("measured: silent scanner read %ld ms (500 asked), silent scale read %ld ms (50)\n",
                scannerMs, scaleMs);

    // A report just before the time-out is taken; one after it waits for the next read.
    std::thread device([&] {
        std::this_thread::sleep_for(milliseconds(350));
        scannerDevice.SendInput(ScanReport("late", 0));
    });
    start = Clock::now();
    EXPECT_EQ(Chars(scanner.Read()).substr(6), u"late");
    const long arrivedMs = MsSince(start);
    device.join();
    std::printf("measured: report sent 350 ms into a scanner read returned after %ld ms\n",
                arrivedMs);
}

TEST_P(KernelBridges, ScaleJoinsCloseReportsIntoBlocksOfAtMost16Records) {
    TestDevice& device = PlugScale();
    ASSERT_TRUE(scale.Open());
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(device.SendInput(std::vector<std::uint8_t>(64, static_cast<std::uint8_t>(i))));
    }
    const std::u16string first = Chars(scale.Read());
    ASSERT_EQ(first.size(), 16u * 64u);
    EXPECT_EQ(first[0], u'\0');  // the report ID byte: reports come unnumbered
    EXPECT_EQ(first[1], u'\0');  // record 0 holds report 0
    EXPECT_EQ(first[15 * 64 + 1], u'\x0f');
    EXPECT_EQ(first[15 * 64 + 63], u'\x0f');  // 63 report bytes after the ID fit a record
    const std::u16string rest = Chars(scale.Read());
    ASSERT_EQ(rest.size(), 4u * 64u);
    EXPECT_EQ(rest[3 * 64 + 1], u'\x13');
    EXPECT_EQ(scale.Read(), nullptr);

    ASSERT_TRUE(scale.Write(u"Z"));
    std::vector<std::uint8_t> sent;
    ASSERT_TRUE(device.ReceiveOutput(sent));
    EXPECT_EQ(sent.size(), 65u);
    EXPECT_EQ(sent[1], 'Z');
}

TEST_P(KernelBridges, EachCollectionOfANumberedDeviceGetsOnlyItsOwnReports) {
    TestDevice& device =
        Plug("Quen scanner and scale", bridge::kMakerVendorId, 0x0301, ScannerAndScaleDescriptor());
    ASSERT_TRUE(scanner.Open());
    ASSERT_TRUE(scale.Open());
    std::vector<std::uint8_t> scaleReport(8, 0x22);
    scaleReport[0] = 2;
    std::vector<std::uint8_t> scanReport(64, 0);
    scanReport[0] = 1;
    scanReport[1] = 6;
    scanReport[6] = 'X';
    ASSERT_TRUE(device.SendInput(scaleReport));
    ASSERT_TRUE(device.SendInput(scanReport));

    // Both readers see both reports on their own descriptors; each keeps only its collection's.
    EXPECT_EQ(Chars(scanner.Read()), std::u16string(u"\x01\x06\0\0\0\0X", 7));
    const std::u16string record = Chars(scale.Read());
    ASSERT_EQ(record.size(), 64u);
    EXPECT_EQ(record.substr(0, 9), std::u16string(u"\x02\x22\x22\x22\x22\x22\x22\x22\0", 9));
    EXPECT_EQ(scanner.Read(), nullptr);
}

TEST_P(KernelBridges, UnplugDuringAReadIsNullAfterTheTimeOutAndAReplugOpensAgain) {
    auto device = MakeDevice();
    ASSERT_TRUE(device->Create(
        TestDeviceInfo{"Quen scanner", bridge::kMakerVendorId, 0x0101, MakerScannerDescriptor()}));
    ASSERT_FALSE(device->WaitForHidraw().empty());
    ASSERT_TRUE(scanner.Open());

    std::thread unplug([&] {
        std::this_thread::sleep_for(milliseconds(200));
        device->Destroy();
    });
    auto start = Clock::now();
    EXPECT_EQ(scanner.Read(), nullptr);
    const long unpluggedMs = MsSince(start);
    unplug.join();
    EXPECT_GE(unpluggedMs, 500) << "a read on a dead device keeps the caller's pace";
    start = Clock::now();
    EXPECT_EQ(scanner.Read(), nullptr);
    const long deadMs = MsSince(start);
    EXPECT_GE(deadMs, 500);
    EXPECT_LT(deadMs, 500 + kLateMs);
    start = Clock::now();
    EXPECT_FALSE(scanner.Write(u"A"));
    const long writeMs = MsSince(start);
    EXPECT_LT(writeMs, kLateMs);
    std::printf("measured: read during unplug %ld ms, next read %ld ms, write %ld ms\n",
                unpluggedMs, deadMs, writeMs);
    EXPECT_FALSE(scanner.Exists());

    device = MakeDevice();
    ASSERT_TRUE(device->Create(
        TestDeviceInfo{"Quen scanner", bridge::kMakerVendorId, 0x0101, MakerScannerDescriptor()}));
    ASSERT_FALSE(device->WaitForHidraw().empty());
    ASSERT_TRUE(scanner.Open());
    ASSERT_TRUE(device->SendInput(ScanReport("again", 0)));
    EXPECT_EQ(Chars(scanner.Read()).substr(6), u"again");
}

TEST_P(KernelBridges, AChannelOpensOnlyTheDeviceThatWasFound) {
    auto found = MakeDevice();
    ASSERT_TRUE(found->Create(
        TestDeviceInfo{"Quen scanner", bridge::kMakerVendorId, 0x0101, MakerScannerDescriptor()}));
    const std::string node = found->WaitForHidraw();
    hid::HIDDevice device;
    ASSERT_EQ(
        device.FindDevice(bridge::kMakerVendorId, bridge::kMakerUsagePage, bridge::kScannerUsage),
        1);
    // Unplugged before the open, and another device takes its node.
    found->Destroy();
    TestDevice& other =
        Plug("Quen other", bridge::kMakerVendorId, 0x0102, MakerScannerDescriptor());
    ASSERT_EQ(other.WaitForHidraw(), node);
    EXPECT_EQ(device.OpenDevice(), 1);
    EXPECT_FALSE(device.readChannelOpen());
    EXPECT_FALSE(device.writeChannelOpen());
    EXPECT_EQ(hid::platform::LastOpenFailure(), hid::OpenFailure::NotFound);
    // Found again, it is the device now there, and it opens.
    ASSERT_EQ(
        device.FindDevice(bridge::kMakerVendorId, bridge::kMakerUsagePage, bridge::kScannerUsage),
        1);
    EXPECT_EQ(device.OpenDevice(), 1);
    EXPECT_TRUE(device.readChannelOpen());
    device.CloseDevice();
}

TEST_P(KernelBridges, OpenCloseCyclesLeaveNoDescriptorBehind) {
    PlugScanner();
    PlugScale();
    const long before = OpenHandleCount();
    // Each cycle enumerates sysfs and opens two channels: some 3 ms under emulation, and 60 ms
    // more on USB, where usbhid waits 50 ms when a node is first opened.
    const int kCycles = kind_ == DeviceKind::Usb ? 100 : 10000;
    const auto start = Clock::now();
    for (int i = 0; i < kCycles; ++i) {
        ASSERT_TRUE(i % 2 == 0 ? scanner.Open() : scanner.OpenScale());
        scanner.Close();
    }
    ASSERT_TRUE(scale.Open());
    scale.Close();
    EXPECT_EQ(OpenHandleCount(), before);
    std::printf("measured: %d Open/Close cycles in %ld ms\n", kCycles, MsSince(start));
}

// How a POS service stops its reader, and starts again for the next customer: Close and Open on
// one thread while another reads and a third writes. No descriptor of a node may be left.
TEST_P(KernelBridges, CloseAndOpenDuringReadsAndWritesLeaveNoDescriptorBehind) {
    TestDevice& device = PlugScanner();
    const long before = OpenHandleCount();
    ASSERT_TRUE(scanner.Open());
    std::atomic<bool> stop{false};
    std::atomic<int> scans{0};
    std::thread reader([&] {
        ScannerCalls calls;
        while (!stop) {
            scans += calls.Read() != nullptr;
        }
    });
    std::thread writer([&] {
        ScannerCalls calls;
        while (!stop) {
            calls.Write(u"T");
            std::this_thread::sleep_for(milliseconds(5));
        }
    });
    std::thread drain([&] {  // a device that takes every report never holds a write up
        std::vector<std::uint8_t> sent;
        while (!stop) {
            device.ReceiveOutput(sent, milliseconds(20));
        }
    });
    // Each Open enumerates and opens two channels; on USB the first open of a node costs 60 ms.
    const int kCycles = kind_ == DeviceKind::Usb ? 40 : 300;
    const auto start = Clock::now();
    for (int i = 0; i < kCycles; ++i) {
        device.SendInput(ScanReport("x", 0));
        std::this_thread::sleep_for(milliseconds(2));
        EXPECT_TRUE(scanner.Close());
        EXPECT_TRUE(scanner.Open());
    }
    scanner.Close();
    stop = true;
    reader.join();
    writer.join();
    drain.join();
    EXPECT_EQ(OpenHandleCount(), before) << "a descriptor was left after Close";
    EXPECT_GT(scans, 0);
    std::printf(
        "measured: %d Close/Open cycles during reads and writes in %ld ms, %d scans read; "
        "descriptors before and after: %ld, %ld\n",
        kCycles, MsSince(start), scans.load(), before, OpenHandleCount());
}

std::string KindName(const ::testing::TestParamInfo<DeviceKind>& kind) {
    return kind.param == DeviceKind::Usb ? "Usb" : "Uhid";
}
INSTANTIATE_TEST_SUITE_P(Devices, KernelBridges,
                         ::testing::Values(DeviceKind::Uhid, DeviceKind::Usb), KindName);

}  // namespace
}  // namespace quen::test
