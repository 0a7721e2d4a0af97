// The device object of both HID bridges: finds one HID interface by vendor ID, usage page and
// usage, opens a read and a write channel on it, writes output reports with a time-out and
// closes the channels again. Each bridge derives its own reader from it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hid/deadline.h"
#include "hid/platform.h"

namespace quen::hid {

inline constexpr std::uint32_t kWriteTimeoutMs = 6000;
// How often at most a channel whose device is gone searches for it again: the scanner's read
// time-out. A scale read waits only 50 ms, but a search opens and asks every HID interface
// present, and twenty of them a second for as long as a scale stays unplugged buy nothing: a
// scale back within half a second is soon enough.
inline constexpr std::uint32_t kSearchPaceMs = 500;

// Reseat recovery: a read or write whose open channel fails (the cable was reseated, the device
// re-enumerated after a firmware flash) searches again for the device it was opened on, by vendor
// and usages, and reopens only its own channel on what it finds, possibly under another path and
// with other report lengths. So reads resume without the application closing and reopening. A
// channel searches at most once per kSearchPaceMs, so a device that stays away costs an enumeration
// now and then rather than a busy loop. CloseDevice ends it; OpenDevice starts afresh.
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
    // The usages, in order of preference, that reseat recovery searches for until the next
    // FindDevice; by default only the usage FindDevice found. `usages` must outlive the device.
    void SearchAgainWith(const std::int32_t* usages, std::size_t count);
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
    // Report lengths of the device each channel is open on now: the found ones until a reseat
    // recovery reopens a channel on a device that describes its reports otherwise.
    std::uint32_t readReportLength() const { return read_.reportLength; }
    std::uint32_t writeReportLength() const { return write_.reportLength; }

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
    // Reseat recovery for one channel: when its pace allows, searches for the device again and,
    // if one matches and its channel opens, puts that channel in place of the failed one. True
    // when it did. Touches only that channel's state, so a read thread and a write thread may
    // recover at the same time.
    bool Reattach(ChannelKind kind);
    // One platform read of a whole input report into inputReport_.
    IoOutcome ReadOnce(std::uint32_t timeoutMs);

    // What each direction keeps of its own, so that the read and the write thread never write
    // what the other uses.
    struct ChannelState {
        std::uint32_t reportLength = 0;
        std::int64_t nextSearchNs = 0;  // no search before this, on the platform's clock
    };

    std::int32_t vendorId_ = -1;
    std::int32_t productId_ = -1;
    std::int32_t usage_ = 0;
    std::int32_t usagePage_ = 0;
    InterfaceCaps caps_{};
    NativeHandle readHandle_ = kInvalidHandle;
    NativeHandle writeHandle_ = kInvalidHandle;
    std::int32_t found_ = 0;
    char devicePath_[kPathCapacity] = {};
    NativeHandle readEvent_ = kNoEvent;
    NativeHandle writeEvent_ = kNoEvent;
    std::uint8_t inputReport_[kMaxReportBytes] = {};
    std::uint8_t outputReport_[kMaxReportBytes] = {};
    ChannelState read_;
    ChannelState write_;
    const std::int32_t* searchUsages_ = &usage_;
    std::size_t searchUsageCount_ = 1;
};

}  // namespace quen::hid
