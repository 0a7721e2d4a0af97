// The hidraw platform's enumeration on a sysfs tree laid out by hand: every top-level collection
// is an interface of its own, in node then collection order, and the device object's search
// finds the maker's devices through it as it would on Windows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge/device_ids.h"
#include "hid/hid_device.h"
#include "hid/hidraw/hidraw_roots.h"
#include "hid/interface_search.h"
#include "support/report_descriptors.h"
#include "support/temp_dir.h"

namespace quen::test {
namespace {

using namespace quen::hid;
using namespace quen::bridge;

// A path's node and collection; the rest names the device the node held when it was listed.
std::string NodeAndCollection(const char* path) {
    const std::string whole(path);
    return whole.substr(0, whole.find('@'));
}

class PathRecorder final : public InterfaceVisitor {
  public:
    bool Visit(const VisitedInterface& visited) override {
        paths.push_back(NodeAndCollection(visited.path));
        return true;
    }
    std::vector<std::string> paths;
};

class HidrawTree : public ::testing::Test {
  protected:
    void SetUp() override {
        Node(0, "HID_ID=0003:0000046D:0000C31C", BootKeyboardDescriptor());
        Node(1, "HID_ID=0003:00002E5A:00000301", ScannerAndScaleDescriptor());
        Node(3, "HID_ID=0003:00002E5A:00000101", MakerScannerDescriptor());
        // A descriptor cut short offers no interface at all, never a guessed one.
        std::vector<std::uint8_t> cut = MakerScannerDescriptor();
        cut.pop_back();
        Node(12, "HID_ID=0003:00002E5A:00000102", cut);
        // The longest descriptor an open node hands over is 4095 bytes: one of 4096 could be
        // listed from sysfs but never opened, so it offers nothing either.
        Node(13, "HID_ID=0003:00002E5A:00000103", Padded(MakerScannerDescriptor(), 4096));
        Node(14, "HID_ID=0003:00002E5A:00000104", Padded(MakerScannerDescriptor(), 4095));
        sysClass_ = tree_.path() + "/class";
        dev_ = tree_.path() + "/dev";
        hidraw::UseRoots(sysClass_.c_str(), dev_.c_str());
    }
    void TearDown() override { hidraw::UseRoots("/sys/class/hidraw", "/dev"); }

    void Node(int n, const std::string& hidId, const std::vector<std::uint8_t>& descriptor) {
        const std::string folder = "class/hidraw" + std::to_string(n) + "/device/";
        tree_.Write(folder + "uevent", "DRIVER=hid-generic\n" + hidId + "\n");
        tree_.Write(folder + "report_descriptor", descriptor);
    }

    // Padded with Usage Page items of no data, which change nothing after the last collection.
    static std::vector<std::uint8_t> Padded(std::vector<std::uint8_t> descriptor,
                                            std::size_t size) {
        descriptor.resize(size, 0x04);
        return descriptor;
    }

    TempDir tree_;
    std::string sysClass_;
    std::string dev_;
};

TEST_F(HidrawTree, EveryTopLevelCollectionIsAnInterfaceInNodeThenCollectionOrder) {
    PathRecorder recorder;
    char path[kPathCapacity];
    ASSERT_TRUE(WalkInterfaces(recorder, path, sizeof path));
    EXPECT_EQ(recorder.paths, (std::vector<std::string>{dev_ + "/hidraw0#1", dev_ + "/hidraw1#1",
                                                        dev_ + "/hidraw1#2", dev_ + "/hidraw3#1",
                                                        dev_ + "/hidraw14#1"}));
}

TEST_F(HidrawTree, SearchFindsEachCollectionWithItsOwnReportLengths) {
    HIDDevice device;
    ASSERT_EQ(device.FindDevice(kMakerVendorId, kMakerUsagePage, kScaleUsage), 1);
    EXPECT_EQ(NodeAndCollection(device.devicePath()), dev_ + "/hidraw1#2");
    EXPECT_EQ(device.productId(), 0x0301);
    EXPECT_EQ(device.caps().inputReportByteLength, 8);
    EXPECT_EQ(device.caps().outputReportByteLength, 3);

    // The first scanner in enumeration order is the numbered device's first collection.
    ASSERT_EQ(device.FindDevice(kMakerVendorId, kMakerUsagePage, kScannerUsage), 1);
    EXPECT_EQ(NodeAndCollection(device.devicePath()), dev_ + "/hidraw1#1");
    EXPECT_EQ(device.caps().inputReportByteLength, 64);
}

TEST_F(HidrawTree, ANodeThatCannotBeOpenedLeavesTheChannelsClosedWithTheCause) {
    HIDDevice device;
    ASSERT_EQ(device.FindDevice(kMakerVendorId, kMakerUsagePage, kScannerUsage), 1);
    EXPECT_EQ(device.OpenDevice(), 1);  // found, though the node itself is not there
    EXPECT_FALSE(device.readChannelOpen());
    EXPECT_FALSE(device.writeChannelOpen());
    EXPECT_EQ(platform::LastOpenFailure(), OpenFailure::NotFound);
    const std::uint8_t data[] = {1};
    EXPECT_EQ(device.WriteReport(data, 1), 0);
}

}  // namespace
}  // namespace quen::test
