// What a reader hands on of a report: its bytes as they are, or, for Java, one char per byte by
// sign extension (0x80 to 0xFF give U+FF80 to U+FFFF), which is what Java callers have always
// received. The readers widen straight from the input report, so a read copies a report once.
#pragma once

#include <cstdint>
#include <cstring>

namespace quen::bridge {

inline std::uint16_t CharFromReportByte(std::uint8_t b) {
    return static_cast<std::uint16_t>(static_cast<std::int16_t>(static_cast<std::int8_t>(b)));
}

inline void StoreReportUnits(std::uint8_t* to, const std::uint8_t* from, std::int32_t count) {
    std::memcpy(to, from, static_cast<std::size_t>(count));
}

inline void StoreReportUnits(std::uint16_t* to, const std::uint8_t* from, std::int32_t count) {
    for (std::int32_t i = 0; i < count; ++i) {
        to[i] = CharFromReportByte(from[i]);
    }
}

}  // namespace quen::bridge
