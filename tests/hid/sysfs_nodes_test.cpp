// The sysfs reader on a class folder laid out by hand, the way the kernel lays out
// /sys/class/hidraw: which nodes it finds, in which order, and what it reads of each.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "hid/hidraw/sysfs_nodes.h"
#include "support/report_descriptors.h"
#include "support/temp_dir.h"

namespace quen::test {
namespace {

using hid::hidraw::HidrawNode;
using hid::hidraw::kMaxDescriptorSize;
using hid::hidraw::ListHidrawNodeNumbers;
using hid::hidraw::ReadHidrawNode;

std::string Uevent(const std::string& hidId) {
    return "DRIVER=hid-generic\n" + hidId + "\nHID_NAME=Till Scanner\nHID_PHYS=usb-1/input0\n";
}

TEST(SysfsNodes, ListsNodesInNumberOrderAndReadsEach) {
    TempDir root;
    for (const char* node : {"hidraw10", "hidraw0", "hidraw2"}) {
        root.Write(std::string(node) + "/device/uevent", Uevent("HID_ID=0003:00002E5A:00001234"));
        root.Write(std::string(node) + "/device/report_descriptor", MakerScannerDescriptor());
    }
    // In sysfs every hidrawN is a link into the device tree; it must be followed like a folder.
    root.Write("devices/x/hidraw/hidraw7/device/uevent", Uevent("HID_ID=0005:0001E5A2:0000ABCD"));
    root.Write("devices/x/hidraw/hidraw7/device/report_descriptor", BootKeyboardDescriptor());
    std::filesystem::create_directory_symlink(root.path() + "/devices/x/hidraw/hidraw7",
                                              root.path() + "/hidraw7");
    for (const char* junk : {"hidraw", "hidrawX", "hidraw01", "hidraw3a", "event3"}) {
        root.Write(std::string(junk) + "/device/uevent", Uevent("HID_ID=0003:1:1"));
    }

    EXPECT_EQ(ListHidrawNodeNumbers(root.path()), (std::vector<unsigned>{0, 2, 7, 10}));

    auto node = std::make_unique<HidrawNode>();
    ASSERT_TRUE(ReadHidrawNode(root.path(), 2, node.get()));
    EXPECT_EQ(node->number, 2u);
    EXPECT_EQ(node->bus, 3u);
    EXPECT_EQ(node->vendorId, 0x2E5A);
    EXPECT_EQ(node->productId, 0x1234);
    EXPECT_EQ(std::vector<std::uint8_t>(node->descriptor, node->descriptor + node->descriptorSize),
              MakerScannerDescriptor());

    // Vendor and product keep their low 16 bits.
    ASSERT_TRUE(ReadHidrawNode(root.path(), 7, node.get()));
    EXPECT_EQ(node->bus, 5u);
    EXPECT_EQ(node->vendorId, 0xE5A2);
    EXPECT_EQ(node->productId, 0xABCD);
    EXPECT_EQ(node->descriptorSize, BootKeyboardDescriptor().size());
}

TEST(SysfsNodes, NodeMissingAFileOrAWellFormedHidIdIsUnreadable) {
    TempDir root;
    root.Write("hidraw0/device/uevent", Uevent("HID_ID=0003:00002E5A:00001234"));
    root.Write("hidraw1/device/uevent", "DRIVER=hid-generic\nHID_NAME=HID_ID=0003:1:2\n");
    root.Write("hidraw2/device/uevent", Uevent("HID_ID=0003:00002E5A"));
    root.Write("hidraw3/device/uevent", Uevent("HID_ID=0003:100002E5A:00001234"));
    root.Write("hidraw4/device/uevent", Uevent("HID_ID=0003:00002E5A:00001234"));
    for (const char* node : {"hidraw1", "hidraw2", "hidraw3"}) {
        root.Write(std::string(node) + "/device/report_descriptor", MakerScannerDescriptor());
    }
    root.Write("hidraw4/device/report_descriptor",
               std::vector<std::uint8_t>(kMaxDescriptorSize + 1, 0xC0));

    auto node = std::make_unique<HidrawNode>();
    for (unsigned number : {0u, 1u, 2u, 3u, 4u, 5u}) {
        node->descriptorSize = 1;
        EXPECT_FALSE(ReadHidrawNode(root.path(), number, node.get())) << "hidraw" << number;
        EXPECT_EQ(node->descriptorSize, 0u);
        EXPECT_EQ(node->vendorId, 0u);
    }
    EXPECT_TRUE(ListHidrawNodeNumbers(root.path() + "/absent").empty());
}

}  // namespace
}  // namespace quen::test
