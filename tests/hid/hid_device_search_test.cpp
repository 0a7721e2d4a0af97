// Finding the device: which interface wins, what is asked of each, and what a search leaves.
#include <gtest/gtest.h>

#include <string>

#include "bridge/device_ids.h"
#include "hid/hid_device.h"
#include "support/sim_fixture.h"

namespace quen::test {
namespace {

using hid::HIDDevice;

constexpr int kVendor = bridge::kMakerVendorId;
constexpr int kPage = bridge::kMakerUsagePage;
constexpr int kScanner = bridge::kScannerUsage;
constexpr int kScale = bridge::kScaleUsage;

class DeviceSearch : public SimBusTest {
  protected:
    HIDDevice device;
};

TEST_F(DeviceSearch, NothingOfTheVendorPresentFindsNothingAndTouchesNoDevice) {
    bus().AddInterface(ForeignInterface("/sim/keyboard"));
    EXPECT_EQ(device.FindDevice(kVendor, kPage, kScanner), 0);
    EXPECT_FALSE(device.found());
    EXPECT_EQ(device.vendorId(), kVendor);  // stored whether or not it matched
    EXPECT_EQ(device.OpenDevice(), 0);
    const std::uint8_t data[] = {1, 2, 3};
    EXPECT_EQ(device.WriteReport(data, 3), 0);
    EXPECT_EQ(bus().counters().channelsOpened, 0);
    EXPECT_EQ(bus().counters().writes, 0);
}

TEST_F(DeviceSearch, OtherMakersInterfacesAreNeverAskedForCapabilities) {
    bus().AddInterface(ForeignInterface("/sim/keyboard"));
    bus().AddInterface(ForeignInterface("/sim/mouse"));
    bus().AddInterface(ScannerInterface("/sim/scanner"));
    ASSERT_EQ(device.FindDevice(kVendor, kPage, kScanner), 1);
    EXPECT_EQ(bus().counters().attributeQueries, 3);
    EXPECT_EQ(bus().counters().capsQueries, 1);
    EXPECT_EQ(bus().counters().queryHandlesOpened, 3);
}

TEST_F(DeviceSearch, FirstMatchInEnumerationOrderWinsAndLaterOnesAreNotExamined) {
    auto first = ScannerInterface("/sim/first");
    first.productId = 0x0001;
    auto second = ScannerInterface("/sim/second");
    second.productId = 0x0002;
    bus().AddInterface(first);
    bus().AddInterface(second);
    ASSERT_EQ(device.FindDevice(kVendor, kPage, kScanner), 1);
    EXPECT_STREQ(device.devicePath(), "/sim/first");
    EXPECT_EQ(device.productId(), 0x0001);
    EXPECT_EQ(bus().counters().queryHandlesOpened, 1);
}

TEST_F(DeviceSearch, SearchRemembersWhatItMatched) {
    auto scale = ScaleInterface("/sim/scale");
    scale.productId = 0x1234;
    scale.inputReportLength = 9;
    scale.outputReportLength = 33;
    bus().AddInterface(scale);
    ASSERT_EQ(device.FindDevice(kVendor, kPage, kScale), 1);
    EXPECT_EQ(device.productId(), 0x1234);
    EXPECT_EQ(device.usage(), kScale);
    EXPECT_EQ(device.usagePage(), kPage);
    EXPECT_EQ(device.caps().inputReportByteLength, 9);
    EXPECT_EQ(device.caps().outputReportByteLength, 33);
}

TEST_F(DeviceSearch, OtherUsageOrUsagePageDoesNotMatch) {
    auto otherPage = ScannerInterface("/sim/other-page");
    otherPage.usagePage = 0xFF46;
    bus().AddInterface(otherPage);
    bus().AddInterface(ScannerInterface("/sim/other-usage", 0x4C00));
    EXPECT_EQ(device.FindDevice(kVendor, kPage, kScanner), 0);
    EXPECT_EQ(bus().counters().capsQueries, 2);
    // Identifiers are 16-bit on the wire: a wider argument can never match.
    bus().AddInterface(ScannerInterface("/sim/scanner"));
    EXPECT_EQ(device.FindDevice(kVendor, kPage, 0x10000 + kScanner), 0);
    EXPECT_EQ(device.FindDevice(0x10000 + kVendor, kPage, kScanner), 0);
}

TEST_F(DeviceSearch, InterfacesThatCannotBeOpenedOrQueriedAreSkipped) {
    auto noOpen = ScannerInterface("/sim/no-open");
    noOpen.failQueryOpen = true;
    auto noAttributes = ScannerInterface("/sim/no-attributes");
    noAttributes.failAttributes = true;
    auto noCaps = ScannerInterface("/sim/no-caps");
    noCaps.failCaps = true;
    bus().AddInterface(noOpen);
    bus().AddInterface(noAttributes);
    bus().AddInterface(noCaps);
    bus().AddInterface(ScannerInterface("/sim/good"));
    ASSERT_EQ(device.FindDevice(kVendor, kPage, kScanner), 1);
    EXPECT_STREQ(device.devicePath(), "/sim/good");
    EXPECT_EQ(bus().counters().queryHandlesClosed, 3);
}

TEST_F(DeviceSearch, ReportsLongerThanTheBuffersNeverMatch) {
    auto longInput = ScannerInterface("/sim/long-input");
    longInput.inputReportLength = 257;
    auto longOutput = ScannerInterface("/sim/long-output");
    longOutput.outputReportLength = 257;
    bus().AddInterface(longInput);
    bus().AddInterface(longOutput);
    EXPECT_EQ(device.FindDevice(kVendor, kPage, kScanner), 0);
    EXPECT_FALSE(device.DeviceExists(kVendor, kPage, kScanner));

    auto largest = ScannerInterface("/sim/largest");
    largest.inputReportLength = 256;
    largest.outputReportLength = 256;
    bus().AddInterface(largest);
    ASSERT_EQ(device.FindDevice(kVendor, kPage, kScanner), 1);
    EXPECT_STREQ(device.devicePath(), "/sim/largest");
}

TEST_F(DeviceSearch, PathsLongerThan1024CharactersNeverMatch) {
    const std::string tooLong = "/" + std::string(1024, 'x');
    const std::string longest = "/" + std::string(1023, 'y');
    bus().AddInterface(ScannerInterface(tooLong));
    EXPECT_EQ(device.FindDevice(kVendor, kPage, kScanner), 0);
    EXPECT_FALSE(device.DeviceExists(kVendor, kPage, kScanner));
    bus().AddInterface(ScannerInterface(longest));
    ASSERT_EQ(device.FindDevice(kVendor, kPage, kScanner), 1);
    EXPECT_EQ(std::string(device.devicePath()), longest);
}

TEST_F(DeviceSearch, PresenceCheckChangesNothing) {
    bus().AddInterface(ScannerInterface("/sim/scanner"));
    bus().AddInterface(ScaleInterface("/sim/scale"));
    EXPECT_TRUE(device.DeviceExists(kVendor, kPage, kScanner));
    EXPECT_FALSE(device.found());
    EXPECT_EQ(device.vendorId(), -1);
    EXPECT_EQ(device.OpenDevice(), 0);

    ASSERT_EQ(device.FindDevice(kVendor, kPage, kScanner), 1);
    ASSERT_EQ(device.OpenDevice(), 1);
    const int channelsBefore = bus().counters().channelsOpened;
    EXPECT_TRUE(device.DeviceExists(kVendor, kPage, kScale));
    EXPECT_FALSE(device.DeviceExists(kVendor, kPage, bridge::kScannerUsageAlternate));
    EXPECT_STREQ(device.devicePath(), "/sim/scanner");
    EXPECT_EQ(device.usage(), kScanner);
    EXPECT_TRUE(device.readChannelOpen());
    EXPECT_TRUE(device.writeChannelOpen());
    EXPECT_EQ(bus().counters().channelsOpened, channelsBefore);
    device.CloseDevice();
}

TEST_F(DeviceSearch, SearchThatMatchesNothingForgetsTheEarlierMatch) {
    bus().AddInterface(ScannerInterface("/sim/scanner"));
    ASSERT_EQ(device.FindDevice(kVendor, kPage, kScanner), 1);
    EXPECT_EQ(device.FindDevice(kVendor, kPage, kScale), 0);
    EXPECT_FALSE(device.found());
    EXPECT_EQ(device.OpenDevice(), 0);
}

TEST_F(DeviceSearch, EachUsageOfAMultiInterfaceDeviceIsFoundWhateverWasSearchedBefore) {
    bus().AddInterface(ScaleInterface("/sim/combo&col02"));
    bus().AddInterface(ScannerInterface("/sim/combo&col01"));
    ASSERT_EQ(device.FindDevice(kVendor, kPage, kScanner), 1);
    EXPECT_STREQ(device.devicePath(), "/sim/combo&col01");
    ASSERT_EQ(device.FindDevice(kVendor, kPage, kScale), 1);
    EXPECT_STREQ(device.devicePath(), "/sim/combo&col02");
    ASSERT_EQ(device.FindDevice(kVendor, kPage, kScanner), 1);
    EXPECT_STREQ(device.devicePath(), "/sim/combo&col01");
}

TEST_F(DeviceSearch, UnpluggedDevicesAreNotListedUntilReplugged) {
    bus().AddInterface(ScannerInterface("/sim/scanner"));
    bus().Unplug("/sim/scanner");
    EXPECT_FALSE(device.DeviceExists(kVendor, kPage, kScanner));
    EXPECT_EQ(device.FindDevice(kVendor, kPage, kScanner), 0);
    bus().Replug("/sim/scanner");
    EXPECT_EQ(device.FindDevice(kVendor, kPage, kScanner), 1);
}

}  // namespace
}  // namespace quen::test
