#include "support/sim_fixture.h"

namespace quen::test {

namespace {
InterfaceSpec Maker(const std::string& path, std::uint16_t usage) {
    InterfaceSpec spec;
    spec.path = path;
    spec.vendorId = bridge::kMakerVendorId;
    spec.productId = 0x0101;
    spec.usagePage = bridge::kMakerUsagePage;
    spec.usage = usage;
    spec.inputReportLength = 64;
    spec.outputReportLength = 64;
    return spec;
}
}  // namespace

InterfaceSpec ScannerInterface(const std::string& path, std::uint16_t usage) {
    return Maker(path, usage);
}

InterfaceSpec ScaleInterface(const std::string& path) {
    return Maker(path, bridge::kScaleUsage);
}

InterfaceSpec ForeignInterface(const std::string& path) {
    InterfaceSpec spec;
    spec.path = path;
    spec.vendorId = 0x845E;
    spec.productId = 0x0001;
    spec.usagePage = 0x0001;
    spec.usage = 0x0006;
    spec.inputReportLength = 9;
    spec.outputReportLength = 2;
    return spec;
}

std::vector<std::uint8_t> ScannerReport(int last, int continuation,
                                        const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> report(64, 0);
    report[1] = static_cast<std::uint8_t>(last);
    report[5] = static_cast<std::uint8_t>(continuation);
    for (std::size_t i = 0; i < data.size() && 6 + i < report.size(); ++i) {
        report[6 + i] = data[i];
    }
    return report;
}

void SimBusTest::SetUp() {
    SimBus::Instance().Reset();
}

void SimBusTest::TearDown() {
    const auto counters = SimBus::Instance().counters();
    EXPECT_EQ(counters.openQueryHandles(), 0) << "a query handle was left open";
    EXPECT_EQ(counters.listsOpened, counters.listsClosed) << "an enumeration was left open";
    EXPECT_EQ(counters.badHandleUses, expectedBadHandleUses)
        << "a closed or unknown handle was used";
}

}  // namespace quen::test
