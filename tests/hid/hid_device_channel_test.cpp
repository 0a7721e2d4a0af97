// Opening, writing and closing: what reaches the device, how long a write may take, and which
// handles and events an open leaves behind.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "bridge/device_ids.h"
#include "hid/hid_device.h"
#include "hid/platform.h"
#include "support/sim_fixture.h"

namespace quen::test {
namespace {

using hid::ChannelKind;
using hid::HIDDevice;
using hid::IoOutcome;
using hid::OpenFailure;
namespace platform = hid::platform;

constexpr char kPath[] = "/sim/scanner";

class OpenScanner : public SimBusTest {
  protected:
    void SetUp() override {
        SimBusTest::SetUp();
        bus().AddInterface(ScannerInterface(kPath));
    }
    void TearDown() override {
        device.CloseDevice();
        EXPECT_EQ(bus().counters().openChannels(), 0) << "a channel was left open";
        SimBusTest::TearDown();
    }
    void Open() {
        ASSERT_EQ(device.FindDevice(bridge::kMakerVendorId, bridge::kMakerUsagePage,
                                    bridge::kScannerUsage),
                  1);
        ASSERT_EQ(device.OpenDevice(), 1);
    }
    std::vector<sim::WireRecord> Wire() { return bus().Wire(kPath); }

    HIDDevice device;
};

TEST_F(OpenScanner, WriteSendsReportIdZeroThenTheDataPaddedToTheReportLength) {
    Open();
    // A longer write first: none of its bytes may pad the next report.
    const std::vector<std::uint8_t> longer(63, 0xEE);
    EXPECT_EQ(device.WriteReport(longer.data(), 63), 1);
    const std::uint8_t data[] = {0x41, 0x42, 0x43};
    EXPECT_EQ(device.WriteReport(data, 3), 1);
    ASSERT_EQ(Wire().size(), 2u);
    std::vector<std::uint8_t> expected(64, 0);
    expected[1] = 0x41;
    expected[2] = 0x42;
    expected[3] = 0x43;
    EXPECT_EQ(Wire()[1].bytes, expected);
}

TEST_F(OpenScanner, WriteOfNothingSendsAReportOfZeros) {
    Open();
    EXPECT_EQ(device.WriteReport(nullptr, 0), 1);
    ASSERT_EQ(Wire().size(), 1u);
    EXPECT_EQ(Wire()[0].bytes, std::vector<std::uint8_t>(64, 0));
}

TEST_F(OpenScanner, DataLongerThanTheReportIsCutToIt) {
    Open();
    std::vector<std::uint8_t> data(100);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i + 1);
    }
    EXPECT_EQ(device.WriteReport(data.data(), 100), 1);
    ASSERT_EQ(Wire().size(), 1u);
    ASSERT_EQ(Wire()[0].bytes.size(), 64u);
    EXPECT_EQ(Wire()[0].bytes[0], 0);
    EXPECT_EQ(Wire()[0].bytes[63], 63);
}

TEST_F(OpenScanner, DataLongerThanTheBufferIsCutTo255Bytes) {
    bus().Update(kPath, [](InterfaceSpec& s) { s.outputReportLength = 256; });
    Open();
    std::vector<std::uint8_t> data(1000, 0xAA);
    EXPECT_EQ(device.WriteReport(data.data(), 1000), 1);
    ASSERT_EQ(Wire()[0].bytes.size(), 256u);
    EXPECT_EQ(Wire()[0].bytes[0], 0);
    EXPECT_EQ(Wire()[0].bytes[255], 0xAA);
}

TEST_F(OpenScanner, WriteThatNeverCompletesReturnsZeroAfterExactlySixSeconds) {
    bus().SetWriteBehaviour(kPath, WriteBehaviour::NeverComplete);
    Open();
    const std::uint8_t data[] = {1};
    EXPECT_EQ(device.WriteReport(data, 1), 0);
    EXPECT_EQ(bus().NowMs(), 6000u);
    EXPECT_EQ(bus().counters().cancels, 1);
    ASSERT_EQ(Wire().size(), 1u);
    EXPECT_EQ(Wire()[0].outcome, IoOutcome::TimedOut);
}

