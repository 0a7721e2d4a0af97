// Scenario files: the simulated bus described as text, for the JVM tests and the demo.
//
//   clock virtual|real
//   wire /path/to/log                 (each write appended as "path outcome hex...")
//   interface PATH vendor=0x2E5A product=0x0001 page=0xFF45 usage=0x4A00 in=64 out=64
//             [write=complete|never|fail] [latency=MS] [open=fail] [query=fail]
//             [attributes=fail] [caps=fail]
//   report PATH at=MS HEX HEX ...     (an input report, byte 0 the report ID)
//   unplug PATH
//
// Lines starting with # are comments. Each interface must be declared before its reports.
#pragma once

#include <string>

namespace quen::hid::sim {

// Resets the bus and applies the scenario text. False (bus reset, nothing applied past the
// faulty line) on a line it cannot read; `error` then names the line.
bool ApplyScenario(const std::string& text, std::string* error);

// Applies the file named by QUENLINK_SIM_SCENARIO when its content differs from the one applied
// last, so that a test rewriting the file sets up a new bus for the next search.
void RefreshScenarioFromEnvironment();

}  // namespace quen::hid::sim
