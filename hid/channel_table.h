// Which channel each direction of the device object uses, kept so that a Close or an Open on any
// thread can run while a read or a write is in progress: a channel is never closed under the call
// that uses it, a channel that a recovering call opens never outlives the Close that ended its
// session, and nothing leaks. Lock-free, and one atomic add to begin a call and one to end it on
// the normal path: one word per direction holds the channel in place, a count of the calls in it,
// a channel taken out of place while a call held it, whether the device is open, and the session.
// Every decision to close a channel is taken from a snapshot of that word that an atomic
// read-modify-write made, so exactly one thread closes each channel: whoever takes it out of
// place, or, when a call held it, the last call out. No lock is taken and no system call is made
// while a thread waits on another.
//
// The rule of use: one call at a time per direction holds a channel (one read thread and one
// write thread); a second call that tries to hold the same direction at once gets nothing. Close
// and Open may come from any thread at any time.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "hid/platform.h"

namespace quen::hid {

// What a recovery search looks for: the vendor, usage page and usages (in order of preference)
// of the last open. Kept by value in every channel, so that a recovering thread never reads what
// a search on another thread may be writing.
struct SearchKey {
    static constexpr std::size_t kMaxUsages = 4;
    std::int32_t vendorId = 0;
    std::int32_t usagePage = 0;
    std::int32_t usages[kMaxUsages] = {};
    std::size_t usageCount = 0;
};

// One channel as the device object keeps it. Filled in by the thread that opens it before any
// other thread can see it, and left alone from then on until it is closed.
struct Channel {
    NativeHandle handle = kInvalidHandle;  // invalid when the open failed: a failed channel
    std::uint32_t reportLength = 0;        // this direction's report length on that device
    std::uint32_t unit = 0;                // which opening of the device; later ones are higher
    std::uint32_t session = 0;             // the Open it belongs to
    SearchKey key;
};

class ChannelTable {
  public:
    static constexpr int kRead = 0;
    static constexpr int kWrite = 1;

    // A call's hold on one direction: the channel it uses (null when it holds none) and the
    // session it began in.
    struct Hold {
        Channel* channel = nullptr;
        std::uint32_t session = 0;
        bool held = false;  // false: the device is closed, or another call holds the direction
    };

    ChannelTable() = default;
    ChannelTable(const ChannelTable&) = delete;
    ChannelTable& operator=(const ChannelTable&) = delete;

    // --- the calls of one direction (the thread that reads, or the one that writes) ---

    // Holds the direction's channel for a call, if the device is open and no other call holds it.
    Hold Begin(int direction);
    // Lets go; closes the held channel if a Close or Open took it out meanwhile.
    void End(int direction, const Hold& hold);
    // True while the session the hold began in is still the device's: no Close or Open since.
    bool StillOpen(int direction, const Hold& hold) const;
    // Puts `replacement` in place of the held channel, if no Close or Open came meanwhile; the
    // held one is closed. False (and `replacement` closed) otherwise. The hold then holds it.
    bool Replace(int direction, Hold& hold, Channel* replacement);
    // Offers the other direction a channel on the device this one recovered to (see Follow).
    void Offer(int direction, Channel* offered);
    // Takes up a channel the other direction offered, if it is of this session and newer than
    // the held one (a later recovery wins). True when the hold now holds it.
    bool Follow(int direction, Hold& hold);
    // Whether the other direction has offered a channel: one load, for the normal path.
    bool HasOffer(int direction) const {
        return offered_[direction].load(std::memory_order_acquire) != 0;
    }

    // --- open and close, from any thread ---

    // A free channel, or null when all are in use. Its owner fills it in, then publishes it
    // with Install, Replace or Offer, or gives it back with Dispose.
    Channel* Take();
    // Closes the channel's handle (if it opened) and frees it.
    void Dispose(Channel* channel);
    // The next unit and session numbers.
    std::uint32_t NextUnit() { return units_.fetch_add(1, std::memory_order_relaxed) + 1; }
    std::uint32_t NextSession() { return sessions_.fetch_add(1, std::memory_order_relaxed) + 1; }
    // Starts session `session` with these channels in place (either may be null), closing the
    // ones in place before unless a call holds them, which then closes them when it ends.
    void Install(std::uint32_t session, Channel* read, Channel* write);
    // Ends the session: both directions closed and emptied, offers withdrawn.
    void CloseAll();

    bool open() const;
    // The channel in place, for tools and tests that ask while no call runs.
    const Channel* InPlace(int direction) const;

  private:
    static constexpr std::size_t kChannels = 16;
    using Word = std::uint64_t;

    // One direction's word. Channels are named by their index in channels_ plus one; 0 is none.
    struct Fields {
        std::uint32_t calls = 0;    // calls in the direction: the holder, and one refused at once
        std::uint32_t current = 0;  // the channel in place
        std::uint32_t retired = 0;  // taken out of place while a call held it: the last call out
                                    // closes it
        bool open = false;
        std::uint32_t session = 0;
    };
    static Word Pack(const Fields& f);
    static Fields Unpack(Word word);
    std::uint32_t IndexOf(const Channel* channel) const;
    Channel* At(std::uint32_t index);

    // Swaps in the word `change` makes of the current one (`change` edits the fields and says
    // whether to swap at all); returns the fields it replaced, or the ones it left alone.
    template <typename Change>
    Fields Update(int direction, Change change);
    // Leaves the direction (one call fewer); the last call out closes a retired channel.
    void Leave(int direction);
    // Takes the channel in place out of place for a Close or an Open: closed now, or retired
    // for the last call out when a call may hold it.
    static void TakeOut(Fields& f, std::uint32_t* closeNow);

    Channel channels_[kChannels];
    std::atomic<bool> taken_[kChannels] = {};
    std::atomic<Word> words_[2] = {};
    std::atomic<std::uint32_t> offered_[2] = {};
    std::atomic<std::uint32_t> units_{0};
    std::atomic<std::uint32_t> sessions_{0};
};

}  // namespace quen::hid