TEST_F(OpenScanner, WriteTakenAtTheSixSecondBoundCounts) {
    bus().SetWriteBehaviour(kPath, WriteBehaviour::Complete, 6000);
    Open();
    const std::uint8_t data[] = {1};
    EXPECT_EQ(device.WriteReport(data, 1), 1);
    EXPECT_EQ(bus().NowMs(), 6000u);
    bus().SetWriteBehaviour(kPath, WriteBehaviour::Complete, 6001);
    EXPECT_EQ(device.WriteReport(data, 1), 0);
    EXPECT_EQ(bus().NowMs(), 12000u);
}

TEST_F(OpenScanner, WriteThatFailsAtOnceIsNotASuccessAndDoesNotWait) {
    bus().SetWriteBehaviour(kPath, WriteBehaviour::FailAtOnce);
    Open();
    const std::uint8_t data[] = {1};
    EXPECT_EQ(device.WriteReport(data, 1), 0);
    EXPECT_EQ(bus().NowMs(), 0u);
    EXPECT_TRUE(Wire().empty());
}

TEST_F(OpenScanner, WriteToAnUnpluggedDeviceFailsAtOnce) {
    Open();
    bus().Unplug(kPath);
    const std::uint8_t data[] = {1};
    EXPECT_EQ(device.WriteReport(data, 1), 0);
    EXPECT_EQ(bus().NowMs(), 0u);
}

TEST_F(OpenScanner, CloseIsHarmlessInEveryState) {
    EXPECT_EQ(device.CloseDevice(), 1);  // before any search
    Open();
    EXPECT_EQ(device.CloseDevice(), 1);
    EXPECT_EQ(device.CloseDevice(), 1);
    EXPECT_EQ(bus().counters().channelsClosed, 2);
    EXPECT_TRUE(device.found());  // still remembered
    const std::uint8_t data[] = {1};
    EXPECT_EQ(device.WriteReport(data, 1), 0);
    EXPECT_EQ(bus().counters().writes, 0);
}

TEST_F(OpenScanner, ReopenAfterCloseUsesTheRememberedPathAndTheSameEvents) {
    Open();
    device.CloseDevice();
    const int listsBefore = bus().counters().listsOpened;
    ASSERT_EQ(device.OpenDevice(), 1);
    EXPECT_EQ(bus().counters().listsOpened, listsBefore);
    EXPECT_EQ(bus().counters().channelsOpened, 4);
    EXPECT_EQ(bus().counters().eventsCreated, 2);
    const std::uint8_t data[] = {1};
    EXPECT_EQ(device.WriteReport(data, 1), 1);
}

TEST_F(OpenScanner, OpeningAgainWhileOpenClosesTheFirstChannels) {
    Open();
    Open();
    EXPECT_EQ(bus().counters().openChannels(), 2);
    EXPECT_EQ(bus().counters().eventsCreated, 2);
}

TEST_F(OpenScanner, SearchWhileOpenKeepsTheChannels) {
    Open();
    EXPECT_EQ(
        device.FindDevice(bridge::kMakerVendorId, bridge::kMakerUsagePage, bridge::kScaleUsage), 0);
    EXPECT_TRUE(device.readChannelOpen());
    EXPECT_TRUE(device.writeChannelOpen());
}

TEST_F(OpenScanner, ChannelsThatFailToOpenStillCountAsOpenedButCarryNothing) {
    bus().Update(kPath, [](InterfaceSpec& s) { s.refuseOpen = OpenFailure::PermissionDenied; });
    Open();
    EXPECT_FALSE(device.readChannelOpen());
    EXPECT_FALSE(device.writeChannelOpen());
    const std::uint8_t data[] = {1};
    EXPECT_EQ(device.WriteReport(data, 1), 0);
    EXPECT_EQ(bus().counters().writes, 0);
    EXPECT_EQ(platform::LastOpenFailure(), OpenFailure::PermissionDenied);
    bus().Unplug(kPath);
    device.OpenDevice();
    EXPECT_EQ(platform::LastOpenFailure(), OpenFailure::NotFound);
}

