// The device object of both HID bridges: finds one HID interface by vendor ID, usage page and
// usage, opens a read and a write channel on it, writes output reports with a time-out and
// closes the channels again. Each bridge derives its own reader from it.
#pragma once

#include <cstdint>

#include "hid/deadline.h"
#include "hid/platform.h"

namespace quen::hid {

inline constexpr std::uint32_t kReportBufferSize = 256;
inline constexpr std::uint32_t kDevicePathCapacity = 1025;  // 1024 characters and the NUL
inline constexpr std::uint32_t kWriteTimeoutMs = 6000;

class HIDDevice {
  public:
    HIDDevice() = default;
    // Releases nothing: at library unload, channels and events still open stay open until the
    // process ends, rather than being closed under a call that might still be running.
    virtual ~HIDDevice() = default;

    HIDDevice(const HIDDevice&) = delete;
    HIDDevice& operator=(const HIDDevice&) = delete;

    // Searches the interfaces present and remembers the first match; returns `found`.
    std::int32_t FindDevice(std::int32_t vendorId, std::int32_t usagePage, std::int32_t usage);
    // The same search, changing nothing: true when a matching interface is present.
    bool DeviceExists(std::int32_t vendorId, std::int32_t usagePage, std::int32_t usage) const;
    // Opens the channels on the remembered path; 1 if a device was remembered, else 0.
    std::int32_t OpenDevice();
    // Sends `length` bytes as one output report after report ID 0; 1 when the device took it.
    std::int32_t WriteReport(const std::uint8_t* data, std::uint32_t length);
    // The same from 16-bit chars (a Java char array's), each giving its low byte: the chars go
    // straight into the report, with no byte copy staged between.
    std::int32_t WriteReportFromChars(const std::uint16_t* chars, std::uint32_t length);
    // Closes both channels; harmless in every state. Always 1.
    std::int32_t CloseDevice();

    bool found() const { return found_ != 0; }
    std::int32_t vendorId() const { return vendorId_; }
    std::int32_t productId() const { return productId_; }
    std::int32_t usage() const { return usage_; }
    std::int32_t usagePage() const { return usagePage_; }
    const InterfaceCaps& caps() const { return caps_; }
    const char* devicePath() const { return devicePath_; }
    bool readChannelOpen() const { return readHandle_ != kInvalidHandle; }
    bool writeChannelOpen() const { return writeHandle_ != kInvalidHandle; }

  protected:
    // One read of a whole input report into inputReport_: its first report-length bytes are
    // cleared before the read, and the bytes past them are always zero. Failed at once, without
    // any device access, when nothing was found or the read channel is not open; a read whose
    // channel failed returns only when its time-out has passed (ChannelFailed).
    IoOutcome AwaitInputReport(std::uint32_t timeoutMs);
    const std::uint8_t* inputReport() const { return inputReport_; }

  private:
    void OpenChannels(const char* path);
    bool CanWrite() const;
    static std::uint32_t DataBytesTaken(std::uint32_t length);
    // Sends outputReport_ once its first 1 + dataBytes bytes are filled in.
    std::int32_t SendOutputReport(std::uint32_t dataBytes);
    // Every read or write on an open channel that failed ends here, `deadline` being the
    // operation's own time-out: the one place that decides what a failed channel costs the
    // caller.
    IoOutcome ChannelFailed(ChannelKind kind, const Deadline& deadline);

    std::int32_t vendorId_ = -1;
    std::int32_t productId_ = -1;
    std::int32_t usage_ = 0;
    std::int32_t usagePage_ = 0;
    InterfaceCaps caps_{};
    NativeHandle readHandle_ = kInvalidHandle;
    NativeHandle writeHandle_ = kInvalidHandle;
    std::int32_t found_ = 0;
    char devicePath_[kDevicePathCapacity] = {};
    NativeHandle readEvent_ = kNoEvent;
    NativeHandle writeEvent_ = kNoEvent;
    std::uint8_t inputReport_[kReportBufferSize] = {};
    std::uint8_t outputReport_[kReportBufferSize] = {};
};

}  // namespace quen::hid
