#include "hid/hid_device.h"

#include <cstring>

#include "hid/interface_search.h"

namespace quen::hid {

std::int32_t HIDDevice::FindDevice(std::int32_t vendorId, std::int32_t usagePage,
                                   std::int32_t usage) {
    vendorId_ = vendorId;
    found_ = 0;
    InterfaceMatch match;
    char path[kPathCapacity];
    if (FindFirstInterface(vendorId, usagePage, usage, &match, path, sizeof path)) {
        usagePage_ = usagePage;
        productId_ = match.attributes.productId;
        caps_ = match.caps;
        // Reads fill and clear only this device's report length: what lies past it must be
        // zero, whatever a device with longer reports left there.
        std::memset(inputReport_, 0, sizeof inputReport_);
        usage_ = usage;
        searchUsages_ = &usage_;
        searchUsageCount_ = 1;
        found_ = 1;
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

std::int32_t HIDDevice::OpenDevice() {
    if (found_ == 0 || devicePath_[0] == '\0') {
        return 0;
    }
    OpenChannels(devicePath_);
    return 1;
}

void HIDDevice::SearchAgainWith(const std::int32_t* usages, std::size_t count) {
    searchUsages_ = usages;
    searchUsageCount_ = count;
}

void HIDDevice::OpenChannels(const char* path) {
    // A second open without a close would otherwise leak the first pair of channels.
    CloseDevice();
    readHandle_ = platform::OpenChannel(path, ChannelKind::Read);
    writeHandle_ = platform::OpenChannel(path, ChannelKind::Write);
    read_ = ChannelState{caps_.inputReportByteLength, 0};
    write_ = ChannelState{caps_.outputReportByteLength, 0};
    if (readEvent_ == kNoEvent) {
        readEvent_ = platform::CreateCompletionEvent();
    }
    if (writeEvent_ == kNoEvent) {
        writeEvent_ = platform::CreateCompletionEvent();
    }
}

std::int32_t HIDDevice::WriteReport(const std::uint8_t* data, std::uint32_t length) {
    if (!CanWrite()) {
        return 0;
    }
    const std::uint32_t copied = DataBytesTaken(length);
    if (copied > 0) {
        std::memcpy(outputReport_ + 1, data, copied);
    }
    return SendOutputReport(copied);
}

std::int32_t HIDDevice::WriteReportFromChars(const std::uint16_t* chars, std::uint32_t length) {
    if (!CanWrite()) {
        return 0;
    }
    const std::uint32_t copied = DataBytesTaken(length);
    for (std::uint32_t i = 0; i < copied; ++i) {
        outputReport_[1 + i] = static_cast<std::uint8_t>(chars[i] & 0xFF);
    }
    return SendOutputReport(copied);
}

bool HIDDevice::CanWrite() const {
    return found_ != 0 && writeHandle_ != kInvalidHandle && writeEvent_ != kNoEvent;
}

std::uint32_t HIDDevice::DataBytesTaken(std::uint32_t length) {
    // The data is cut to the buffer, after the report ID.
    constexpr std::uint32_t room = kMaxReportBytes - 1;
    return length < room ? length : room;
}

std::int32_t HIDDevice::SendOutputReport(std::uint32_t dataBytes) {
    // Byte 0 is the report ID, 0; the device gets exactly its output report length, padded with
    // zeros. Only those bytes are written: clearing the whole buffer first would cost more than
    // the rest of the call.
    outputReport_[0] = 0;
    const std::uint32_t reportLength = write_.reportLength;
    if (1 + dataBytes < reportLength) {
        std::memset(outputReport_ + 1 + dataBytes, 0, reportLength - 1 - dataBytes);
    }
    // The platform bounds the write by itself: no clock is read here unless it fails.
    IoOutcome outcome = platform::WriteOutputReport(writeHandle_, writeEvent_, outputReport_,
                                                    reportLength, kWriteTimeoutMs);
    if (outcome == IoOutcome::Failed) {
        // A report that met a failed channel is not sent again on a reattached one: the caller
        // learns that it was not delivered, and the next write goes to the device found again.
        // A resend would need the clock read before every write to stay within the bound.
        Reattach(ChannelKind::Write);
        outcome = ChannelFailed(ChannelKind::Write, Deadline(kWriteTimeoutMs));
    }
    return outcome == IoOutcome::Completed ? 1 : 0;
}

IoOutcome HIDDevice::AwaitInputReport(std::uint32_t timeoutMs) {
    if (found_ == 0 || readHandle_ == kInvalidHandle || readEvent_ == kNoEvent) {
        return IoOutcome::Failed;
    }
    const Deadline deadline(timeoutMs);
    if (read_.reportLength == 0) {
        // A collection without input reports never delivers one: every read of it fails.
        return ChannelFailed(ChannelKind::Read, deadline);
    }
    IoOutcome outcome = ReadOnce(timeoutMs);
    if (outcome == IoOutcome::Failed && Reattach(ChannelKind::Read)) {
        // The device is back: what is left of this read's time-out waits on it.
        const std::uint32_t leftMs = deadline.RemainingMs();
        outcome = leftMs == 0 ? IoOutcome::TimedOut : ReadOnce(leftMs);
    }
    return outcome == IoOutcome::Failed ? ChannelFailed(ChannelKind::Read, deadline) : outcome;
}

IoOutcome HIDDevice::ReadOnce(std::uint32_t timeoutMs) {
    const std::uint32_t length = read_.reportLength;
    if (length == 0) {
        return IoOutcome::Failed;
    }
    // Bytes past the report length are zero already (FindDevice, Reattach).
    std::memset(inputReport_, 0, length);
    return platform::ReadInputReport(readHandle_, readEvent_, inputReport_, length, timeoutMs);
}

bool HIDDevice::Reattach(ChannelKind kind) {
    const bool reading = kind == ChannelKind::Read;
    ChannelState& state = reading ? read_ : write_;
    const std::int64_t now = platform::MonotonicNowNs();
    if (now < state.nextSearchNs) {
        return false;
    }
    state.nextSearchNs = now + std::int64_t{kSearchPaceMs} * 1000000;
    InterfaceMatch match;
    char path[kPathCapacity];
    bool present = false;
    for (std::size_t i = 0; i < searchUsageCount_ && !present; ++i) {
        present =
            FindFirstInterface(vendorId_, usagePage_, searchUsages_[i], &match, path, sizeof path);
    }
    if (!present) {
        return false;
    }
    const NativeHandle reopened = platform::OpenChannel(path, kind);
    if (reopened == kInvalidHandle) {
        return false;
    }
    NativeHandle& handle = reading ? readHandle_ : writeHandle_;
    platform::CloseChannel(handle);
    handle = reopened;
    if (reading) {
        state.reportLength = match.caps.inputReportByteLength;
        // The device found again may describe shorter reports: nothing of the old ones may show
        // past the new length.
        std::memset(inputReport_, 0, sizeof inputReport_);
    } else {
        state.reportLength = match.caps.outputReportByteLength;
    }
    return true;
}

IoOutcome HIDDevice::ChannelFailed(ChannelKind kind, const Deadline& deadline) {
    // A failed read still takes its whole time-out, on every platform and for every cause (device
    // gone, channel broken, nothing to read), so that a caller that reads until it gets data
    // keeps its pace instead of spinning a core. A failed write returns at once: a write is
    // answered, not polled.
    if (kind == ChannelKind::Read) {
        deadline.SleepOut();
    }
    return IoOutcome::Failed;
}

std::int32_t HIDDevice::CloseDevice() {
    if (readHandle_ != kInvalidHandle) {
        platform::CloseChannel(readHandle_);
        readHandle_ = kInvalidHandle;
    }
    if (writeHandle_ != kInvalidHandle) {
        platform::CloseChannel(writeHandle_);
        writeHandle_ = kInvalidHandle;
    }
    return 1;
}

}  // namespace quen::hid
