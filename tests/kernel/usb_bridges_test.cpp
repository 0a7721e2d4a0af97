// What only a USB device shows the bridges: a write the device never takes (the kernel's 5 s
// time-out, and its hidraw lock held meanwhile), writes over the control pipe, unplugs and
// replugs through the device controller, and the re-enumeration after a firmware flash. In the
// same VM boot as hidraw_bridges_test.cpp, on its fixture. Timings are printed as "measured:"
// lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "kernel/device_reports.h"
#include "kernel/kernel_bridges.h"
#include "kernel/unique_fd.h"

namespace quen::test {
namespace {

using std::chrono::milliseconds;

constexpr long kReadTimeOutMs = 500;
constexpr long kWriteBoundMs = 6000;
// usbhid gives up on an output report after USB_CTRL_SET_TIMEOUT.
constexpr long kKernelWriteTimeOutMs = 5000;

class UsbBridges : public BridgesOnDevices {
  protected:
    UsbBridges() : BridgesOnDevices(DeviceKind::Usb) {}

    // The device side reads no output report: f_hid holds four, and from then on every write
    // waits on the wire until the kernel gives up on it.
    void FillTheDevicesOutputQueue() {
        for (int i = 0; i < 4; ++i) {
            const auto start = Clock::now();
            ASSERT_TRUE(scanner.Write(u"queued"));
            EXPECT_LT(MsSince(start), kLateMs) << "a report the device holds does not wait";
        }
    }

