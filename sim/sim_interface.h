// One HID interface on the simulated bus: how a test declared it, whether it is plugged in, the
// input reports waiting on it and what its writes put on the wire.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "hid/platform.h"

namespace quen::sim {

// The bus stands behind the device object's platform seam and speaks its vocabulary.
using namespace quen::hid;

enum class WriteBehaviour {
    Complete,       // the device takes the report after writeLatencyMs
    NeverComplete,  // the report goes out but is never acknowledged: the writer times out
    FailAtOnce,     // the platform refuses the write: nothing reaches the device
};

struct InterfaceSpec {
    std::string path;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t usagePage = 0;
    std::uint16_t usage = 0;
    std::uint16_t inputReportLength = 64;
    std::uint16_t outputReportLength = 64;
    bool failQueryOpen = false;
    bool failAttributes = false;
    bool failCaps = false;
    // Channels are refused for this cause (PermissionDenied: as to a user without permission,
    // Busy: as while another program holds the device); None: they open.
    OpenFailure refuseOpen = OpenFailure::None;
    WriteBehaviour writeBehaviour = WriteBehaviour::Complete;
    std::uint32_t writeLatencyMs = 0;
};

struct QueuedReport {
    std::uint64_t atMs;
    std::vector<std::uint8_t> bytes;
};

struct WireRecord {
    std::vector<std::uint8_t> bytes;  // exactly what the write handed the device
    IoOutcome outcome;
    std::uint64_t atMs;  // when the write began
};

// A plug or unplug the scenario scheduled at a time on the bus clock.
struct PlugChange {
    std::uint64_t atMs;
    bool plugged;
};

struct SimInterface {
    // The latest writes kept per interface; wireTotal counts them all.
    static constexpr std::size_t kWritesKept = 64;

    InterfaceSpec spec;
    bool plugged = true;
    // Bumped by every unplug: a channel opened before it stays dead, also after a replug.
    std::uint32_t plugGeneration = 0;
    std::deque<QueuedReport> reports;    // in arrival order
    std::deque<PlugChange> plugChanges;  // in time order; taken up as the bus clock passes them
    std::deque<WireRecord> wire;
    std::uint64_t wireTotal = 0;
};

}  // namespace quen::sim
