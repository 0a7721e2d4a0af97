#include "hid/hid_device.h"

#include <cstring>
#include <initializer_list>

#include "hid/interface_search.h"

namespace quen::hid {
namespace {

constexpr int kRead = ChannelTable::kRead;
constexpr int kWrite = ChannelTable::kWrite;

ChannelKind KindOf(int direction) {
    return direction == kRead ? ChannelKind::Read : ChannelKind::Write;
}

std::uint32_t ReportLengthOf(int direction, const InterfaceCaps& caps) {
    return direction == kRead ? caps.inputReportByteLength : caps.outputReportByteLength;
}

// Where a Close and an Open would land now: the first interface present with the key's first
// usage that is present.
bool FindByKey(const SearchKey& key, InterfaceMatch* match, char* path) {
    for (std::size_t i = 0; i < key.usageCount; ++i) {
        if (FindFirstInterface(key.vendorId, key.usagePage, key.usages[i], match, path,
                               kPathCapacity)) {
            return true;
        }
    }
    return false;
}

// The data is cut to the buffer, after the report ID.
std::uint32_t DataBytesTaken(std::uint32_t length) {
    constexpr std::uint32_t room = kMaxReportBytes - 1;
    return length < room ? length : room;
}

}  // namespace

bool HIDDevice::FindDevice(std::int32_t vendorId, std::int32_t usagePage, std::int32_t usage) {
    vendorId_ = vendorId;
    found_ = false;
    InterfaceMatch match;
    char path[kPathCapacity];
    if (FindFirstInterface(vendorId, usagePage, usage, &match, path, sizeof path)) {
        usagePage_ = usagePage;
        productId_ = match.attributes.productId;
        caps_ = match.caps;
        usage_ = usage;
        searchUsages_[0] = usage;
        searchUsageCount_ = 1;
        found_ = true;
        std::memcpy(devicePath_, path, sizeof devicePath_);
    }
    return found_;
}

bool HIDDevice::DeviceExists(std::int32_t vendorId, std::int32_t usagePage,
                             std::int32_t usage) const {
    InterfaceMatch match;
    char path[kPathCapacity];
    return FindFirstInterface(vendorId, usagePage, usage, &match, path, sizeof path);
}

void HIDDevice::SearchAgainWith(const std::int32_t* usages, std::size_t count) {
    searchUsageCount_ = count < SearchKey::kMaxUsages ? count : SearchKey::kMaxUsages;
    std::memcpy(searchUsages_, usages, searchUsageCount_ * sizeof usages[0]);
}

bool HIDDevice::OpenDevice() {
    if (!found_ || devicePath_[0] == '\0') {
        return false;
    }
    // A second open without a close would otherwise leak the first pair of channels.
    CloseDevice();
    for (int direction : {kRead, kWrite}) {
        if (events_[direction].load() == kNoEvent) {
            events_[direction].store(platform::CreateCompletionEvent());
        }
        nextSearchNs_[direction].store(0, std::memory_order_relaxed);
    }
    SearchKey key;
    key.vendorId = vendorId_;
    key.usagePage = usagePage_;
    std::memcpy(key.usages, searchUsages_, sizeof key.usages);
    key.usageCount = searchUsageCount_;
    const std::uint32_t session = channels_.NextSession();
    const std::uint32_t unit = channels_.NextUnit();
    Channel* read =
        OpenOn(devicePath_, ChannelKind::Read, caps_.inputReportByteLength, key, session, unit);
    const OpenFailure readFailure = platform::LastOpenFailure();
    Channel* write =
        OpenOn(devicePath_, ChannelKind::Write, caps_.outputReportByteLength, key, session, unit);
    const OpenFailure writeFailure = platform::LastOpenFailure();
    recoveries_.store(0, std::memory_order_relaxed);
    health_.store(static_cast<std::uint8_t>(DeviceHealth::Open), std::memory_order_relaxed);
    MarkFailure(readFailure != OpenFailure::None ? readFailure : writeFailure);
    channels_.Install(session, read, write);
    return true;
}

Channel* HIDDevice::OpenOn(const char* path, ChannelKind kind, std::uint32_t reportLength,
                           const SearchKey& key, std::uint32_t session, std::uint32_t unit) {
    Channel* channel = channels_.Take();
    if (channel == nullptr) {
        return nullptr;
    }
    channel->handle = platform::OpenChannel(path, kind);
    channel->reportLength = reportLength;
    channel->unit = unit;
    channel->session = session;
    channel->key = key;
    return channel;
}

bool HIDDevice::CloseDevice() {
    channels_.CloseAll();
    health_.store(static_cast<std::uint8_t>(DeviceHealth::Closed), std::memory_order_relaxed);
    return true;
}

DeviceHealth HIDDevice::health() const {
    if (!channels_.open()) {
        return DeviceHealth::Closed;
    }
    const auto health = static_cast<DeviceHealth>(health_.load(std::memory_order_relaxed));
    return health == DeviceHealth::Closed ? DeviceHealth::Open : health;
}

void HIDDevice::MarkWorking() {
    constexpr auto kOpen = static_cast<std::uint8_t>(DeviceHealth::Open);
    if (health_.load(std::memory_order_relaxed) != kOpen) {
        health_.store(kOpen, std::memory_order_relaxed);
    }
}

void HIDDevice::MarkFailure(OpenFailure failure) {
    DeviceHealth health = DeviceHealth::Searching;
    switch (failure) {
        case OpenFailure::None:
            return;
        case OpenFailure::PermissionDenied:
            health = DeviceHealth::Denied;
            break;
        case OpenFailure::Busy:
            health = DeviceHealth::Busy;
            break;
        case OpenFailure::NotFound:
        case OpenFailure::Other:
            break;
    }
    health_.store(static_cast<std::uint8_t>(health), std::memory_order_relaxed);
}

bool HIDDevice::ChannelOpen(int direction) const {
    const Channel* channel = channels_.InPlace(direction);
    return channel != nullptr && channel->handle != kInvalidHandle;
}

std::uint32_t HIDDevice::ReportLength(int direction) const {
    const Channel* channel = channels_.InPlace(direction);
    return channel == nullptr ? 0 : channel->reportLength;
}

NativeHandle HIDDevice::EventOf(int direction) {
    return events_[direction].load(std::memory_order_acquire);
}

bool HIDDevice::Recover(int direction, Hold& hold) {
    // The other direction may have found the device again already.
    if (channels_.Follow(direction, hold)) {
        return true;
    }
    if (hold.channel == nullptr) {
        return false;  // no channel record was free at the open: nothing to search for
    }
    const std::int64_t now = platform::MonotonicNowNs();
    if (now < nextSearchNs_[direction].load(std::memory_order_relaxed)) {
        return false;
    }
    const SearchKey key = hold.channel->key;
    InterfaceMatch match;
    char path[kPathCapacity];
    const bool present = FindByKey(key, &match, path);
    Channel* own = nullptr;
    if (present) {
        own = OpenOn(path, KindOf(direction), ReportLengthOf(direction, match.caps), key,
                     hold.session, channels_.NextUnit());
    }
    if (own == nullptr || own->handle == kInvalidHandle) {
        // Gone, not opened yet (no permission, held elsewhere): look again after the pace.
        MarkFailure(own == nullptr ? OpenFailure::NotFound : platform::LastOpenFailure());
        channels_.Dispose(own);
        nextSearchNs_[direction].store(now + NsFromMs(kSearchPaceMs), std::memory_order_relaxed);
        return false;
    }
    const int other = 1 - direction;
    Channel* offered = OpenOn(path, KindOf(other), ReportLengthOf(other, match.caps), key,
                              hold.session, own->unit);
    if (!channels_.Replace(direction, hold, own)) {
        channels_.Dispose(offered);  // a Close or an Open came meanwhile
        return false;
    }
    if (offered != nullptr && offered->handle != kInvalidHandle) {
        channels_.Offer(direction, offered);
    } else {
        channels_.Dispose(offered);  // the other direction recovers by itself
    }
    recoveries_.fetch_add(1, std::memory_order_relaxed);
    MarkWorking();
    return true;
}

// --- reading ---

HIDDevice::InputReports::InputReports(HIDDevice& device)
    : device_(device), hold_(device.channels_.Begin(kRead)) {}

HIDDevice::InputReports::~InputReports() {
    device_.channels_.End(kRead, hold_);
}

IoOutcome HIDDevice::InputReports::Await(std::uint32_t timeoutMs) {
    if (!hold_.held) {
        return IoOutcome::Failed;  // not open: before Open, after Close
    }
    Deadline deadline(timeoutMs);
    const bool first = first_;
    first_ = false;
    ChannelTable& channels = device_.channels_;
    if (first && channels.HasOffer(kRead)) {
        channels.Follow(kRead, hold_);
    }
    IoOutcome outcome = device_.ReadOn(hold_.channel, deadline);
    if (outcome == IoOutcome::Gone && first) {
        deadline.Start();  // the search counts against this read's own time-out
        if (device_.Recover(kRead, hold_)) {
            outcome = device_.ReadOn(hold_.channel, deadline);
        }
    }
    if (!channels.StillOpen(kRead, hold_)) {
        // Closed (and perhaps opened again) on another thread meanwhile: a report taken now may
        // be one the new session's channel delivers too.
        return IoOutcome::Failed;
    }
    if (outcome == IoOutcome::Completed || outcome == IoOutcome::TimedOut) {
        device_.MarkWorking();
        return outcome;
    }
    if (first) {
        // A failed read still takes its whole time-out, on every platform and for every cause
        // (device gone, channel broken, nothing to read), so that a caller that reads until it
        // gets data keeps its pace instead of spinning a core.
        deadline.SleepOut();
    }
    return IoOutcome::Failed;
}

IoOutcome HIDDevice::ReadOn(const Channel* channel, Deadline& deadline) {
    if (channel == nullptr || channel->handle == kInvalidHandle) {
        return IoOutcome::Gone;  // a channel that never opened is a failed channel
    }
    const NativeHandle event = EventOf(kRead);
    if (channel->reportLength == 0 || event == kNoEvent) {
        return IoOutcome::Failed;  // a collection without input reports never delivers one
    }
    if (channel->reportLength != inputClearedFor_) {
        // Reads fill only this device's report length: whatever a device with longer reports
        // left past it must not show in a shorter one's.
        std::memset(inputReport_, 0, sizeof inputReport_);
        inputClearedFor_ = channel->reportLength;
    }
    return platform::ReadInputReport(channel->handle, event, inputReport_, channel->reportLength,
                                     deadline);
}

// --- writing ---

bool HIDDevice::WriteReport(const std::uint8_t* data, std::uint32_t length) {
    Hold hold = channels_.Begin(kWrite);
    if (!hold.held) {
        return false;
    }
    const std::uint32_t copied = DataBytesTaken(length);
    if (copied > 0) {
        std::memcpy(outputReport_ + 1, data, copied);
    }
    const bool sent = Send(hold, copied);
    channels_.End(kWrite, hold);
    return sent;
}

bool HIDDevice::WriteReportFromChars(const std::uint16_t* chars, std::uint32_t length) {
    Hold hold = channels_.Begin(kWrite);
    if (!hold.held) {
        return false;
    }
    const std::uint32_t copied = DataBytesTaken(length);
    for (std::uint32_t i = 0; i < copied; ++i) {
        outputReport_[1 + i] = static_cast<std::uint8_t>(chars[i] & 0xFF);
    }
    const bool sent = Send(hold, copied);
    channels_.End(kWrite, hold);
    return sent;
}

bool HIDDevice::Send(Hold& hold, std::uint32_t dataBytes) {
    // A write after the read side has found the device again goes there: one load, normally.
    if (channels_.HasOffer(kWrite)) {
        channels_.Follow(kWrite, hold);
    }
    // The platform bounds the write by itself: no clock is read here unless it fails.
    Deadline deadline(kWriteTimeoutMs);
    IoOutcome outcome = WriteOn(hold.channel, dataBytes, deadline);
    if (outcome == IoOutcome::Gone) {
        // Refused at once by a channel whose device had gone before the write began: nothing
        // was sent, so it goes once more, to the device found again. A write that met the device
        // vanishing mid-transfer is Failed instead, and is not sent twice.
        deadline.Start();
        if (Recover(kWrite, hold)) {
            outcome = WriteOn(hold.channel, dataBytes, deadline);
        }
    }
    if (outcome == IoOutcome::Completed || outcome == IoOutcome::TimedOut) {
        MarkWorking();
    }
    return outcome == IoOutcome::Completed;
}

IoOutcome HIDDevice::WriteOn(const Channel* channel, std::uint32_t dataBytes, Deadline& deadline) {
    if (channel == nullptr || channel->handle == kInvalidHandle) {
        return IoOutcome::Gone;
    }
    const NativeHandle event = EventOf(kWrite);
    const std::uint32_t reportLength = channel->reportLength;
    if (reportLength == 0 || event == kNoEvent) {
        // A collection without output reports: refused without touching the device.
        return IoOutcome::Failed;
    }
    // Byte 0 is the report ID, 0; the device gets exactly its output report length, padded with
    // zeros. Only those bytes are written: clearing the whole buffer first would cost more than
    // the rest of the call.
    outputReport_[0] = 0;
    if (1 + dataBytes < reportLength) {
        std::memset(outputReport_ + 1 + dataBytes, 0, reportLength - 1 - dataBytes);
    }
    return platform::WriteOutputReport(channel->handle, event, outputReport_, reportLength,
                                       deadline);
}

}  // namespace quen::hid
