// A text's UTF-16 units as four hex digits each, the way the configuration library's stand-in
// records the texts it receives.
#pragma once

#include <cstdio>
#include <string>

namespace quen::test {

inline std::string Utf16Hex(const std::u16string& text) {
    std::string out;
    for (char16_t unit : text) {
        char hex[5];
        std::snprintf(hex, sizeof hex, "%04x", static_cast<unsigned>(unit));
        out += hex;
    }
    return out;
}

}  // namespace quen::test
