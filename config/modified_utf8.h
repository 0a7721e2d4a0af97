// Strings as the JVM hands them over (GetStringUTFChars) turned back into their UTF-16 units.
#pragma once

#include <cstddef>

#include "config/wide_text.h"

namespace quen::config {

// Decodes the zero-terminated modified UTF-8 `text` into `out`, one UTF-16 unit per 1-, 2- or
// 3-byte sequence: a supplementary character arrives as the two surrogate sequences the JVM
// writes for it, and C0 80 is U+0000. Writes no terminator and never more than `capacity` units.
// Returns the number of units, or -1 when the text is malformed or needs more than `capacity`.
std::ptrdiff_t DecodeModifiedUtf8(const char* text, WideUnit* out, std::size_t capacity);

}  // namespace quen::config
