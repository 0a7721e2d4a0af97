#include "config/modified_utf8.h"

namespace quen::config {

namespace {

bool IsContinuation(unsigned byte) {
    return (byte & 0xC0u) == 0x80u;
}

}  // namespace

std::ptrdiff_t DecodeModifiedUtf8(const char* text, WideUnit* out, std::size_t capacity) {
    const auto* in = reinterpret_cast<const unsigned char*>(text);
    std::size_t count = 0;
    while (*in != 0) {
        const unsigned b0 = in[0];
        unsigned unit = 0;
        if (b0 < 0x80u) {
            unit = b0;
            in += 1;
        } else if ((b0 & 0xE0u) == 0xC0u && IsContinuation(in[1])) {
            unit = ((b0 & 0x1Fu) << 6) | (in[1] & 0x3Fu);
            // Only U+0000 takes two bytes below U+0080; other overlong forms never come from a JVM.
            if (unit < 0x80u && unit != 0) {
                return -1;
            }
            in += 2;
        } else if ((b0 & 0xF0u) == 0xE0u && IsContinuation(in[1]) && IsContinuation(in[2])) {
            unit = ((b0 & 0x0Fu) << 12) | ((in[1] & 0x3Fu) << 6) | (in[2] & 0x3Fu);
            if (unit < 0x800u) {
                return -1;
            }
            in += 3;
        } else {
            // A stray continuation byte, a cut sequence (the terminator is no continuation byte,
            // so nothing is read past it), or a 4-byte form, which modified UTF-8 never uses.
            return -1;
        }
        if (count == capacity) {
            return -1;
        }
        out[count++] = static_cast<WideUnit>(unit);
    }
    return static_cast<std::ptrdiff_t>(count);
}

}  // namespace quen::config
