// Scenario files: the simulated bus described as text, for the JVM tests and the demo.
//
//   clock virtual|real [epoch-ns=N]   (real: bus time 0 is N on the steady clock, in ns;
//                                      without it, the moment this line is read)
//   wire /path/to/log                 (each write appended as "path outcome hex...")
//   interface PATH vendor=0x2E5A product=0x0001 page=0xFF45 usage=0x4A00 in=64 out=64
//             [write=complete|never|fail] [latency=MS] [open=fail|denied|busy] [query=fail]
//             [attributes=fail] [caps=fail]    (open=denied is open=fail: channels are refused
//                                               as to a user without permission; open=busy as
//                                               while another program holds the device)
//   report PATH at=MS HEX HEX ...     (an input report, byte 0 the report ID)
//   unplug PATH
//
// Lines starting with # are comments. Each interface must be declared before its reports.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>

namespace quen::sim {

// Resets the bus and applies the scenario text. False (bus reset, nothing applied past the
// faulty line) on a line it cannot read; `error` then names the line.
bool ApplyScenario(const std::string& text, std::string* error);

// Watches one scenario file and applies it to the bus when it changes. The file is read again
// only when its size or modification time changed, or while its modification time is too recent
// to be trusted: a file rewritten with the same length within the file system's timestamp
// granularity of the last read keeps its time, so it is compared by content until it settles.
class ScenarioFile {
  public:
    ScenarioFile() = default;
    ScenarioFile(const ScenarioFile&) = delete;
    ScenarioFile& operator=(const ScenarioFile&) = delete;

    // Applies the file at `path` when its text differs from the one this watch applied last.
    void Refresh(const char* path);

    int reads() const;         // times the file's text was read
    int applications() const;  // times a text was applied to the bus

  private:
    mutable std::mutex mutex_;
    std::string path_;
    std::string text_;  // as applied last
    bool applied_ = false;
    std::uintmax_t size_ = 0;
    std::filesystem::file_time_type modified_{};
    bool settled_ = false;  // the modification time was old enough at the last read
    int reads_ = 0;
    int applications_ = 0;
};

// Refreshes, with one watch for the library, the file named by QUENLINK_SIM_SCENARIO, so that a
// test rewriting the file sets up a new bus for the next search.
void RefreshScenarioFromEnvironment();

}  // namespace quen::sim
