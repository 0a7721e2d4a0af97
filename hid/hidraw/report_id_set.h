// A set of report IDs, one bit each: the input reports that belong to one top-level collection.
#pragma once

#include <cstdint>

namespace quen::hid::hidraw {

struct ReportIdSet {
    void Add(std::uint8_t id) { bits[id / 8] |= static_cast<std::uint8_t>(1u << (id % 8)); }
    bool Has(std::uint8_t id) const { return (bits[id / 8] & (1u << (id % 8))) != 0; }

    std::uint8_t bits[32] = {};
};

}  // namespace quen::hid::hidraw
