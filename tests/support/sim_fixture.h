// A fixture per scenario on the simulated bus: a fresh bus on the virtual clock for each test,
// interfaces declared in a line each, and a check after each test that every query handle and
// enumeration taken was given back and no stale handle was ever used.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bridge/device_ids.h"
#include "sim/sim_bus.h"

namespace quen::test {

using sim::InterfaceSpec;
using sim::SimBus;
using sim::WriteBehaviour;

// The maker's interfaces as tests declare them.
InterfaceSpec ScannerInterface(const std::string& path,
                               std::uint16_t usage = bridge::kScannerUsage);
InterfaceSpec ScaleInterface(const std::string& path);
// Another maker's device on the bus.
InterfaceSpec ForeignInterface(const std::string& path);

// An input report: byte 0 the report ID, byte 1 L, byte 5 continuation, data from byte 6.
std::vector<std::uint8_t> ScannerReport(int last, int continuation,
                                        const std::vector<std::uint8_t>& data = {});

// Calls `read(buffer, capacity, length)` on a buffer with guard bytes past `capacity` and checks
// that nothing was stored past it, and that a read giving 0 left `length` alone. Returns the
// read's result; `out` holds the bytes stored (empty on 0).
template <typename Read>
int GuardedRead(Read read, std::int32_t capacity, std::vector<std::uint8_t>& out) {
    constexpr std::uint8_t kGuard = 0xEE;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(capacity) + 16, kGuard);
    std::int32_t length = -7;
    const int result = read(buffer.data(), capacity, length);
    for (std::size_t i = static_cast<std::size_t>(capacity); i < buffer.size(); ++i) {
        EXPECT_EQ(buffer[i], kGuard) << "stored past the buffer at " << i;
    }
    out.clear();
    if (result == 0) {
        EXPECT_EQ(length, -7) << "length must be left untouched";
    } else {
        out.assign(buffer.begin(), buffer.begin() + length);
    }
    return result;
}

class SimBusTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    SimBus& bus() { return SimBus::Instance(); }

    // Misuse a test commits on purpose, to see that the bus catches it.
    int expectedBadHandleUses = 0;
};

}  // namespace quen::test
