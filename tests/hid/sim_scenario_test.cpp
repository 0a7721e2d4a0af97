// The scenario files that JVM tests and the demo use to set up the bus.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "sim/sim_scenario.h"
#include "hid/deadline.h"
#include "support/sim_fixture.h"

namespace quen::test {
namespace {

using sim::ApplyScenario;
using sim::ScenarioFile;

class Scenario : public SimBusTest {};

TEST_F(Scenario, DeclaresInterfacesAndQueuesReportsInArrivalOrder) {
    std::string error;
    ASSERT_TRUE(
        ApplyScenario("# a till\n"
                      "interface /sim/a vendor=0x2E5A product=7 page=0xFF45 usage=0x4A00 "
                      "in=9 out=33 write=never\n"
                      "report /sim/a at=20 00 02\n"
                      "report /sim/a at=10 00 01 ff\n",
                      &error))
        << error;
    EXPECT_EQ(bus().PendingReports("/sim/a"), 2u);
    EXPECT_EQ(bus().clockMode(), sim::ClockMode::Virtual);
}

TEST_F(Scenario, RejectsALineItCannotReadAndSaysWhich) {
    std::string error;
    EXPECT_FALSE(ApplyScenario("interface /sim/a vendor=0x2E5A\nreport /sim/a at=x 00\n", &error));
    EXPECT_NE(error.find("line 2"), std::string::npos);
    EXPECT_FALSE(ApplyScenario("interface /sim/a usage=0x10000\n", &error));
    EXPECT_FALSE(ApplyScenario("report /sim/a at=0 100\n", &error));
    EXPECT_FALSE(ApplyScenario("teleport /sim/a\n", &error));
}

TEST_F(Scenario, FileIsReadAgainOnlyWhenItChanged) {
    namespace fs = std::filesystem;
    const char* path = "scenario_file_test.txt";  // in the test's own working folder
    const auto write = [path](const char* text, fs::file_time_type modified) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
        fs::last_write_time(path, modified);
    };
    ScenarioFile file;
    // Rewritten with the same length within one timestamp tick, as a test may do right after
    // the search that read it: the time does not show the change, the text does.
    const auto now = fs::file_time_type::clock::now();
    write("interface /sim/a\nreport /sim/a at=0 00\n", now);
    file.Refresh(path);
    write("interface /sim/b\nreport /sim/b at=0 00\n", now);
    file.Refresh(path);
    EXPECT_EQ(file.applications(), 2);
    EXPECT_EQ(bus().PendingReports("/sim/b"), 1u);
    // Once the time is old enough to be trusted, an unchanged file is not read again.
    fs::last_write_time(path, now - std::chrono::hours(1));
    file.Refresh(path);
    const int reads = file.reads();
    for (int i = 0; i < 100; ++i) {
        file.Refresh(path);
    }
    EXPECT_EQ(file.reads(), reads);
    write("interface /sim/c\nreport /sim/c at=0 00 01\n", now - std::chrono::hours(1));
    file.Refresh(path);
    EXPECT_EQ(file.applications(), 3);
    EXPECT_EQ(bus().PendingReports("/sim/c"), 1u);
    fs::remove(path);
}

// Another process (a JVM benchmark) knows when each report is due: it pins the bus's time 0.
TEST_F(Scenario, RealClockEpochIsPinnedToAMomentOfTheSteadyClock) {
    using namespace std::chrono;
    const auto at = [](steady_clock::time_point t) {
        return std::to_string(duration_cast<nanoseconds>(t.time_since_epoch()).count());
    };
    std::string error;
    const steady_clock::time_point epoch = steady_clock::now() - milliseconds(5000);
    ASSERT_TRUE(ApplyScenario("clock real epoch-ns=" + at(epoch) + "\n" +
                                  "interface /sim/a vendor=0x2E5A page=0xFF45 usage=0x4A00\n" +
                                  "report /sim/a at=5040 00 01\n",
                              &error))
        << error;
    EXPECT_GE(bus().NowMs(), 5000u);
    // A read waiting for the report ends at its moment on the steady clock, not before.
    const hid::NativeHandle channel = bus().OpenChannel("/sim/a", hid::ChannelKind::Read);
    std::uint8_t report[64] = {};
    hid::Deadline deadline(60000);
    EXPECT_EQ(bus().ReadInputReport(channel, bus().CreateCompletionEvent(), report, 64, deadline),
              hid::IoOutcome::Completed);
    EXPECT_GE(steady_clock::now(), epoch + milliseconds(5040));
    EXPECT_EQ(report[1], 1);
    bus().CloseChannel(channel);
    // Pinned ahead, the bus clock stays at 0 until then.
    ASSERT_TRUE(ApplyScenario("clock real epoch-ns=" + at(steady_clock::now() + hours(1)), &error));
    EXPECT_EQ(bus().NowMs(), 0u);
    EXPECT_FALSE(ApplyScenario("clock virtual epoch-ns=5\n", &error));
    EXPECT_FALSE(ApplyScenario("clock real epoch-ns=-5\n", &error));
    EXPECT_FALSE(ApplyScenario("clock real epoch-ns=99999999999999999999\n", &error));
}

}  // namespace
}  // namespace quen::test
