// The scale's block reader on the simulated bus: records, the 50 ms quiet bound, and the 16-record
// block that loses nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "bridge/device_ids.h"
#include "scale/scale_device.h"
#include "support/sim_fixture.h"

namespace quen::test {
namespace {

using scale::ScaleHIDDevice;

constexpr char kPath[] = "/sim/scale";

std::vector<std::uint8_t> Numbered(std::size_t size, std::uint8_t first) {
    std::vector<std::uint8_t> report(size);
    for (std::size_t i = 0; i < size; ++i)
        report[i] = static_cast<std::uint8_t>(first + i);
    return report;
}

class ScaleRead : public SimBusTest {
  protected:
    void Open(std::uint16_t inputLength = 64) {
        auto spec = ScaleInterface(kPath);
        spec.inputReportLength = inputLength;
        bus().AddInterface(spec);
        ASSERT_EQ(
            device.FindDevice(bridge::kMakerVendorId, bridge::kMakerUsagePage, bridge::kScaleUsage),
            1);
        ASSERT_EQ(device.OpenDevice(), 1);
    }
    void TearDown() override {
        device.CloseDevice();
        SimBusTest::TearDown();
    }
    int Read(std::vector<std::uint8_t>& out) {
        return GuardedRead([this](std::uint8_t* b, std::int32_t c,
                                  std::int32_t& l) { return device.ReadReport(b, c, l); },
                           scale::kBlockCapacity, out);
    }

    ScaleHIDDevice device;
};

TEST_F(ScaleRead, OneReportThenSilenceGivesOneRecordAfterAFurther50Ms) {
    Open();
    bus().QueueReport(kPath, 20, Numbered(64, 0));
    std::vector<std::uint8_t> got;
    ASSERT_EQ(Read(got), 1);
    EXPECT_EQ(got, Numbered(64, 0));
    EXPECT_EQ(bus().NowMs(), 70u);
}

TEST_F(ScaleRead, ReportsCloserThan50MsShareABlockInArrivalOrder) {
    Open();
    bus().QueueReport(kPath, 0, Numbered(64, 1));
    bus().QueueReport(kPath, 10, Numbered(64, 2));
    bus().QueueReport(kPath, 20, Numbered(64, 3));
    bus().QueueReport(kPath, 71, Numbered(64, 4));  // after 51 ms of quiet: the next block
    std::vector<std::uint8_t> got;
    ASSERT_EQ(Read(got), 1);
    ASSERT_EQ(got.size(), 192u);
    EXPECT_EQ(got[0], 1);
    EXPECT_EQ(got[64], 2);
    EXPECT_EQ(got[128], 3);
    EXPECT_EQ(bus().NowMs(), 70u);
    ASSERT_EQ(Read(got), 1);
    EXPECT_EQ(got, Numbered(64, 4));
}

TEST_F(ScaleRead, ShortReportsArePaddedWithZeros) {
    Open(9);
    bus().QueueReport(kPath, 0, Numbered(9, 0x10));
    std::vector<std::uint8_t> got;
    ASSERT_EQ(Read(got), 1);
    std::vector<std::uint8_t> expected = Numbered(9, 0x10);
    expected.resize(64, 0);
    EXPECT_EQ(got, expected);
}

TEST_F(ScaleRead, LongReportsLoseEverythingPastByte63) {
    Open(65);
    bus().QueueReport(kPath, 0, Numbered(65, 0));
    bus().QueueReport(kPath, 1, Numbered(65, 100));
    std::vector<std::uint8_t> got;
    ASSERT_EQ(Read(got), 1);
    ASSERT_EQ(got.size(), 128u);
    EXPECT_EQ(got[63], 63);
    EXPECT_EQ(got[64], 100);
    EXPECT_EQ(got[127], 163);
}

TEST_F(ScaleRead, AScaleThatNeverGoesQuietGives16RecordsPerReadAndLosesNone) {
    Open();
    for (int i = 0; i < 40; ++i) {
        bus().QueueReport(kPath, static_cast<std::uint64_t>(i) * 5,
                          std::vector<std::uint8_t>(64, static_cast<std::uint8_t>(i)));
    }
    std::vector<std::uint8_t> all;
    std::vector<std::uint8_t> got;
    for (int expectedRecords : {16, 16, 8}) {
        ASSERT_EQ(Read(got), 1);
        EXPECT_EQ(got.size(), static_cast<std::size_t>(expectedRecords) * 64);
        all.insert(all.end(), got.begin(), got.end());
    }
    ASSERT_EQ(all.size(), 40u * 64);
    for (std::size_t i = 0; i < 40; ++i) {
        EXPECT_EQ(all[i * 64], i) << "record " << i;
    }
    EXPECT_EQ(Read(got), 0);
}

TEST_F(ScaleRead, SilentScaleGivesNothingAfterExactly50Ms) {
    Open();
    std::vector<std::uint8_t> got;
    EXPECT_EQ(Read(got), 0);
    EXPECT_EQ(bus().NowMs(), 50u);
    EXPECT_EQ(bus().counters().cancels, 1);
}

TEST_F(ScaleRead, ClosedScaleGivesNothingWithoutWaiting) {
    Open();
    device.CloseDevice();
    bus().QueueReport(kPath, 0, Numbered(64, 0));
    std::vector<std::uint8_t> got;
    EXPECT_EQ(Read(got), 0);
    EXPECT_EQ(bus().NowMs(), 0u);
}

TEST_F(ScaleRead, UnpluggedScaleGivesNothingAfterTheFull50MsEveryTime) {
    Open();
    bus().QueueReport(kPath, 0, Numbered(64, 7));
    std::vector<std::uint8_t> got;
    ASSERT_EQ(Read(got), 1);
    const int searchesBefore = bus().counters().listsOpened;
    bus().Unplug(kPath);
    EXPECT_EQ(Read(got), 0);
    EXPECT_EQ(bus().NowMs(), 100u);
    EXPECT_EQ(Read(got), 0);
    EXPECT_EQ(bus().NowMs(), 150u);
    // The scale is searched for again at most every 500 ms, not at every 50 ms read.
    EXPECT_EQ(bus().counters().listsOpened - searchesBefore, 1);
}

TEST_F(ScaleRead, AFlashToShorterReportsShowsNothingOfTheOldOnesPastTheNewLength) {
    Open();
    bus().QueueReport(kPath, 0, std::vector<std::uint8_t>(64, 0xAA));
    std::vector<std::uint8_t> got;
    ASSERT_EQ(Read(got), 1);
    bus().Unplug(kPath);
    auto flashed = ScaleInterface("/sim/flashed");
    flashed.inputReportLength = 9;
    bus().AddInterface(flashed);
    bus().QueueReport("/sim/flashed", 0, std::vector<std::uint8_t>(9, 0x11));
    ASSERT_EQ(Read(got), 1);
    std::vector<std::uint8_t> record(64, 0);
    std::fill(record.begin(), record.begin() + 9, std::uint8_t{0x11});
    EXPECT_EQ(got, record);
}

}  // namespace
}  // namespace quen::test
