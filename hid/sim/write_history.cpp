#include "hid/sim/write_history.h"

namespace quen::hid::sim {

const WrittenReport& WriteHistory::Kept(std::size_t i) const {
    const std::uint64_t oldest = total_ - kept();
    return records_[(oldest + i) % kKept];
}

}  // namespace quen::hid::sim