    // Plugs the unplugged device in again (as release `bcdDevice`, if given) while the scanner
    // bridge reads on, never opened again, until a read returns the report the device sends every
    // 100 ms once its node is there (those sent before the host has the node open are lost).
    // The milliseconds from the node's appearance to that read, or -1 when none came within 5 s;
    // `node` receives the node.
    long MsUntilReadsResumeAfterPlugging(UsbGadget& device, std::string& node,
                                         std::uint16_t bcdDevice = 0) {
        std::atomic<bool> done{false};
        std::atomic<bool> present{false};
        Clock::time_point nodeAt;
        std::thread plug([&] {
            std::this_thread::sleep_for(milliseconds(200));
            EXPECT_TRUE(device.Plug(bcdDevice)) << device.error();
            node = device.WaitForHidraw();
            EXPECT_FALSE(node.empty()) << device.error();
            nodeAt = Clock::now();
            present = true;
            while (!done) {
                device.SendInput(ScanReport("again", 0));
                std::this_thread::sleep_for(milliseconds(100));
            }
        });
        long resumedMs = -1;
        const auto start = Clock::now();
        while (resumedMs < 0 && MsSince(start) < 5000) {
            const std::u16string chars = Chars(scanner.Read());
            if (present && chars.size() > 6 && chars.substr(6) == u"again") {
                resumedMs = MsSince(nodeAt);
            }
        }
        done = true;
        plug.join();
        return resumedMs;
    }
};

TEST_F(UsbBridges, AWriteTheDeviceNeverTakesFailsWithinItsBoundAndHoldsEveryOpenAndClose) {
    PlugUsbScanner();
    PlugScale();
    ASSERT_TRUE(scanner.Open());
    FillTheDevicesOutputQueue();

    // Two writes back to back while the scale is opened, then a third while it is closed.
    constexpr int kWrites = 3;
    bool written[kWrites] = {true, true, true};
    long writeMs[kWrites] = {0, 0, 0};
    std::atomic<bool> opened{false};
    std::thread writer([&] {
        for (int i = 0; i < kWrites; ++i) {
            while (i == 2 && !opened) {
                std::this_thread::sleep_for(milliseconds(10));
            }
            const auto start = Clock::now();
            written[i] = scanner.Write(u"never taken");
            writeMs[i] = MsSince(start);
        }
    });
    std::this_thread::sleep_for(milliseconds(500));
    auto start = Clock::now();
    EXPECT_TRUE(scale.Open());
    const long openMs = MsSince(start);
    opened = true;
    std::this_thread::sleep_for(milliseconds(500));
    start = Clock::now();
    EXPECT_TRUE(scale.Close());
    const long closeMs = MsSince(start);
    writer.join();

    for (int i = 0; i < kWrites; ++i) {
        EXPECT_FALSE(written[i]);
        EXPECT_GE(writeMs[i], kKernelWriteTimeOutMs - 100);
        EXPECT_LT(writeMs[i], kWriteBoundMs + kLateMs);
    }
    // The kernel's hidraw lock: held by each write while it waits, taken by every open and
    // close of any node, and given to writes that follow back to back before them. The bound the
    // README states: the time-outs of two writes.
    for (const long ms : {openMs, closeMs}) {
        EXPECT_GE(ms, kKernelWriteTimeOutMs - 2000) << "the open or close waited for a write";
        EXPECT_LT(ms, 2 * kKernelWriteTimeOutMs + kLateMs);
    }
    std::printf(
        "measured: writes the device never takes failed after %ld, %ld (back to back) and %ld ms; "
        "meanwhile Open of another device waited %ld ms, its Close %ld ms\n",
        writeMs[0], writeMs[1], writeMs[2], openMs, closeMs);
}

TEST_F(UsbBridges, WithoutAnOutEndpointWritesGoOverTheControlPipeAndNeverWait) {
    UsbGadgetOptions options;
    options.noOutEndpoint = true;
    UsbGadget& device = PlugUsbScanner(options);
    ASSERT_TRUE(scanner.Open());
    ASSERT_TRUE(scanner.Write(u"A\u0142"));
    std::vector<std::uint8_t> sent;
    ASSERT_TRUE(device.ReceiveOutput(sent)) << device.error();
    std::vector<std::uint8_t> expected(65, 0);
    expected[1] = 0x41;
    expected[2] = 0x42;
    EXPECT_EQ(sent, expected);

    // More than an OUT endpoint's queue would hold, none read meanwhile: the device keeps the
    // latest, and no write waits.
    long slowestMs = 0;
    for (char16_t c = u'a'; c <= u'f'; ++c) {
        const auto start = Clock::now();
        EXPECT_TRUE(scanner.Write(std::u16string(1, c)));
        slowestMs = std::max(slowestMs, MsSince(start));
    }
    EXPECT_LT(slowestMs, kLateMs);
    ASSERT_TRUE(device.ReceiveOutput(sent)) << device.error();
    ASSERT_EQ(sent.size(), 65u);
    EXPECT_EQ(sent[1], 'f');
    std::printf("measured: six writes over the control pipe, the slowest %ld ms\n", slowestMs);
}

TEST_F(UsbBridges, UnplugEndsAWaitingWriteAtOnce) {
    UsbGadget& device = PlugUsbScanner();
    ASSERT_TRUE(scanner.Open());
    FillTheDevicesOutputQueue();
    Clock::time_point unpluggedAt;
    std::thread unplug([&] {
        std::this_thread::sleep_for(milliseconds(1000));
        unpluggedAt = Clock::now();
        EXPECT_TRUE(device.Unplug()) << device.error();
    });
    const auto start = Clock::now();
    EXPECT_FALSE(scanner.Write(u"never taken"));
    const auto ended = Clock::now();
    unplug.join();
    const long afterUnplugMs =
        static_cast<long>(std::chrono::duration_cast<milliseconds>(ended - unpluggedAt).count());
    EXPECT_GE(MsSince(start), 1000) << "the write waited until the unplug";
    EXPECT_LT(afterUnplugMs, kLateMs);
    std::printf("measured: a waiting write failed %ld ms after the unplug\n", afterUnplugMs);
}

// A reseated scanner: a replug under another node (the old number is still held open), then the
// re-enumeration after a firmware flash (gone, then back with another release). Reads carry on
// by themselves; the caller never opens the bridge again.
TEST_F(UsbBridges, ReadsResumeByThemselvesAfterAReplugAndAFirmwareFlash) {
    UsbGadget& device = PlugUsbScanner();
    ASSERT_TRUE(scanner.Open());
    const std::string firstNode = device.WaitForHidraw();
    ASSERT_TRUE(device.SendInput(ScanReport("first", 0)));
    EXPECT_EQ(Chars(scanner.Read()).substr(6), u"first");
    const UniqueFd holdsTheNumber = UniqueFd::Open(firstNode.c_str(), O_RDONLY);
    ASSERT_TRUE(holdsTheNumber.valid());

    std::thread unplug([&] {
        std::this_thread::sleep_for(milliseconds(200));
        EXPECT_TRUE(device.Unplug()) << device.error();
    });
    auto start = Clock::now();
    EXPECT_EQ(scanner.Read(), nullptr);
    const long unpluggedReadMs = MsSince(start);
    unplug.join();
    EXPECT_GE(unpluggedReadMs, kReadTimeOutMs) << "a read on a gone device keeps its pace";
    EXPECT_LT(unpluggedReadMs, kReadTimeOutMs + kLateMs);

    std::string secondNode;
    const long replugMs = MsUntilReadsResumeAfterPlugging(device, secondNode);
    EXPECT_NE(secondNode, firstNode);
    EXPECT_GE(replugMs, 0) << "reads resumed on " << secondNode;
    EXPECT_LT(replugMs, 2 * kReadTimeOutMs + kLateMs);

    // The flash: the device leaves, and comes back as release 2.00.
    ASSERT_TRUE(device.Unplug()) << device.error();
    std::string flashedNode;
    const long flashMs = MsUntilReadsResumeAfterPlugging(device, flashedNode, 0x0200);
    EXPECT_GE(flashMs, 0) << "reads resumed after the flash, on " << flashedNode;
    EXPECT_LT(flashMs, 2 * kReadTimeOutMs + kLateMs);

    // The first write meets the old channel: it fails (the report is not sent again on the
    // channel it reopens), and the next reaches the device.
    EXPECT_FALSE(scanner.Write(u"V"));
    EXPECT_TRUE(scanner.Write(u"W"));
    std::vector<std::uint8_t> sent;
    ASSERT_TRUE(device.ReceiveOutput(sent)) << device.error();
    EXPECT_EQ(sent.at(1), 'W');
    std::printf(
        "measured: read during the unplug %ld ms; first report read %ld ms after the replug's "
        "node was there (%s, then %s), %ld ms after the flash's\n",
        unpluggedReadMs, replugMs, firstNode.c_str(), secondNode.c_str(), flashMs);
}

}  // namespace
}  // namespace quen::test
