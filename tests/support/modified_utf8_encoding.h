// How a JVM hands a string to native code (GetStringUTFChars): each UTF-16 unit on its own,
// U+0001..U+007F in one byte, U+0000 and up to U+07FF in two, the rest (surrogates included) in
// three. For the fake JNIEnv and for the decoder's fuzz target.
#pragma once

#include <string>

namespace quen::test {

inline std::string EncodeModifiedUtf8(const std::u16string& units) {
    std::string out;
    for (const char16_t unit : units) {
        const unsigned u = unit;
        if (u != 0 && u < 0x80) {
            out += static_cast<char>(u);
        } else if (u < 0x800) {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (u >> 12));
            out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}

}  // namespace quen::test
