// The scenario files that JVM tests and the demo use to set up the bus.
#include <gtest/gtest.h>

#include "hid/sim/sim_scenario.h"
#include "support/sim_fixture.h"

namespace quen::test {
namespace {

using hid::sim::ApplyScenario;

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
    EXPECT_EQ(bus().clockMode(), hid::sim::ClockMode::Virtual);
}

TEST_F(Scenario, RejectsALineItCannotReadAndSaysWhich) {
    std::string error;
    EXPECT_FALSE(ApplyScenario("interface /sim/a vendor=0x2E5A\nreport /sim/a at=x 00\n", &error));
    EXPECT_NE(error.find("line 2"), std::string::npos);
    EXPECT_FALSE(ApplyScenario("interface /sim/a usage=0x10000\n", &error));
    EXPECT_FALSE(ApplyScenario("report /sim/a at=0 100\n", &error));
    EXPECT_FALSE(ApplyScenario("teleport /sim/a\n", &error));
}

}  // namespace
}  // namespace quen::test
