// Report I/O on one open hidraw node, made to behave as a Windows HID handle does: byte 0 of every
// report is the report ID, and a channel opened for one top-level collection delivers only that
// collection's input reports.
#pragma once

#include <cstdint>
#include <utility>

#include "hid/hidraw/report_id_set.h"
#include "hid/hidraw/unique_fd.h"
#include "hid/deadline.h"
#include "hid/platform.h"

namespace quen::hid::hidraw {

// What a channel must know of its collection's reports.
struct ChannelReports {
    bool numbered = false;       // the device numbers its reports (byte 0 on the wire)
    ReportIdSet inputReportIds;  // this collection's input reports

    bool Accepts(std::uint8_t reportId) const { return !numbered || inputReportIds.Has(reportId); }
};

// Owns the file descriptor (opened non-blocking: only poll waits) and closes it when destroyed.
class HidrawChannel {
  public:
    HidrawChannel(UniqueFd fd, const ChannelReports& reports)
        : fd_(std::move(fd)), reports_(reports) {}
    HidrawChannel(const HidrawChannel&) = delete;
    HidrawChannel& operator=(const HidrawChannel&) = delete;

    // The seam's ReadInputReport and WriteOutputReport on this node (contracts in hid/platform.h).
    IoOutcome Read(std::uint8_t* buffer, std::uint32_t length, Deadline& deadline);
    IoOutcome Write(const std::uint8_t* report, std::uint32_t length);

  private:
    UniqueFd fd_;
    ChannelReports reports_;
};

}  // namespace quen::hid::hidraw
