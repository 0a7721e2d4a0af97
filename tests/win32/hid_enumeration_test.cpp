// The Windows platform's enumeration and queries on the HID devices that Wine itself provides: a
// virtual mouse and keyboard of vendor 0x845E. On a machine without any HID device the tests
// skip.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "hid/deadline.h"
#include "bridge/device_ids.h"
#include "hid/hid_device.h"
#include "hid/interface_search.h"
#include "hid/platform.h"
#include "support/process_resources.h"

namespace quen::test {
namespace {

using hid::InterfaceAttributes;
using hid::InterfaceCaps;
using hid::PathStatus;
namespace platform = hid::platform;

constexpr std::uint16_t kWineVendor = 0x845E;

struct Listed {
    std::string path;
    InterfaceAttributes attributes;
    InterfaceCaps caps;
};

class WineHidDevices : public ::testing::Test {
  protected:
    void SetUp() override {
        hid::InterfaceList* list = platform::OpenInterfaceList();
        ASSERT_NE(list, nullptr);
        char path[hid::kPathCapacity];
        for (std::uint32_t index = 0; index < 1000; ++index) {
            const PathStatus status = platform::InterfacePath(list, index, path, sizeof path);
            if (status == PathStatus::End) {
                break;
            }
            ASSERT_EQ(status, PathStatus::Ok) << "interface " << index;
            Listed entry;
            entry.path = path;
            const hid::NativeHandle query = platform::OpenQueryHandle(path);
            ASSERT_NE(query, hid::kInvalidHandle) << path;
            EXPECT_TRUE(platform::QueryAttributes(query, &entry.attributes)) << path;
            EXPECT_TRUE(platform::QueryCaps(query, &entry.caps)) << path;
            platform::CloseQueryHandle(query);
            listed_.push_back(entry);
        }
        platform::CloseInterfaceList(list);
        if (listed_.empty()) {
            GTEST_SKIP() << "Wine lists no HID interfaces here (winebus not running?)";
        }
    }

    const Listed* FindWine(std::uint16_t usage) const {
        for (const Listed& entry : listed_) {
            if (entry.attributes.vendorId == kWineVendor && entry.caps.usagePage == 0x01 &&
                entry.caps.usage == usage) {
                return &entry;
            }
        }
        return nullptr;
    }

    std::vector<Listed> listed_;
};

TEST_F(WineHidDevices, ListedInterfacesAnswerAttributeAndCapabilityQueries) {
    // Every interface opened and answered in SetUp; Wine's keyboard must be among them with the
    // values its report descriptor gives (generic desktop page, usage 6, an input report).
    const Listed* keyboard = FindWine(0x06);
    ASSERT_NE(keyboard, nullptr) << "no Wine virtual keyboard among " << listed_.size();
    EXPECT_EQ(keyboard->path.rfind("\\\\?\\hid#vid_845e", 0), 0u) << keyboard->path;
    EXPECT_GT(keyboard->caps.inputReportByteLength, 1);
}

TEST_F(WineHidDevices, SearchFindsTheFirstMatchAndClosesEveryHandle) {
    const Listed* keyboard = FindWine(0x06);
    ASSERT_NE(keyboard, nullptr);
    const long before = OpenHandleCount();
    ASSERT_GT(before, 0);

    hid::InterfaceMatch match;
    char path[hid::kPathCapacity];
    EXPECT_FALSE(hid::FindFirstInterface(bridge::kMakerVendorId, bridge::kMakerUsagePage,
                                         bridge::kScannerUsage, &match, path, sizeof path));
    EXPECT_FALSE(hid::FindFirstInterface(bridge::kMakerVendorId, bridge::kMakerUsagePage,
                                         bridge::kScaleUsage, &match, path, sizeof path));
    EXPECT_EQ(OpenHandleCount(), before) << "the search for the maker's devices left handles";

    ASSERT_TRUE(hid::FindFirstInterface(kWineVendor, 0x01, 0x06, &match, path, sizeof path));
    EXPECT_EQ(path, keyboard->path);
    EXPECT_EQ(match.attributes.productId, keyboard->attributes.productId);
    EXPECT_EQ(match.caps.inputReportByteLength, keyboard->caps.inputReportByteLength);
    EXPECT_EQ(OpenHandleCount(), before) << "the matching search left handles";
}

TEST_F(WineHidDevices, PathThatDoesNotFitIsUnusableAndOneThatJustFitsIsWhole) {
    const std::string& expected = listed_.front().path;
    hid::InterfaceList* list = platform::OpenInterfaceList();
    ASSERT_NE(list, nullptr);
    std::vector<char> path(expected.size() + 8, 'x');
    EXPECT_EQ(platform::InterfacePath(list, 0, path.data(), expected.size()), PathStatus::Unusable);
    EXPECT_EQ(path[expected.size()], 'x') << "written past the capacity";
    EXPECT_EQ(platform::InterfacePath(list, 0, path.data(), expected.size() + 1), PathStatus::Ok);
    EXPECT_EQ(std::string(path.data()), expected);
    EXPECT_EQ(path[expected.size() + 1], 'x');
    const auto count = static_cast<std::uint32_t>(listed_.size());
    EXPECT_EQ(platform::InterfacePath(list, count, path.data(), path.size()), PathStatus::End);
    platform::CloseInterfaceList(list);
}

TEST_F(WineHidDevices, DeviceObjectOpensARealHidDeviceAndItsReadTimesOut) {
    // Wine's keyboard never sends a report here: a read on its HID handle times out, and the
    // object's channels open and close on a real device path.
    const Listed* keyboard = FindWine(0x06);
    ASSERT_NE(keyboard, nullptr);
    hid::HIDDevice device;
    ASSERT_EQ(device.FindDevice(kWineVendor, 0x01, 0x06), 1);
    ASSERT_EQ(device.OpenDevice(), 1);
    EXPECT_TRUE(device.readChannelOpen());

    const hid::NativeHandle channel =
        platform::OpenChannel(keyboard->path.c_str(), hid::ChannelKind::Read);
    ASSERT_NE(channel, hid::kInvalidHandle);
    const hid::NativeHandle event = platform::CreateCompletionEvent();
    std::vector<std::uint8_t> buffer(256, 0xAA);
    const DWORD start = GetTickCount();
    hid::Deadline deadline(200);
    EXPECT_EQ(platform::ReadInputReport(channel, event, buffer.data(),
                                        keyboard->caps.inputReportByteLength, deadline),
              hid::IoOutcome::TimedOut);
    EXPECT_GE(GetTickCount() - start, 190u);
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(256, 0xAA));

    // The same read when the wait on the event fails: the driver completes the cancelled read
    // only after CancelIo has returned, and the read must be waited for without the event. The
    // read fails; keeping the caller's pace is the device object's part, not the platform's.
    HANDLE unwaitable = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(event),
                                GetCurrentProcess(), &unwaitable, EVENT_MODIFY_STATE, FALSE, 0));
    hid::Deadline unwaitableDeadline(200);
    EXPECT_EQ(platform::ReadInputReport(channel, reinterpret_cast<hid::NativeHandle>(unwaitable),
                                        buffer.data(), keyboard->caps.inputReportByteLength,
                                        unwaitableDeadline),
              hid::IoOutcome::Failed);
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(256, 0xAA));
    CloseHandle(unwaitable);
    platform::CloseChannel(channel);
    CloseHandle(reinterpret_cast<HANDLE>(event));
    EXPECT_EQ(device.CloseDevice(), 1);
    EXPECT_FALSE(device.readChannelOpen());
}

}  // namespace
}  // namespace quen::test
