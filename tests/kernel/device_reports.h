// What the kernel tests share: a scanner's input report as the device itself sends it, and the
// real clock's elapsed milliseconds.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace quen::test {

using Clock = std::chrono::steady_clock;

inline long MsSince(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// A scanner report of a device without numbered reports, as it goes on the wire (no ID byte):
// L, three header bytes, the continuation, then the data; the host sees it with report ID 0 in
// front, so L is the position of the data's last byte there.
inline std::vector<std::uint8_t> ScanReport(const std::string& data, int continuation) {
    std::vector<std::uint8_t> report(64, 0);
    report[0] = static_cast<std::uint8_t>(5 + data.size());
    report[4] = static_cast<std::uint8_t>(continuation);
    for (std::size_t i = 0; i < data.size(); ++i) {
        report[5 + i] = static_cast<std::uint8_t>(data[i]);
    }
    return report;
}

}  // namespace quen::test
