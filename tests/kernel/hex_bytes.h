// Bytes as lower-case hex on the line between the device controller in the kernel VM and the
// Windows test that tells it what to do: both ends read and write them the same way.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace quen::test {

inline std::string Hex(const std::vector<std::uint8_t>& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xF];
    }
    return text;
}

// False (and `bytes` empty or partial) unless `text` is pairs of hex digits.
inline bool ParseHex(const std::string& text, std::vector<std::uint8_t>* bytes) {
    bytes->clear();
    if (text.size() % 2 != 0) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); i += 2) {
        char* end = nullptr;
        const std::string pair = text.substr(i, 2);
        const unsigned long value = std::strtoul(pair.c_str(), &end, 16);
        if (*end != '\0') {
            return false;
        }
        bytes->push_back(static_cast<std::uint8_t>(value));
    }
    return true;
}

}  // namespace quen::test
