// The wire log of scenario files: each write appended to a text file as one line
// "path completed|timed-out hex...", for JVM tests and the demo to read back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "hid/platform.h"

namespace quen::hid::sim {

// Appends one line to `file` (created when missing). Formats on the stack and writes the line
// with one append, so a write on the bus allocates nothing for its log line either.
void AppendWireLine(const char* file, std::string_view path, IoOutcome outcome,
                    const std::uint8_t* bytes, std::size_t length);

}  // namespace quen::hid::sim
