// The modified UTF-8 decoder against any bytes: it never writes past its capacity, decodes what
// a JVM writes exactly, and refuses everything a JVM never writes and every text longer than the
// capacity. The input's first byte is the capacity; the rest is taken twice, once as the text
// (up to its first zero byte, as the JVM hands over a terminated string) and once as UTF-16
// units that a JVM encodes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/modified_utf8.h"
#include "support/modified_utf8_encoding.h"

namespace {

using quen::config::DecodeModifiedUtf8;
using quen::config::WideUnit;

constexpr WideUnit kGuard = 0xA5A5;
constexpr std::size_t kGuardUnits = 16;

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// The reference: cut the text into sequences by their lead bytes alone, take the payload bits,
// and accept only if a JVM would have written exactly these bytes for the units found.
bool ReferenceDecode(const std::string& text, std::u16string* units) {
    for (std::size_t i = 0; i < text.size();) {
        const unsigned lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80         ? 1
                                   : (lead >> 5) == 6  ? 2
                                   : (lead >> 4) == 14 ? 3
                                                       : 0;
        if (length == 0 || i + length > text.size()) {
            return false;
        }
        unsigned unit = length == 1 ? lead : length == 2 ? lead & 0x1F : lead & 0x0F;
        for (std::size_t k = 1; k < length; ++k) {
            unit = (unit << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        units->push_back(static_cast<char16_t>(unit));
        i += length;
    }
    return quen::test::EncodeModifiedUtf8(*units) == text;
}

// Decodes into a buffer of `capacity` units followed by guards; checks the guards and returns
// the units decoded, or -1 with `decoded` empty.
std::ptrdiff_t Decode(const std::string& text, std::size_t capacity, std::u16string* decoded) {
    std::vector<WideUnit> out(capacity + kGuardUnits, kGuard);
    const std::ptrdiff_t count = DecodeModifiedUtf8(text.c_str(), out.data(), capacity);
    for (std::size_t i = capacity; i < out.size(); ++i) {
        Check(out[i] == kGuard);
    }
    Check(count >= -1 && count <= static_cast<std::ptrdiff_t>(capacity));
    decoded->clear();
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        decoded->push_back(static_cast<char16_t>(out[static_cast<std::size_t>(i)]));
    }
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t capacity = data[0];
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

    // Any bytes as the text: the decoder agrees with the reference, or refuses a text too long.
    const std::string text = bytes.substr(0, bytes.find('\0'));
    std::u16string expected;
    const bool valid = ReferenceDecode(text, &expected);
    std::u16string decoded;
    const std::ptrdiff_t count = Decode(text, capacity, &decoded);
    if (valid && expected.size() <= capacity) {
        Check(count == static_cast<std::ptrdiff_t>(expected.size()) && decoded == expected);
    } else {
        Check(count == -1);
    }

    // The bytes as UTF-16 units, as a JVM writes them: they come back exactly when they fit.
    std::u16string units;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        units.push_back(static_cast<char16_t>(static_cast<std::uint8_t>(bytes[i]) |
                                              static_cast<std::uint8_t>(bytes[i + 1]) << 8));
    }
    const std::ptrdiff_t unitCount =
        Decode(quen::test::EncodeModifiedUtf8(units), capacity, &decoded);
    if (units.size() <= capacity) {
        Check(unitCount == static_cast<std::ptrdiff_t>(units.size()) && decoded == units);
    } else {
        Check(unitCount == -1);
    }
    return 0;
}
