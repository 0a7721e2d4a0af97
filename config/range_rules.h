// The small integer codes of a configuration request: a value outside its range is replaced by the
// range's default, never refused.
#pragma once

#include <cstdint>

namespace quen::config {

struct RangeRule {
    std::int32_t upper;     // the range is 0..upper, both included
    std::int32_t fallback;  // what an out-of-range value becomes
};

constexpr std::int32_t ApplyRange(RangeRule rule, std::int32_t value) {
    return value >= 0 && value <= rule.upper ? value : rule.fallback;
}

constexpr RangeRule kValue1Range{17, 5};
constexpr RangeRule kValue2Range{2, 0};
constexpr RangeRule kValue4Range{3, 0};
constexpr RangeRule kValue5Range{5, 0};
constexpr RangeRule kValue6Range{3, 0};
// value3 is passed through as it is.

}  // namespace quen::config
