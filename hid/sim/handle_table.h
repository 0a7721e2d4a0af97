// The handles the simulated bus hands out. Slots are reused through a free list, and each slot
// has a generation that its handle carries: a closed or stale handle is still recognised as such
// after its slot has been reused, and the table never holds more slots than were open at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "hid/platform.h"
#include "hid/sim/sim_interface.h"

namespace quen::hid::sim {

enum class HandleKind : std::uint8_t { List, Query, ReadChannel, WriteChannel, Event };

struct HandleEntry {
    HandleKind kind = HandleKind::Event;
    SimInterface* target = nullptr;       // queries and channels
    std::uint32_t plugGeneration = 0;     // the target's, when the handle was opened
    std::vector<SimInterface*> snapshot;  // lists: the interfaces plugged in when it was taken
};

class HandleTable {
  public:
    // A new handle, or kInvalidHandle when every slot is taken. Never kNoEvent.
    NativeHandle Open(HandleKind kind, SimInterface* target, std::uint32_t plugGeneration);
    // The entry of an open handle; null for a closed, stale or unknown one. Inline: every read
    // and write on the bus looks up two handles.
    HandleEntry* Find(NativeHandle handle) {
        if (handle <= 0) {
            return nullptr;
        }
        const std::uint64_t index = (static_cast<std::uint64_t>(handle) & kMaxSlots) - 1;
        if (index >= slots_.size()) {
            return nullptr;
        }
        Slot& slot = slots_[static_cast<std::size_t>(index)];
        if (!slot.open || Encode(static_cast<std::uint32_t>(index), slot.generation) != handle) {
            return nullptr;
        }
        return &slot.entry;
    }
    // Closes an open handle (one Find accepted) and frees what it held.
    void Close(NativeHandle handle);
    // Closes every handle but those of kind `keep`.
    void CloseAllBut(HandleKind keep);

    std::size_t live() const { return live_; }
    std::size_t slots() const { return slots_.size(); }

  private:
    struct Slot {
        HandleEntry entry;
        std::uint32_t generation = 0;
        std::uint32_t nextFree = kNone;
        bool open = false;
    };
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
    // A handle is (generation << kIndexBits) | (slot index + 1): never 0 (kNoEvent), never
    // negative (kInvalidHandle), on 32-bit platforms too. The generation keeps what fits above
    // the index.
    static constexpr unsigned kIndexBits = 16;
    static constexpr std::uint32_t kMaxSlots = (1u << kIndexBits) - 1;
    static constexpr unsigned kGenerationBits = sizeof(NativeHandle) * 8 - 1 - kIndexBits;
    static constexpr std::uint32_t kGenerationMask =
        kGenerationBits >= 32 ? 0xFFFFFFFFu : (1u << kGenerationBits) - 1;

    static NativeHandle Encode(std::uint32_t index, std::uint32_t generation) {
        return static_cast<NativeHandle>(
            (static_cast<std::uint64_t>(generation & kGenerationMask) << kIndexBits) | (index + 1));
    }

    void Release(std::uint32_t index);

    std::vector<Slot> slots_;
    std::uint32_t firstFree_ = kNone;
    std::size_t live_ = 0;
};

}  // namespace quen::hid::sim
