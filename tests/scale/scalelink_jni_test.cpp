// The scale bridge's exported functions, called as the JVM calls them, with a fake JNIEnv.
#include <gtest/gtest.h>

#include <jni.h>

#include <string>
#include <vector>

#include "bridge/device_ids.h"
#include "support/bridge_calls.h"
#include "support/sim_fixture.h"

namespace quen::test {
namespace {

class ScaleBridge : public SimBusTest, protected ScaleCalls {
  protected:
    void TearDown() override {
        Close();
        EXPECT_EQ(bus().counters().openChannels(), 0);
        ExpectCleanJni(jni);
        SimBusTest::TearDown();
    }
};

TEST_F(ScaleBridge, OnlyAScaleIsEverOpened) {
    bus().AddInterface(ScannerInterface("/sim/scanner", bridge::kScannerUsage));
    bus().AddInterface(ScannerInterface("/sim/scanner2", bridge::kScannerUsageAlternate));
    EXPECT_FALSE(Exists());
    EXPECT_FALSE(Open());
    EXPECT_EQ(Read(), nullptr);
    EXPECT_FALSE(Write(u"A"));
    EXPECT_EQ(bus().counters().channelsOpened, 0);
    EXPECT_EQ(bus().NowMs(), 0u);
}

TEST_F(ScaleBridge, PresentButNeverOpenedScaleGivesNullAtOnce) {
    bus().AddInterface(ScaleInterface("/sim/scale"));
    bus().QueueReport("/sim/scale", 0, std::vector<std::uint8_t>(64, 1));
    EXPECT_TRUE(Exists());
    EXPECT_EQ(Read(), nullptr);
    EXPECT_EQ(bus().NowMs(), 0u);
    EXPECT_EQ(bus().counters().channelsOpened, 0);
}

TEST_F(ScaleBridge, ReadGives64SignExtendedCharsPerReport) {
    bus().AddInterface(ScaleInterface("/sim/scale"));
    ASSERT_TRUE(Open());
    std::vector<std::uint8_t> report(64, 0);
    report[0] = 0x03;
    report[5] = 0xB5;
    bus().QueueReport("/sim/scale", 0, report);
    bus().QueueReport("/sim/scale", 10, report);
    jcharArray got = Read();
    ASSERT_NE(got, nullptr);
    const std::u16string chars = jni.Chars(got);
    ASSERT_EQ(chars.size(), 128u);
    EXPECT_EQ(chars[0], u'\u0003');
    EXPECT_EQ(chars[5], u'\uFFB5');
    EXPECT_EQ(chars[69], u'\uFFB5');
    EXPECT_EQ(Read(), nullptr);  // silent: null after 50 ms
    EXPECT_EQ(bus().NowMs(), 110u);
}

TEST_F(ScaleBridge, ReadIsNullWhenTheJvmHasNoRoomForTheBlock) {
    bus().AddInterface(ScaleInterface("/sim/scale"));
    ASSERT_TRUE(Open());
    bus().QueueReport("/sim/scale", 0, std::vector<std::uint8_t>(64, 1));
    jni.failNewCharArray = true;
    EXPECT_EQ(Read(), nullptr);
}

TEST_F(ScaleBridge, ReadAfterAFailedOpenOrCloseIsNullWithoutWaiting) {
    EXPECT_FALSE(Open());
    EXPECT_EQ(Read(), nullptr);
    bus().AddInterface(ScaleInterface("/sim/scale"));
    ASSERT_TRUE(Open());
    EXPECT_TRUE(Close());
    EXPECT_EQ(Read(), nullptr);
    EXPECT_EQ(bus().NowMs(), 0u);
}

TEST_F(ScaleBridge, WriteConvertsCharsAndRefusesNull) {
    bus().AddInterface(ScaleInterface("/sim/scale"));
    ASSERT_TRUE(Open());
    ASSERT_TRUE(Write(u"\u0041\u0142"));
    ASSERT_TRUE(Write(u""));
    EXPECT_FALSE(Write(static_cast<jcharArray>(nullptr)));
    const auto wire = bus().Wire("/sim/scale");
    ASSERT_EQ(wire.size(), 2u);
    std::vector<std::uint8_t> expected(64, 0);
    expected[1] = 0x41;
    expected[2] = 0x42;
    EXPECT_EQ(wire[0].bytes, expected);
    EXPECT_EQ(wire[1].bytes, std::vector<std::uint8_t>(64, 0));
}

TEST_F(ScaleBridge, WriteThatFailsAtOnceIsFalse) {
    auto scale = ScaleInterface("/sim/scale");
    scale.writeBehaviour = WriteBehaviour::FailAtOnce;
    bus().AddInterface(scale);
    ASSERT_TRUE(Open());
    EXPECT_FALSE(Write(u"Z"));
}

TEST_F(ScaleBridge, CloseBeforeOpenIsTrue) {
    EXPECT_TRUE(Close());
}

}  // namespace
}  // namespace quen::test
