// The scanner's reader on the simulated bus: both modes, the continuation rules, the 500 ms
// bound per report, and what a read leaves for the next one.
#include <gtest/gtest.h>

#include <vector>

#include "bridge/device_ids.h"
#include "scanner/scanner_device.h"
#include "support/sim_fixture.h"

namespace quen::test {
namespace {

using scanner::ScannerHIDDevice;

constexpr char kPath[] = "/sim/scanner";

class ScannerRead : public SimBusTest {
  protected:
    void SetUp() override {
        SimBusTest::SetUp();
        bus().AddInterface(ScannerInterface(kPath));
        ASSERT_EQ(device.FindDevice(bridge::kMakerVendorId, bridge::kMakerUsagePage,
                                    bridge::kScannerUsage),
                  1);
        ASSERT_EQ(device.OpenDevice(), 1);
    }
    void TearDown() override {
        device.CloseDevice();
        SimBusTest::TearDown();
    }
    void Queue(std::uint64_t atMs, const std::vector<std::uint8_t>& report) {
        bus().QueueReport(kPath, atMs, report);
    }
    int Read(std::vector<std::uint8_t>& out, std::int32_t capacity = 1024) {
        return GuardedRead([this](std::uint8_t* b, std::int32_t c,
                                  std::int32_t& l) { return device.ReadReport(b, c, l); },
                           capacity, out);
    }

