// The scanner bridge's exported functions, called as the JVM calls them, with a fake JNIEnv.
#include <gtest/gtest.h>

#include <jni.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "bridge/device_ids.h"
#include "support/bridge_calls.h"
#include "support/sim_fixture.h"

namespace quen::test {
namespace {

class ScannerBridge : public SimBusTest, protected ScannerCalls {
  protected:
    void SetUp() override {
        SimBusTest::SetUp();
        SetMode(false);
    }
    void TearDown() override {
        Close();
        EXPECT_EQ(bus().counters().openChannels(), 0);
        ExpectCleanJni(jni);
        SimBusTest::TearDown();
    }
};

TEST_F(ScannerBridge, OpenPrefersTheFirstScannerUsageEvenWhenItEnumeratesLater) {
    bus().AddInterface(ScannerInterface("/sim/alternate", bridge::kScannerUsageAlternate));
    bus().AddInterface(ScannerInterface("/sim/primary", bridge::kScannerUsage));
    ASSERT_TRUE(Open());
    ASSERT_TRUE(Write(u"A"));
    EXPECT_EQ(bus().Wire("/sim/primary").size(), 1u);
    EXPECT_TRUE(bus().Wire("/sim/alternate").empty());
}

TEST_F(ScannerBridge, OpenFallsBackToTheSecondScannerUsage) {
    bus().AddInterface(ScaleInterface("/sim/scale"));
    bus().AddInterface(ScannerInterface("/sim/alternate", bridge::kScannerUsageAlternate));
    EXPECT_TRUE(Exists());
    ASSERT_TRUE(Open());
    ASSERT_TRUE(Write(u"A"));
    EXPECT_EQ(bus().Wire("/sim/alternate").size(), 1u);
}

TEST_F(ScannerBridge, WithoutAScannerEverythingFailsQuietly) {
    bus().AddInterface(ScaleInterface("/sim/scale"));
    EXPECT_FALSE(Exists());
    EXPECT_FALSE(Open());
    EXPECT_FALSE(Write(u"A"));
    EXPECT_EQ(Read(), nullptr);
    EXPECT_TRUE(Close());
    EXPECT_EQ(bus().counters().channelsOpened, 0);
}

TEST_F(ScannerBridge, PresentButNeverOpenedScannerGivesNoData) {
    bus().AddInterface(ScannerInterface("/sim/scanner"));
    bus().QueueReport("/sim/scanner", 0, ScannerReport(3, 0));
    EXPECT_TRUE(Exists());
    EXPECT_EQ(Read(), nullptr);
    EXPECT_EQ(bus().counters().channelsOpened, 0);
    EXPECT_EQ(bus().NowMs(), 0u);
}

TEST_F(ScannerBridge, WriteKeepsTheLowByteOfEachChar) {
    bus().AddInterface(ScannerInterface("/sim/scanner"));
    ASSERT_TRUE(Open());
    ASSERT_TRUE(Write(u"\u0041\u0142\uFFFF"));
    const auto wire = bus().Wire("/sim/scanner");
    ASSERT_EQ(wire.size(), 1u);
    std::vector<std::uint8_t> expected(64, 0);
    expected[1] = 0x41;
    expected[2] = 0x42;
    expected[3] = 0xFF;
    EXPECT_EQ(wire[0].bytes, expected);
}

TEST_F(ScannerBridge, WriteOfAnEmptyArraySendsZerosAndReportsTheOutcome) {
    bus().AddInterface(ScannerInterface("/sim/scanner"));
    ASSERT_TRUE(Open());
    EXPECT_TRUE(Write(u""));
    EXPECT_EQ(bus().Wire("/sim/scanner")[0].bytes, std::vector<std::uint8_t>(64, 0));
    bus().SetWriteBehaviour("/sim/scanner", WriteBehaviour::NeverComplete);
    EXPECT_FALSE(Write(u""));
    EXPECT_EQ(bus().NowMs(), 6000u);
}

TEST_F(ScannerBridge, WriteOfNullIsRefused) {
    bus().AddInterface(ScannerInterface("/sim/scanner"));
    ASSERT_TRUE(Open());
    EXPECT_FALSE(Write(static_cast<jcharArray>(nullptr)));
    EXPECT_EQ(bus().counters().writes, 0);
}

TEST_F(ScannerBridge, WriteOfAHugeArrayIsCutTo255DataBytes) {
    auto wide = ScannerInterface("/sim/scanner");
    wide.outputReportLength = 256;
    bus().AddInterface(wide);
    ASSERT_TRUE(Open());
    std::u16string chars(5000, u'\u0131');
    ASSERT_TRUE(Write(chars));
    const auto wire = bus().Wire("/sim/scanner");
    ASSERT_EQ(wire[0].bytes.size(), 256u);
    EXPECT_EQ(wire[0].bytes[0], 0x00);
    EXPECT_EQ(wire[0].bytes[255], 0x31);
}

TEST_F(ScannerBridge, ReadSignExtendsEachByte) {
    bus().AddInterface(ScannerInterface("/sim/scanner"));
    ASSERT_TRUE(Open());
    bus().QueueReport("/sim/scanner", 0, ScannerReport(8, 0, {0xB5, 0x7F, 0x80}));
    jcharArray got = Read();
    ASSERT_NE(got, nullptr);
    const std::u16string chars = jni.Chars(got);
    ASSERT_EQ(chars.size(), 9u);
    EXPECT_EQ(chars[1], u'\u0008');
    EXPECT_EQ(chars[6], u'\uFFB5');
    EXPECT_EQ(chars[7], u'\u007F');
    EXPECT_EQ(chars[8], u'\uFF80');
}

TEST_F(ScannerBridge, NegativeLengthGivesAnEmptyArrayNotNull) {
    bus().AddInterface(ScannerInterface("/sim/scanner"));
    ASSERT_TRUE(Open());
    bus().QueueReport("/sim/scanner", 0, ScannerReport(-1, 0));
    jcharArray got = Read();
    ASSERT_NE(got, nullptr);
    EXPECT_TRUE(jni.Chars(got).empty());
}

TEST_F(ScannerBridge, ReadReturnsNullOnSilenceAndWhenTheJvmHasNoRoom) {
    bus().AddInterface(ScannerInterface("/sim/scanner"));
    ASSERT_TRUE(Open());
    EXPECT_EQ(Read(), nullptr);
    EXPECT_EQ(bus().NowMs(), 500u);
    bus().QueueReport("/sim/scanner", 500, ScannerReport(2, 0));
    jni.failNewCharArray = true;
    EXPECT_EQ(Read(), nullptr);
}

TEST_F(ScannerBridge, SegmentedModeIsSetBeforeOpenAndHoldsAfterIt) {
    bus().AddInterface(ScannerInterface("/sim/scanner"));
    EXPECT_TRUE(SetMode(true));
    ASSERT_TRUE(Open());
    bus().QueueReport("/sim/scanner", 0, ScannerReport(7, 1, {'a', 'b'}));
    bus().QueueReport("/sim/scanner", 5, ScannerReport(7, 0, {'c', 'd'}));
    jcharArray got = Read();
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(jni.Chars(got), u"abcd");
    EXPECT_FALSE(SetMode(false));
}

TEST_F(ScannerBridge, OpenScaleSearchesAfreshAfterAScannerWasOpened) {
    bus().AddInterface(ScannerInterface("/sim/scanner"));
    bus().AddInterface(ScaleInterface("/sim/scale"));
    ASSERT_TRUE(Open());
    ASSERT_TRUE(OpenScale());
    EXPECT_EQ(bus().counters().openChannels(), 2);  // the scanner's channels were closed
    ASSERT_TRUE(Write(u"W"));
    EXPECT_EQ(bus().Wire("/sim/scale").size(), 1u);
    bus().Unplug("/sim/scale");
    EXPECT_FALSE(OpenScale());
}

TEST_F(ScannerBridge, AScannerNotYetPermittedKeepsReadsPacedAndOpensOnceItIs) {
    // udev applies the rule's permissions a moment after the node appears: Open is true, reads
    // keep their pace while the node cannot be opened, and the read after the permission came
    // reads the scanner, with no Close or Open. The state says what is wrong meanwhile.
    auto locked = ScannerInterface("/sim/scanner");
    locked.refuseOpen = hid::OpenFailure::PermissionDenied;
    bus().AddInterface(locked);
    EXPECT_EQ(State(), "closed 0");
    EXPECT_TRUE(Open());
    EXPECT_EQ(State(), "denied 0: give this user access to /sim/scanner");
    EXPECT_FALSE(Write(u"A"));
    EXPECT_EQ(Read(), nullptr);
    EXPECT_EQ(bus().NowMs(), 500u);
    bus().Update("/sim/scanner", [](InterfaceSpec& s) { s.refuseOpen = hid::OpenFailure::None; });
    bus().QueueReport("/sim/scanner", 700, ScannerReport(7, 0, {'o', 'k'}));
    const jcharArray read = Read();
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(jni.Chars(read).substr(6), u"ok");
    EXPECT_EQ(bus().NowMs(), 700u);
    EXPECT_TRUE(Write(u"B")) << "the write side follows the read side's channel";
    EXPECT_EQ(State(), "open 1");
    bus().Update("/sim/scanner", [](InterfaceSpec& s) { s.refuseOpen = hid::OpenFailure::Busy; });
    bus().Unplug("/sim/scanner");
    bus().Replug("/sim/scanner");
    EXPECT_EQ(Read(), nullptr);
    EXPECT_EQ(State(), "busy 1: another program holds it");
    Close();
    EXPECT_EQ(State(), "closed 1");
}

TEST_F(ScannerBridge, CloseBeforeOpenAndTwiceIsTrue) {
    EXPECT_TRUE(Close());
    bus().AddInterface(ScannerInterface("/sim/scanner"));
    ASSERT_TRUE(Open());
    EXPECT_TRUE(Close());
    EXPECT_TRUE(Close());
    EXPECT_EQ(Read(), nullptr);
}

TEST_F(ScannerBridge, OneThreadReadsWhileAnotherWritesAsReportsArriveInRealTime) {
    // The use the bridge allows, one reader and one writer at once, each with its own JNIEnv,
    // while the device sends scans and its cable is reseated midway: both threads find the
    // scanner again on their own. Run under ThreadSanitizer, this finds any data race.
    bus().Reset(sim::ClockMode::Real);
    bus().AddInterface(ScannerInterface("/sim/scanner"));
    bus().SetWriteBehaviour("/sim/scanner", WriteBehaviour::Complete, 2);
    ASSERT_TRUE(Open());
    std::atomic<bool> stop{false};
    std::atomic<int> scans{0};
    std::atomic<int> writes{0};
    std::thread reader([&] {
        FakeJni own;
        while (!stop) {
            scans += Java_com_quendal_javapos_usb_QuenHIDOper_read(own.env(), nullptr) != nullptr;
        }
    });
    std::thread writer([&] {
        FakeJni own;
        const jcharArray command = own.NewCharArray(u"T");
        while (!stop) {
            writes += Java_com_quendal_javapos_usb_QuenHIDOper_write(own.env(), nullptr, command);
        }
    });
    const auto queueFor = [this](std::chrono::milliseconds span) {
        int queued = 0;
        const auto end = std::chrono::steady_clock::now() + span;
        while (std::chrono::steady_clock::now() < end) {
            bus().QueueReport("/sim/scanner", bus().NowMs(), ScannerReport(7, 0, {'4', '2'}));
            ++queued;
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
        return queued;
    };
    queueFor(std::chrono::milliseconds(1500));
    EXPECT_GT(scans, 0);
    bus().Unplug("/sim/scanner");  // drops what was still queued
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    const int writesWhileAway = writes;
    bus().Replug("/sim/scanner");
    const int scansWhileAway = scans;  // nothing can arrive before the next report is queued
    const int queued = queueFor(std::chrono::milliseconds(2500));
    stop = true;
    reader.join();
    writer.join();
    EXPECT_GT(writes, writesWhileAway);
    EXPECT_EQ(
        static_cast<std::size_t>(scans - scansWhileAway) + bus().PendingReports("/sim/scanner"),
        static_cast<std::size_t>(queued));
    EXPECT_EQ(bus().WireTotal("/sim/scanner"), static_cast<std::uint64_t>(writes));
}

TEST_F(ScannerBridge, CloseAndOpenOnAnotherThreadDuringReadsWritesAndReseatsNeitherCrashNorLeak) {
    // How a POS service stops its reader, and starts again at each customer: Close and Open on a
    // thread of their own while reads and writes run and the cable is reseated now and then. No
    // channel may be closed under a call (the bus counts that as a bad handle use), none may come
    // back after Close, none may be left open.
    bus().Reset(sim::ClockMode::Real);
    bus().AddInterface(ScannerInterface("/sim/scanner"));
    ASSERT_TRUE(Open());
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        FakeJni own;
        while (!stop) {
            Java_com_quendal_javapos_usb_QuenHIDOper_read(own.env(), nullptr);
        }
    });
    std::thread writer([&] {
        FakeJni own;
        const jcharArray command = own.NewCharArray(u"T");
        while (!stop) {
            Java_com_quendal_javapos_usb_QuenHIDOper_write(own.env(), nullptr, command);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    for (int i = 0; i < 400; ++i) {
        bus().QueueReport("/sim/scanner", bus().NowMs(), ScannerReport(7, 0, {'4', '2'}));
        if (i % 40 == 0) {
            bus().ScheduleReseat("/sim/scanner", bus().NowMs() + 1, 0);  // found again at once
        }
        // Time for the reader to take the report and wait for the next one.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_TRUE(Close());
        EXPECT_TRUE(Open());
    }
    EXPECT_TRUE(Close());
    stop = true;
    reader.join();
    writer.join();
    EXPECT_EQ(bus().counters().openChannels(), 0) << "a channel came back after Close";
}

}  // namespace
}  // namespace quen::test
