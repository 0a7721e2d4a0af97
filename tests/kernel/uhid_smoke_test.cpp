// What the hidraw platform relies on from the kernel, checked on Debian's kernel with the scanner
// presented through uhid: how its node is found and described, and how reports and an unplug
// look from the node's side.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include "bridge/device_ids.h"
#include "kernel/uhid_device.h"
#include "support/report_descriptors.h"

namespace quen::test {
namespace {

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> Counting(std::size_t length, std::uint8_t first) {
    std::vector<std::uint8_t> bytes(length);
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<std::uint8_t>(first + i);
    }
    return bytes;
}

class UhidScannerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const TestDeviceInfo scanner{"Quen test scanner", bridge::kMakerVendorId, 0x0101,
                                     MakerScannerDescriptor()};
        ASSERT_TRUE(device_.Create(scanner)) << device_.error();
        node_ = device_.WaitForHidraw();
        ASSERT_FALSE(node_.empty()) << device_.error();
        fd_ = UniqueFd::Open(node_.c_str(), O_RDWR);
        ASSERT_TRUE(fd_.valid()) << node_ << ": " << std::strerror(errno);
    }

    std::string SysfsDevice() const { return "/sys/class/hidraw/" + node_.substr(5) + "/device/"; }

    UhidDevice device_;
    std::string node_;
    UniqueFd fd_;
};

TEST_F(UhidScannerTest, NodeDescribesTheDeviceAsCreated) {
    std::ifstream uevent(SysfsDevice() + "uevent");
    std::string line;
    bool identified = false;
    while (std::getline(uevent, line)) {
        identified = identified || line == "HID_ID=0003:00002E5A:00000101";
    }
    EXPECT_TRUE(identified) << "bus USB, vendor and product in " << SysfsDevice() << "uevent";
    EXPECT_EQ(ReadBytes(SysfsDevice() + "report_descriptor"), MakerScannerDescriptor());
}

TEST_F(UhidScannerTest, UnnumberedInputReportIsReadWithoutIdByte) {
    const auto report = Counting(64, 1);
    ASSERT_TRUE(device_.SendInput(report)) << device_.error();
    pollfd waiting{fd_.get(), POLLIN, 0};
    ASSERT_EQ(poll(&waiting, 1, 2000), 1);
    std::uint8_t buffer[256];
    const ssize_t length = read(fd_.get(), buffer, sizeof(buffer));
    ASSERT_EQ(length, 64);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + length), report);
}

TEST_F(UhidScannerTest, WriteOfIdZeroAndReportReachesTheDeviceAsWritten) {
    auto written = Counting(65, 0x40);
    written[0] = 0;
    ASSERT_EQ(write(fd_.get(), written.data(), written.size()), 65);
    std::vector<std::uint8_t> received;
    ASSERT_TRUE(device_.ReceiveOutput(received)) << device_.error();
    EXPECT_EQ(received, written);
}

TEST_F(UhidScannerTest, UnplugWakesPendingPollWithHangUpThenReadsFail) {
    std::thread unplug([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        device_.Destroy();
    });
    pollfd waiting{fd_.get(), POLLIN, 0};
    const int ready = poll(&waiting, 1, 5000);
    unplug.join();
    ASSERT_EQ(ready, 1) << "poll was not woken by the unplug";
    EXPECT_EQ(waiting.revents & (POLLHUP | POLLERR | POLLIN), POLLHUP | POLLERR);
    std::uint8_t buffer[64];
    EXPECT_EQ(read(fd_.get(), buffer, sizeof(buffer)), -1);
    EXPECT_EQ(errno, EIO);
}

}  // namespace
}  // namespace quen::test
