// Wide text as the configuration library takes it: zero-terminated UTF-16 units in fixed buffers.
#pragma once

#include <cstddef>

namespace quen::config {

#ifdef _WIN32
using WideUnit = wchar_t;
static_assert(sizeof(WideUnit) == 2, "Windows wide text is UTF-16");
#else
using WideUnit = char16_t;
#endif

// One buffer holds at most this many units of text followed by the terminator.
constexpr std::size_t kWideBufferUnits = 1255;
constexpr std::size_t kMaxTextUnits = kWideBufferUnits - 1;

}  // namespace quen::config