    ScannerHIDDevice device;
};

TEST_F(ScannerRead, SingleReportModeReturnsTheReportUpToItsStatedLengthHeaderIncluded) {
    auto report = ScannerReport(9, 0, {'1', '2', '3', '4'});
    report[0] = 0x00;
    report[2] = 0x11;
    report[10] = 0x99;  // past L: not returned
    Queue(0, report);
    std::vector<std::uint8_t> got;
    ASSERT_EQ(Read(got), 1);
    EXPECT_EQ(got, std::vector<std::uint8_t>(report.begin(), report.begin() + 10));
}

TEST_F(ScannerRead, SingleReportModeLengthEdges) {
    Queue(0, ScannerReport(0, 0));
    Queue(0, ScannerReport(-1, 0));
    Queue(0, ScannerReport(0x80, 0));  // -128
    auto full = ScannerReport(127, 0);
    full.resize(128, 0x5A);
    bus().Update(kPath, [](InterfaceSpec& s) { s.inputReportLength = 128; });
    ASSERT_EQ(
        device.FindDevice(bridge::kMakerVendorId, bridge::kMakerUsagePage, bridge::kScannerUsage),
        1);
    ASSERT_EQ(device.OpenDevice(), 1);
    Queue(0, full);
    std::vector<std::uint8_t> got;
    ASSERT_EQ(Read(got), 1);
    EXPECT_EQ(got.size(), 1u);  // the report ID alone
    ASSERT_EQ(Read(got), 1);    // a negative length still counts as arrived
    EXPECT_TRUE(got.empty());
    ASSERT_EQ(Read(got), 1);
    EXPECT_TRUE(got.empty());
    ASSERT_EQ(Read(got), 1);
    EXPECT_EQ(got.size(), 128u);
    EXPECT_EQ(got[127], 0x5A);
}

TEST_F(ScannerRead, LengthPastAShortReportYieldsZerosNotStaleBytes) {
    // First a device with longer reports fills the buffer further than the next one reaches.
    bus().Update(kPath, [](InterfaceSpec& s) { s.inputReportLength = 128; });
    ASSERT_EQ(device.FindDevice(0x2E5A, 0xFF45, 0x4A00), 1);
    ASSERT_EQ(device.OpenDevice(), 1);
    Queue(0, std::vector<std::uint8_t>(128, 0x33));
    std::vector<std::uint8_t> got;
    ASSERT_EQ(Read(got), 1);
    bus().Update(kPath, [](InterfaceSpec& s) { s.inputReportLength = 8; });
    ASSERT_EQ(
        device.FindDevice(bridge::kMakerVendorId, bridge::kMakerUsagePage, bridge::kScannerUsage),
        1);
    ASSERT_EQ(device.OpenDevice(), 1);
    Queue(0, std::vector<std::uint8_t>(64, 0x33));  // cut to 8 bytes by the device's length
    Queue(0, {0x00, 20, 0, 0, 0, 0, 0x41, 0x42});
    ASSERT_EQ(Read(got), 1);
    ASSERT_EQ(Read(got), 1);
    ASSERT_EQ(got.size(), 21u);
    EXPECT_EQ(got[7], 0x42);
    EXPECT_EQ(got[8], 0x00);
    EXPECT_EQ(got[20], 0x00);
}

TEST_F(ScannerRead, SegmentedMessageIsJoinedWithoutHeaders) {
    device.SetMode(true);
    std::vector<std::uint8_t> first(15), second(5);
    for (std::size_t i = 0; i < first.size(); ++i)
        first[i] = static_cast<std::uint8_t>('a' + i);
    for (std::size_t i = 0; i < second.size(); ++i)
        second[i] = static_cast<std::uint8_t>('A' + i);
    Queue(0, ScannerReport(20, 1, first));
    Queue(30, ScannerReport(10, 0, second));
    std::vector<std::uint8_t> got;
    ASSERT_EQ(Read(got), 1);
    std::vector<std::uint8_t> expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(got, expected);
    EXPECT_EQ(bus().NowMs(), 30u);  // no wait after the last report
}

TEST_F(ScannerRead, SegmentedContinuationIsASignedByte) {
    device.SetMode(true);
    Queue(0, ScannerReport(6, 0x80, {'x'}));
    Queue(0, ScannerReport(6, 0x7F, {'y'}));
    Queue(0, ScannerReport(6, 0, {'z'}));
    std::vector<std::uint8_t> got;
    ASSERT_EQ(Read(got), 1);
    EXPECT_EQ(got, std::vector<std::uint8_t>{'x'});
    ASSERT_EQ(Read(got), 1);
    EXPECT_EQ(got, (std::vector<std::uint8_t>{'y', 'z'}));
}

TEST_F(ScannerRead, SegmentedMessageWhoseContinuationNeverComesIsDeliveredInPart) {
    device.SetMode(true);
    Queue(100, ScannerReport(8, 1, {'a', 'b', 'c'}));
    Queue(601, ScannerReport(8, 0, {'d', 'e', 'f'}));  // 1 ms too late
    std::vector<std::uint8_t> got;
    ASSERT_EQ(Read(got), 1);
    EXPECT_EQ(got, (std::vector<std::uint8_t>{'a', 'b', 'c'}));
    EXPECT_EQ(bus().NowMs(), 600u);
    EXPECT_EQ(bus().counters().cancels, 1);
    EXPECT_EQ(bus().PendingReports(kPath), 1u);
}

TEST_F(ScannerRead, SegmentedReportsWithoutDataStillCountAsArrived) {
    device.SetMode(true);
    Queue(0, ScannerReport(5, 0));
    Queue(0, ScannerReport(-3, 1));
    Queue(0, ScannerReport(7, 0, {'q', 'r'}));
    std::vector<std::uint8_t> got;
    ASSERT_EQ(Read(got), 1);
    EXPECT_TRUE(got.empty());
    ASSERT_EQ(Read(got), 1);
    EXPECT_EQ(got, (std::vector<std::uint8_t>{'q', 'r'}));
}

TEST_F(ScannerRead, NothingWithin500MsReturnsZeroAtExactlyTheBound) {
    Queue(501, ScannerReport(0, 0));
    std::vector<std::uint8_t> got;
    EXPECT_EQ(Read(got), 0);
    EXPECT_EQ(bus().NowMs(), 500u);
    EXPECT_EQ(bus().counters().cancels, 1);
    // The late report is not lost: it waits for the next read.
    ASSERT_EQ(Read(got), 1);
    EXPECT_EQ(bus().NowMs(), 501u);
}

TEST_F(ScannerRead, ReportArrivingAtTheBoundIsTaken) {
    Queue(500, ScannerReport(0, 0));
    std::vector<std::uint8_t> got;
    EXPECT_EQ(Read(got), 1);
}

TEST_F(ScannerRead, ClosedOrNeverFoundDeviceReturnsZeroAtOnce) {
    device.CloseDevice();
    Queue(0, ScannerReport(0, 0));
    std::vector<std::uint8_t> got;
    EXPECT_EQ(Read(got), 0);
    ScannerHIDDevice fresh;
    std::int32_t length = 0;
    std::uint8_t buffer[8];
    EXPECT_EQ(fresh.ReadReport(buffer, 8, length), 0);
    EXPECT_EQ(bus().NowMs(), 0u);
    EXPECT_EQ(bus().counters().reads, 0);
}

TEST_F(ScannerRead, UnpluggedScannerGivesNothingAfterTheFull500MsUntilItIsPluggedBackIn) {
    // A caller that reads until it gets data keeps its pace instead of spinning a core, and each
    // read searches once for the scanner, which it reads again as soon as it is back.
    const int searchesBefore = bus().counters().listsOpened;
    bus().Unplug(kPath);
    std::vector<std::uint8_t> got;
    EXPECT_EQ(Read(got), 0);
    EXPECT_EQ(bus().NowMs(), 500u);
    EXPECT_EQ(Read(got), 0);
    EXPECT_EQ(bus().NowMs(), 1000u);
    EXPECT_EQ(bus().counters().cancels, 0);  // failed reads, not time-outs
    EXPECT_EQ(bus().counters().listsOpened - searchesBefore, 2);
    bus().Replug(kPath);
    Queue(1200, ScannerReport(7, 0, {'o', 'k'}));
    ASSERT_EQ(Read(got), 1);  // no Close, no Open
    EXPECT_EQ(got.size(), 8u);
    EXPECT_EQ(bus().NowMs(), 1200u);
}

TEST_F(ScannerRead, ScannerBackUnderAnotherPathWithOtherReportLengthsIsUsedAsItIsNow) {
    // As after a firmware flash: the device re-enumerates elsewhere and describes longer reports.
    bus().Unplug(kPath);
    auto flashed = ScannerInterface("/sim/flashed");
    flashed.inputReportLength = 128;
    flashed.outputReportLength = 33;
    bus().AddInterface(flashed);
    auto report = ScannerReport(100, 0);
    report.resize(128, 'x');
    bus().QueueReport("/sim/flashed", 0, report);
    std::vector<std::uint8_t> got;
    ASSERT_EQ(Read(got), 1);
    EXPECT_EQ(got.size(), 101u);
    const std::uint8_t data[] = {0x41};
    EXPECT_EQ(device.WriteReport(data, 1), 1) << "the write follows the read to the device";
    ASSERT_EQ(bus().Wire("/sim/flashed").size(), 1u);
    EXPECT_EQ(bus().Wire("/sim/flashed")[0].bytes.size(), 33u);
}

TEST_F(ScannerRead, CollectionWithoutInputReportsGivesNothingAfterTheFull500Ms) {
    bus().Update(kPath, [](InterfaceSpec& s) { s.inputReportLength = 0; });
    ASSERT_EQ(
        device.FindDevice(bridge::kMakerVendorId, bridge::kMakerUsagePage, bridge::kScannerUsage),
        1);
    ASSERT_EQ(device.OpenDevice(), 1);
    Queue(0, ScannerReport(3, 0));
    std::vector<std::uint8_t> got;
    EXPECT_EQ(Read(got), 0);
    EXPECT_EQ(bus().NowMs(), 500u);
}

TEST_F(ScannerRead, ModeSurvivesCloseAndReopen) {
    EXPECT_TRUE(device.SetMode(true));
    device.CloseDevice();
    ASSERT_EQ(
        device.FindDevice(bridge::kMakerVendorId, bridge::kMakerUsagePage, bridge::kScannerUsage),
        1);
    ASSERT_EQ(device.OpenDevice(), 1);
    Queue(0, ScannerReport(7, 0, {'o', 'k'}));
    std::vector<std::uint8_t> got;
    ASSERT_EQ(Read(got), 1);
    EXPECT_EQ(got, (std::vector<std::uint8_t>{'o', 'k'}));
    EXPECT_FALSE(device.SetMode(false));
}

TEST_F(ScannerRead, DataPastTheBufferIsDroppedButTheMessageIsConsumedToItsEnd) {
    device.SetMode(true);
    // 20 reports of 57 data bytes: 1140 bytes for a 1024-byte buffer.
    for (int i = 0; i < 20; ++i) {
        Queue(0, ScannerReport(62, i < 19 ? 1 : 0,
                               std::vector<std::uint8_t>(57, static_cast<std::uint8_t>(i))));
    }
    Queue(0, ScannerReport(7, 0, {'n', 'x'}));
    std::vector<std::uint8_t> got;
    ASSERT_EQ(Read(got), 1);
    ASSERT_EQ(got.size(), 1024u);
    EXPECT_EQ(got[0], 0);
    EXPECT_EQ(got[1023], 17);  // 1023 / 57
    ASSERT_EQ(Read(got), 1);
    EXPECT_EQ(got, (std::vector<std::uint8_t>{'n', 'x'}));
}

TEST_F(ScannerRead, SingleReportLongerThanASmallBufferIsCut) {
    auto report = ScannerReport(60, 0, std::vector<std::uint8_t>(55, 0x77));
    Queue(0, report);
    std::vector<std::uint8_t> got;
    ASSERT_EQ(Read(got, 10), 1);
    EXPECT_EQ(got, std::vector<std::uint8_t>(report.begin(), report.begin() + 10));
}

TEST_F(ScannerRead, EndlessContinuationEndsAfter64Reports) {
    device.SetMode(true);
    for (int i = 0; i < 100; ++i) {
        Queue(static_cast<std::uint64_t>(i), ScannerReport(6, 1, {static_cast<std::uint8_t>(i)}));
    }
    std::vector<std::uint8_t> got;
    ASSERT_EQ(Read(got), 1);
    EXPECT_EQ(got.size(), 64u);
    EXPECT_EQ(bus().PendingReports(kPath), 36u);
}

TEST_F(ScannerRead, AReadThatFoundTheScannerAgainWaitsOnlyWhatIsLeftOfItsOwnTimeOut) {
    bus().ScheduleReseat(kPath, 200, 0);
    std::vector<std::uint8_t> got;
    EXPECT_EQ(Read(got), 0);
    EXPECT_EQ(bus().NowMs(), 500u);
    EXPECT_EQ(device.recoveries(), 1u);
}

TEST_F(ScannerRead, ASegmentedMessageIsNeverJoinedFromTwoChannels) {
    // The cable is reseated between two reports of one message: the part read before is
    // delivered, and the report read on the reopened channel starts a message of its own.
    device.SetMode(true);
    Queue(0, ScannerReport(8, 1, {'a', 'b', 'c'}));
    bus().ScheduleReseat(kPath, 100, 0);
    Queue(150, ScannerReport(7, 0, {'d', 'e'}));
    std::vector<std::uint8_t> got;
    ASSERT_EQ(Read(got), 1);
    EXPECT_EQ(got, (std::vector<std::uint8_t>{'a', 'b', 'c'}));
    EXPECT_EQ(bus().NowMs(), 100u);
    ASSERT_EQ(Read(got), 1);
    EXPECT_EQ(got, (std::vector<std::uint8_t>{'d', 'e'}));
}

TEST_F(ScannerRead, WithTwoScannersBothChannelsAlwaysLandOnOneOfThem) {
    // Recovery lands where a Close and an Open at that moment would: the first scanner present.
    // Whichever side recovers, the other follows it to the same scanner.
    bus().AddInterface(ScannerInterface("/sim/second"));
    bus().Unplug(kPath);
    bus().QueueReport("/sim/second", 0, ScannerReport(7, 0, {'s', '2'}));
    std::vector<std::uint8_t> got;
    ASSERT_EQ(Read(got), 1);
    const std::uint8_t data[] = {0x41};
    EXPECT_EQ(device.WriteReport(data, 1), 1);
    EXPECT_EQ(bus().Wire("/sim/second").size(), 1u);

    // Now the write side meets the gone scanner first; the read follows it.
    bus().Replug(kPath);
    bus().Unplug("/sim/second");
    EXPECT_EQ(device.WriteReport(data, 1), 1) << "sent once on the scanner found again";
    EXPECT_EQ(bus().Wire(kPath).size(), 1u);
    Queue(0, ScannerReport(7, 0, {'s', '1'}));
    ASSERT_EQ(Read(got), 1);
    EXPECT_EQ(got[6], 's');
    EXPECT_EQ(got[7], '1');
    EXPECT_EQ(device.recoveries(), 2u);
    EXPECT_EQ(bus().counters().openChannels(), 2) << "what was handed over and not taken is closed";

    bus().Unplug(kPath);
    EXPECT_EQ(Read(got), 0);
    EXPECT_EQ(device.health(), hid::DeviceHealth::Searching);
}

}  // namespace
}  // namespace quen::test
