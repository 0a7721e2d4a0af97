// The accounting at the end of a shift (shift_plan.h): what the devices sent and took, against
// what the application read and wrote. Every scan the scanner sent whole while the library had
// its node open must have arrived exactly once, in order, whole and unspliced; a scan cut by an
// unplug or a Close may be lost but never arrive in part (unless its read ended by the 500 ms
// time-out, which the reader specifies), and so may one whose last report the device saw taken
// in the last kUnplugMarginMs before an unplug (the gadget's side of a transfer ends before the
// host's, and an unplug between them loses the report in the kernel, where no library sees
// it); every weight block and every command taken must have
// arrived whole, once and in order; nothing of the other vendor's device may arrive; the
// application's descriptors are the same at the end as at the start. Beside these, the figures:
// latency, recovery, memory, threads, CPU while the scanner was away.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kernel/shift_plan.h"

namespace quen::test::shift {

using Ns = std::int64_t;  // nanoseconds on the device side's clock (CLOCK_MONOTONIC in the VM)

constexpr long kUnplugMarginMs = 20;

// What the device side did and saw.
struct DeviceLog {
    struct SentScan {
        bool sent = false;      // its first report went out
        bool complete = false;  // the host took every report of it
        Ns lastReportAt = 0;    // when its last report sent began to go
        Ns takenAt = 0;         // when the device saw the host take it
    };
    std::vector<SentScan> scans;  // by sequence number
    struct Window {
        Ns start = 0;  // commands taken before it are read; none is read after, until
        Ns end = 0;    // the first command on the device found again
    };
    std::vector<Window> away;                         // unplugs: reseats and flashes
    std::vector<std::vector<std::uint8_t>> commands;  // output reports the scanner took, in order
    std::vector<int> blockRecords;                    // weight blocks sent whole: their records
    std::vector<Ns> recoveries;  // node's appearance to the first command on it; -1: never came
    struct Span {
        std::size_t from = 0;  // sample indexes around a long absence
        std::size_t to = 0;
    };
    std::vector<Span> cpuSpans;
    struct Note {
        Ns at = 0;
        std::string what;
    };
    std::vector<Note> notes;          // what happened besides scans, for the context of a fault
    int foreignSent = 0;              // reports the other vendor's scanner sent
    std::vector<std::string> errors;  // what the device side could not do
};

// What the application reported.
struct AppLog {
    struct Read {
        Ns at = 0;  // the application's clock when the read returned
        int mode = 0;
        std::string bytes;  // each char's low byte
    };
    std::vector<Read> scans;
    std::vector<Read> weights;
    struct Write {
        int seq = 0;
        bool taken = false;
        Ns start = 0;  // the application's clock
        Ns end = 0;
    };
    std::vector<Write> writes;
    struct Sample {
        Ns at = 0;  // the device side's clock
        long descriptors = 0;
        long threads = 0;
        long residentKb = 0;
        Ns cpu = 0;           // the process
        Ns scannerCpu = 0;    // the scanner's reads and writes, in the library
        long quickNulls = 0;  // scanner reads so far that returned null at once, not closed
    };
    std::vector<Sample> samples;  // the first at the start, the last at the end, both devices open
    std::vector<std::string> states;  // the scanner's DeviceState before each Close, and at the end
    Ns offset = 0;                    // the application's clock minus the device side's
    Ns offsetError = 0;
};

struct Verdict {
    std::vector<std::string> lines;
    bool pass = true;
};

Verdict Account(const Plan& plan, const DeviceLog& device, const AppLog& app);

}  // namespace quen::test::shift