TEST_F(OpenScanner, WithoutEventsNothingIsWrittenAndALaterOpenCreatesThem) {
    bus().FailEventCreation(true);
    Open();
    const std::uint8_t data[] = {1};
    EXPECT_EQ(device.WriteReport(data, 1), 0);
    EXPECT_EQ(bus().counters().writes, 0);
    bus().FailEventCreation(false);
    Open();
    EXPECT_EQ(device.WriteReport(data, 1), 1);
    EXPECT_EQ(bus().counters().eventsCreated, 2);
}

TEST_F(OpenScanner, OpenAndCloseCyclesLeaveNoHandleBehindAndStaleHandlesAreStillCaught) {
    Open();
    device.CloseDevice();
    const std::size_t before = bus().liveHandles();
    for (int i = 0; i < 100000; ++i) {
        ASSERT_EQ(device.FindDevice(bridge::kMakerVendorId, bridge::kMakerUsagePage,
                                    bridge::kScannerUsage),
                  1);
        device.OpenDevice();
        device.CloseDevice();
    }
    EXPECT_EQ(bus().liveHandles(), before);

    // A closed handle is still known to be closed once another handle has been opened.
    const auto stale = platform::OpenChannel(kPath, ChannelKind::Read);
    platform::CloseChannel(stale);
    const auto reused = platform::OpenChannel(kPath, ChannelKind::Read);
    platform::CloseChannel(stale);
    platform::CloseChannel(reused);
    expectedBadHandleUses = 1;
}

TEST_F(OpenScanner, WriteHistoryKeepsTheLatestWritesAndCountsThemAll) {
    Open();
    for (int i = 0; i < 10000; ++i) {
        const std::uint8_t data[] = {static_cast<std::uint8_t>(i)};
        ASSERT_EQ(device.WriteReport(data, 1), 1);
    }
    EXPECT_EQ(bus().WireTotal(kPath), 10000u);
    const auto wire = Wire();
    ASSERT_EQ(wire.size(), 64u);
    EXPECT_EQ(wire.front().bytes[1], static_cast<std::uint8_t>(10000 - 64));
    EXPECT_EQ(wire.back().bytes[1], static_cast<std::uint8_t>(9999));
}

TEST_F(OpenScanner, RealClockWriteWaitsItsWholeLatencyWhileReportsArrive) {
    bus().Reset(sim::ClockMode::Real);
    bus().AddInterface(ScannerInterface(kPath));
    bus().SetWriteBehaviour(kPath, WriteBehaviour::Complete, 400);
    Open();
    std::thread queuer([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        bus().QueueReport(kPath, bus().NowMs(), ScannerReport(3, 0));
    });
    const auto start = std::chrono::steady_clock::now();
    const std::uint8_t data[] = {1};
    EXPECT_EQ(device.WriteReport(data, 1), 1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
    queuer.join();
}

TEST_F(OpenScanner, OnlyAGoneDeviceMakesAWriteSearchAndAStaleWriteGoesOnceToItsDeviceFoundAgain) {
    Open();
    const std::uint8_t data[] = {7};
    const int searches = bus().counters().listsOpened;
    bus().SetWriteBehaviour(kPath, WriteBehaviour::FailAtOnce);  // refused by a device still there
    EXPECT_EQ(device.WriteReport(data, 1), 0);
    EXPECT_EQ(bus().counters().listsOpened, searches);

    // Reseated before the write began: its channel is stale, the device is back.
    bus().SetWriteBehaviour(kPath, WriteBehaviour::Complete);
    bus().Unplug(kPath);
    bus().Replug(kPath);
    EXPECT_EQ(device.WriteReport(data, 1), 1);
    ASSERT_EQ(Wire().size(), 1u);
    EXPECT_EQ(Wire()[0].bytes[1], 7);
    EXPECT_EQ(bus().counters().listsOpened, searches + 1);
    EXPECT_EQ(bus().NowMs(), 0u) << "no clock, no wait";

    // A collection without output reports is refused without touching the device.
    bus().Update(kPath, [](InterfaceSpec& s) { s.outputReportLength = 0; });
    Open();
    const int writes = bus().counters().writes;
    EXPECT_EQ(device.WriteReport(data, 1), 0);
    EXPECT_EQ(bus().counters().writes, writes);
}
}  // namespace
}  // namespace quen::test
