#include "hid/channel_table.h"

#include <initializer_list>

namespace quen::hid {
namespace {

constexpr std::uint64_t kIndexMask = 0xFF;
constexpr std::uint64_t kCallsMask = 0xFF;
constexpr int kCurrentShift = 8;
constexpr int kRetiredShift = 16;
constexpr std::uint64_t kOpenBit = std::uint64_t{1} << 24;
constexpr int kSessionShift = 32;

int Other(int direction) {
    return 1 - direction;
}

}  // namespace

ChannelTable::Word ChannelTable::Pack(const Fields& f) {
    return Word{f.calls} | (Word{f.current} << kCurrentShift) | (Word{f.retired} << kRetiredShift) |
           (f.open ? kOpenBit : 0) | (Word{f.session} << kSessionShift);
}

ChannelTable::Fields ChannelTable::Unpack(Word word) {
    Fields f;
    f.calls = static_cast<std::uint32_t>(word & kCallsMask);
    f.current = static_cast<std::uint32_t>((word >> kCurrentShift) & kIndexMask);
    f.retired = static_cast<std::uint32_t>((word >> kRetiredShift) & kIndexMask);
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

void ChannelTable::TakeOut(Fields& f, std::uint32_t* closeNow) {
    *closeNow = 0;
    if (f.current == 0) {
        return;
    }
    // While no channel is retired, a call in the direction holds the one in place (it took it
    // when it began, and only it replaces it): it closes it as it leaves. With one retired
    // already, the held one is that, and the one in place is nobody's.
    if (f.calls > 0 && f.retired == 0) {
        f.retired = f.current;
    } else {
        *closeNow = f.current;
    }
    f.current = 0;
}

ChannelTable::Hold ChannelTable::Begin(int direction) {
    const Fields before = Unpack(words_[direction].fetch_add(1));
    if (before.calls != 0 || !before.open || before.retired != 0) {
        Leave(direction);  // closed, or another call holds the direction
        return Hold{};
    }
    Hold hold;
    hold.channel = At(before.current);
    hold.session = before.session;
    hold.held = true;
    return hold;
}

void ChannelTable::End(int direction, const Hold& hold) {
    if (hold.held) {
        Leave(direction);
    }
}

void ChannelTable::Leave(int direction) {
    const Fields before = Unpack(words_[direction].fetch_sub(1));
    if (before.calls != 1 || before.retired == 0) {
        return;
    }
    // The last call out closes what a Close or an Open took out of place under it, unless a call
    // that was refused meanwhile, leaving as well, was quicker.
    const std::uint32_t retired = before.retired;
    bool mine = false;
    Update(direction, [&](Fields& f) {
        mine = f.calls == 0 && f.retired == retired;
        if (mine) {
            f.retired = 0;
        }
        return mine;
    });
    if (mine) {
        Dispose(At(retired));
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
        // No Close or Open since the hold began: the channel in place is still the held one.
        replaced = f.open && f.session == hold.session && f.retired == 0;
        if (replaced) {
            f.current = index;
        }
        return replaced;
    });
    if (!replaced) {
        Dispose(replacement);
        return false;
    }
    Dispose(At(before.current));  // out of place, and this call held it
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
        std::uint32_t closeNow = 0;
        Update(direction, [&](Fields& f) {
            TakeOut(f, &closeNow);
            f.current = IndexOf(channels[direction]);
            f.open = true;
            f.session = session;
            return true;
        });
        Dispose(At(closeNow));
        Dispose(At(offered_[direction].exchange(0)));
    }
}

void ChannelTable::CloseAll() {
    for (int direction : {kRead, kWrite}) {
        std::uint32_t closeNow = 0;
        Update(direction, [&](Fields& f) {
            TakeOut(f, &closeNow);
            f.open = false;
            return true;
        });
        Dispose(At(closeNow));
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
