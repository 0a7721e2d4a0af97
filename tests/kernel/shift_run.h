// The device side of a soak shift (shift_plan.h), run by the device controller for the
// application that asked for it: the maker's scanner and scale as USB gadgets, a scanner of another
// vendor now and then, driven from the seed without a round trip per scan; the application is told
// when to switch modes, close and open, and sample itself. At the end the accounting
// (shift_account.h) is printed and sent to the application.
//
// The line protocol, after the application's "shift SEED SCANS RESEATS FLASHES":
//   to the application:   ready | ping | mode 0|1 | cycle | sample | finish
//                         | report TEXT ... then end pass|fail
//   from the application: go (both devices open, its threads running) | pong CLOCK-NS
//                         | mode 0|1 (the scanner's reader reads in that mode from now on)
//                         | cycled STATE (closed and opened both; STATE: DeviceState before)
//                         | sample DESCRIPTORS THREADS RESIDENT-KB CPU-NS SCANNER-CALLS-CPU-NS
//                           QUICK-NULLS (DESCRIPTORS: under Windows its file handles; the CPU its
//                           scanner reads and writes took; the scanner reads so far that returned
//                           null at once after another null while the device was not closed)
//                         | scan CLOCK-NS MODE HEX | weight CLOCK-NS HEX (each read that returned
//                           data, its chars' low bytes)
//                         | wrote SEQ 0|1 START-NS END-NS (each command, CommandText(SEQ))
//                         | finished STATE (threads stopped, both devices closed)
// CLOCK-NS is the application's monotonic clock; the pings tell its offset.
#pragma once

#include <string>

#include "kernel/shift_plan.h"

namespace quen::test::shift {

// Runs the shift on `connection`; `pending` holds what was read past the request and receives
// what the application sent past its end. True when the accounting passed.
bool RunShift(int connection, const Size& size, std::string& pending);

}  // namespace quen::test::shift
