#include "hid/sim/handle_table.h"

namespace quen::hid::sim {

NativeHandle HandleTable::Open(HandleKind kind, SimInterface* target,
                               std::uint32_t plugGeneration) {
    std::uint32_t index = firstFree_;
    if (index != kNone) {
        firstFree_ = slots_[index].nextFree;
    } else if (slots_.size() < kMaxSlots) {
        index = static_cast<std::uint32_t>(slots_.size());
        slots_.emplace_back();
    } else {
        return kInvalidHandle;
    }
    Slot& slot = slots_[index];
    slot.open = true;
    slot.nextFree = kNone;
    slot.entry.kind = kind;
    slot.entry.target = target;
    slot.entry.plugGeneration = plugGeneration;
    ++live_;
    return Encode(index, slot.generation);
}

void HandleTable::Close(NativeHandle handle) {
    if (Find(handle) != nullptr) {
        Release(static_cast<std::uint32_t>((static_cast<std::uint64_t>(handle) & kMaxSlots) - 1));
    }
}

void HandleTable::CloseAllBut(HandleKind keep) {
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        if (slots_[i].open && slots_[i].entry.kind != keep) {
            Release(static_cast<std::uint32_t>(i));
        }
    }
}

void HandleTable::Release(std::uint32_t index) {
    Slot& slot = slots_[index];
    slot.open = false;
    slot.generation = (slot.generation + 1) & kGenerationMask;
    slot.entry.target = nullptr;
    std::vector<SimInterface*>().swap(slot.entry.snapshot);
    slot.nextFree = firstFree_;
    firstFree_ = index;
    --live_;
}

}  // namespace quen::hid::sim
