#include "hid/sim/handle_table.h"

namespace quen::hid::sim {
namespace {

// A handle is (generation << kIndexBits) | (slot index + 1): never 0 (kNoEvent), never negative
// (kInvalidHandle), on 32-bit platforms too. The generation keeps what fits above the index.
constexpr unsigned kIndexBits = 16;
constexpr std::uint32_t kMaxSlots = (1u << kIndexBits) - 1;
constexpr unsigned kGenerationBits = sizeof(NativeHandle) * 8 - 1 - kIndexBits;
constexpr std::uint32_t kGenerationMask =
    kGenerationBits >= 32 ? 0xFFFFFFFFu : (1u << kGenerationBits) - 1;

NativeHandle Encode(std::uint32_t index, std::uint32_t generation) {
    return static_cast<NativeHandle>(
        (static_cast<std::uint64_t>(generation & kGenerationMask) << kIndexBits) | (index + 1));
}

}  // namespace

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

HandleEntry* HandleTable::Find(NativeHandle handle) {
    if (handle <= 0) {
        return nullptr;
    }
    const auto bits = static_cast<std::uint64_t>(handle);
    const std::uint64_t index = (bits & kMaxSlots) - 1;
    if (index >= slots_.size()) {
        return nullptr;
    }
    Slot& slot = slots_[static_cast<std::size_t>(index)];
    if (!slot.open || Encode(static_cast<std::uint32_t>(index), slot.generation) != handle) {
        return nullptr;
    }
    return &slot.entry;
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
