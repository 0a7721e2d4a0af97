#include "hid/hid_device.h"

#include <cstring>

#include "hid/interface_search.h"

namespace quen::hid {

std::int32_t HIDDevice::FindDevice(std::int32_t vendorId, std::int32_t usagePage,
                                   std::int32_t usage) {
    vendorId_ = vendorId;
    found_ = 0;
    InterfaceMatch match;
    char path[kDevicePathCapacity];
    if (FindFirstInterface(vendorId, usagePage, usage, &match, path, sizeof path)) {
        usagePage_ = usagePage;
        productId_ = match.attributes.productId;
        caps_ = match.caps;
        // Reads fill and clear only this device's report length: what lies past it must be
        // zero, whatever a device with longer reports left there.
        std::memset(inputReport_, 0, sizeof inputReport_);
        usage_ = usage;
        found_ = 1;
        std::memcpy(devicePath_, path, sizeof devicePath_);
    }
    return found_;
}

bool HIDDevice::DeviceExists(std::int32_t vendorId, std::int32_t usagePage,
                             std::int32_t usage) const {
    InterfaceMatch match;
    char path[kDevicePathCapacity];
    return FindFirstInterface(vendorId, usagePage, usage, &match, path, sizeof path);
}

std::int32_t HIDDevice::OpenDevice() {
    if (found_ == 0 || devicePath_[0] == '\0') {
        return 0;
    }
    OpenChannels(devicePath_);
    return 1;
}

void HIDDevice::OpenChannels(const char* path) {
    // A second open without a close would otherwise leak the first pair of channels.
    CloseDevice();
    readHandle_ = platform::OpenChannel(path, ChannelKind::Read);
    writeHandle_ = platform::OpenChannel(path, ChannelKind::Write);
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
    constexpr std::uint32_t room = kReportBufferSize - 1;
    return length < room ? length : room;
}

std::int32_t HIDDevice::SendOutputReport(std::uint32_t dataBytes) {
    // Byte 0 is the report ID, 0; the device gets exactly its output report length, padded with
    // zeros. Only those bytes are written: clearing the whole buffer first would cost more than
    // the rest of the call.
    outputReport_[0] = 0;
    const std::uint32_t reportLength = caps_.outputReportByteLength;
    if (1 + dataBytes < reportLength) {
        std::memset(outputReport_ + 1 + dataBytes, 0, reportLength - 1 - dataBytes);
    }
    // The platform bounds the write by itself: no clock is read here unless it fails.
    IoOutcome outcome = platform::WriteOutputReport(writeHandle_, writeEvent_, outputReport_,
                                                    reportLength, kWriteTimeoutMs);
    if (outcome == IoOutcome::Failed) {
        outcome = ChannelFailed(ChannelKind::Write, Deadline(kWriteTimeoutMs));
    }
    return outcome == IoOutcome::Completed ? 1 : 0;
}

IoOutcome HIDDevice::AwaitInputReport(std::uint32_t timeoutMs) {
    if (found_ == 0 || readHandle_ == kInvalidHandle || readEvent_ == kNoEvent) {
        return IoOutcome::Failed;
    }
    const Deadline deadline(timeoutMs);
    const std::uint32_t length = caps_.inputReportByteLength;
    if (length == 0) {
        // A collection without input reports never delivers one: every read of it fails.
        return ChannelFailed(ChannelKind::Read, deadline);
    }
    // Bytes past the report length are zero already (FindDevice).
    std::memset(inputReport_, 0, length);
    const IoOutcome outcome =
        platform::ReadInputReport(readHandle_, readEvent_, inputReport_, length, timeoutMs);
    return outcome == IoOutcome::Failed ? ChannelFailed(ChannelKind::Read, deadline) : outcome;
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
