#include "hid/channel_table.h"

#include <initializer_list>

namespace quen::hid {
namespace {

constexpr int kIndexBits = 8;
constexpr std::uint64_t kIndexMask = (1u << kIndexBits) - 1;
constexpr int kHeldShift = 8;
constexpr std::uint64_t kBusyBit = std::uint64_t{1} << 16;
constexpr std::uint64_t kOpenBit = std::uint64_t{1} << 17;
constexpr int kSessionShift = 32;

int Other(int direction) {
    return 1 - direction;
}

}  // namespace

ChannelTable::Word ChannelTable::Pack(const Fields& f) {
    return Word{f.current} | (Word{f.held} << kHeldShift) | (f.busy ? kBusyBit : 0) |
           (f.open ? kOpenBit : 0) | (Word{f.session} << kSessionShift);
}

ChannelTable::Fields ChannelTable::Unpack(Word word) {
    Fields f;
    f.current = static_cast<std::uint32_t>(word & kIndexMask);
    f.held = static_cast<std::uint32_t>((word >> kHeldShift) & kIndexMask);
    f.busy = (word & kBusyBit) != 0;
    f.open = (word & kOpenBit) != 0;
    f.session = static_cast<std::uint32_t>(word >> kSessionShift);
    return f;
}

std::uint32_t ChannelTable::IndexOf(const Channel* channel) const {
    return channel == nullptr ? 0 : static_cast<std::uint32_t>(channel - channels_) + 1;
}

Channel* ChannelTable::At(std::uint32_t index) {
    return index == 0 ? nullptr : &channels_[index - 1];
}

template <typename Change>
ChannelTable::Fields ChannelTable::Update(int direction, Change change) {
    Word word = words_[direction].load();
    for (;;) {
        Fields next = Unpack(word);
        if (!change(next)) {
            return Unpack(word);
        }
        if (words_[direction].compare_exchange_weak(word, Pack(next))) {
            return Unpack(word);
        }
    }
}

void ChannelTable::CloseDisplaced(const Fields& before, std::uint32_t nowInPlace) {
    // The channel that was in place is out of place now: whoever took it out closes it, unless a
    // call holds it, which closes it when it lets go (End sees it is no longer in place).
    if (before.current != 0 && before.current != nowInPlace && before.current != before.held) {
        Dispose(At(before.current));
    }
}

ChannelTable::Hold ChannelTable::Begin(int direction) {
    Hold hold;
    const Fields before = Update(direction, [](Fields& f) {
        if (!f.open || f.busy) {
            return false;
        }
        f.busy = true;
        f.held = f.current;
        return true;
    });
    if (before.open && !before.busy) {
        hold.channel = At(before.current);
        hold.session = before.session;
        hold.held = true;
    }
    return hold;
}

void ChannelTable::End(int direction, const Hold& hold) {
    if (!hold.held) {
        return;
    }
    const Fields before = Update(direction, [](Fields& f) {
        f.busy = false;
        f.held = 0;
        return true;
    });
    if (before.held != 0 && before.held != before.current) {
        Dispose(At(before.held));  // a Close or an Open took it out while this call held it
    }
}

bool ChannelTable::StillOpen(int direction, const Hold& hold) const {
    const Fields f = Unpack(words_[direction].load());
    return f.open && f.session == hold.session;
}

bool ChannelTable::Replace(int direction, Hold& hold, Channel* replacement) {
    const std::uint32_t index = IndexOf(replacement);
    bool replaced = false;
    const Fields before = Update(direction, [&](Fields& f) {
        replaced = f.open && f.session == hold.session && f.current == f.held;
        if (replaced) {
            f.current = index;
            f.held = index;
        }
        return replaced;
    });
    if (!replaced) {
        Dispose(replacement);
        return false;
    }
    if (before.held != 0) {
        Dispose(At(before.held));  // out of place, and this call held it
    }
    hold.channel = replacement;
    return true;
}

void ChannelTable::Offer(int direction, Channel* offered) {
    const int other = Other(direction);
    const std::uint32_t index = IndexOf(offered);
    const std::uint32_t earlier = offered_[other].exchange(index);
    if (earlier != 0) {
        Dispose(At(earlier));  // never taken up: superseded
    }
    // A Close that came meanwhile may have withdrawn the offers before this one was made: take it
    // back, unless the other direction (or that Close) has taken it already.
    const Fields f = Unpack(words_[other].load());
    if (!f.open || f.session != offered->session) {
        std::uint32_t expected = index;
        if (offered_[other].compare_exchange_strong(expected, 0)) {
            Dispose(offered);
        }
    }
}

bool ChannelTable::Follow(int direction, Hold& hold) {
    const std::uint32_t index = offered_[direction].exchange(0);
    if (index == 0) {
        return false;
    }
    Channel* offered = At(index);
    if (offered->session != hold.session ||
        (hold.channel != nullptr && hold.channel->unit >= offered->unit)) {
        Dispose(offered);
        return false;
    }
    return Replace(direction, hold, offered);
}

Channel* ChannelTable::Take() {
    for (std::size_t i = 0; i < kChannels; ++i) {
        if (!taken_[i].load(std::memory_order_relaxed) && !taken_[i].exchange(true)) {
            channels_[i] = Channel{};
            return &channels_[i];
        }
    }
    return nullptr;
}

void ChannelTable::Dispose(Channel* channel) {
    if (channel == nullptr) {
        return;
    }
    if (channel->handle != kInvalidHandle) {
        platform::CloseChannel(channel->handle);
        channel->handle = kInvalidHandle;
    }
    taken_[IndexOf(channel) - 1].store(false);
}

void ChannelTable::Install(std::uint32_t session, Channel* read, Channel* write) {
    Channel* const channels[2] = {read, write};
    for (int direction : {kRead, kWrite}) {
        const std::uint32_t index = IndexOf(channels[direction]);
        const Fields before = Update(direction, [&](Fields& f) {
            f.current = index;
            f.open = true;
            f.session = session;
            return true;
        });
        CloseDisplaced(before, index);
        Dispose(At(offered_[direction].exchange(0)));
    }
}

void ChannelTable::CloseAll() {
    for (int direction : {kRead, kWrite}) {
        const Fields before = Update(direction, [](Fields& f) {
            f.current = 0;
            f.open = false;
            return true;
        });
        CloseDisplaced(before, 0);
        Dispose(At(offered_[direction].exchange(0)));
    }
}

bool ChannelTable::open() const {
    return Unpack(words_[kRead].load()).open;
}

const Channel* ChannelTable::InPlace(int direction) const {
    const std::uint32_t index = Unpack(words_[direction].load()).current;
    return index == 0 ? nullptr : &channels_[index - 1];
}

}  // namespace quen::hid
