// The device object of both HID bridges: finds one HID interface by vendor ID, usage page and
// usage, opens a read and a write channel on it, writes output reports with a time-out and
// closes the channels again. Each bridge derives its own reader from it.
//
// Threads. The fields are grouped by the thread that uses them:
//   - the search and the open (FindDevice, OpenDevice, SearchAgainWith, the found-state
//     accessors): the thread that opens and closes, which callers serialise;
//   - reading (the readers' InputReports and the input report buffer): one read thread;
//   - writing (WriteReport and the output report buffer): one write thread;
//   - CloseDevice and the state (health, recoveries) may be called from any thread, also while a
//     read or a write is in progress: the channel bookkeeping (channel_table.h) guarantees that
//     no channel is closed under the call that uses it, and that a channel opened by a call in
//     progress never outlives the Close. A second read (or write) while one is in progress gets
//     nothing at once.
//
// Reseat recovery. A read or write whose channel has failed because its device has gone (a cable
// reseated, a re-enumeration after a firmware flash), or never opened although Open found the
// device (no permission yet, held by another program), searches again for the device of the last
// open, by vendor and usages in their order of preference: where a Close and an Open at that
// moment would land. It opens both channels there, puts its own in place and hands the other to
// the other direction, which takes it up at its next use, so both channels are always on one
// device. A search that finds nothing paces the next one (kSearchPaceMs), so a device that stays
// away costs an enumeration now and then rather than a busy loop. A device that is still there
// never triggers a search. CloseDevice ends it; OpenDevice starts afresh.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "hid/channel_table.h"
#include "hid/deadline.h"
#include "hid/platform.h"

namespace quen::hid {

inline constexpr std::uint32_t kWriteTimeoutMs = 6000;
// How often at most a channel whose device stays away searches for it again: the scanner's read
// time-out. A scale read waits only 50 ms, but a search opens and asks every HID interface
// present, and twenty of them a second for as long as a scale stays unplugged buy nothing: a
// scale back within half a second is soon enough.
inline constexpr std::uint32_t kSearchPaceMs = 500;

// What a till can show of the device: the state word and what it means.
enum class DeviceHealth : std::uint8_t {
    Closed,     // never opened, or closed
    Open,       // open, and its last read or write reached the device
    Searching,  // its device has gone: recovery searches for it
    Denied,     // found, but this user may not open it
    Busy,       // found, but another program holds it
};

class HIDDevice {
  public:
    HIDDevice() = default;
    // Releases nothing: at library unload, channels and events still open stay open until the
    // process ends, rather than being closed under a call that might still be running.
    virtual ~HIDDevice() = default;

    HIDDevice(const HIDDevice&) = delete;
    HIDDevice& operator=(const HIDDevice&) = delete;

    // Searches the interfaces present and remembers the first match; returns whether it matched.
    bool FindDevice(std::int32_t vendorId, std::int32_t usagePage, std::int32_t usage);
    // The same search, changing nothing: true when a matching interface is present.
    bool DeviceExists(std::int32_t vendorId, std::int32_t usagePage, std::int32_t usage) const;
    // Opens the channels on the remembered path; true if a device was remembered, whether or not
    // its channels opened (a channel that did not is a failed channel, which recovery reopens).
    bool OpenDevice();
    // The usages (at most SearchKey::kMaxUsages), in order of preference, that reseat recovery
    // searches for until the next FindDevice; by default only the usage FindDevice found.
    void SearchAgainWith(const std::int32_t* usages, std::size_t count);
    // Sends `length` bytes as one output report after report ID 0; true when the device took it.
    bool WriteReport(const std::uint8_t* data, std::uint32_t length);
    // The same from 16-bit chars (a Java char array's), each giving its low byte: the chars go
    // straight into the report, with no byte copy staged between.
    bool WriteReportFromChars(const std::uint16_t* chars, std::uint32_t length);
    // Closes both channels; harmless in every state and from any thread. Always true.
    bool CloseDevice();

    bool found() const { return found_; }
    std::int32_t vendorId() const { return vendorId_; }
    std::int32_t productId() const { return productId_; }
    std::int32_t usage() const { return usage_; }
    std::int32_t usagePage() const { return usagePage_; }
    const InterfaceCaps& caps() const { return caps_; }
    const char* devicePath() const { return devicePath_; }
    // Whether each channel is open now, and the report lengths of the device it is open on (the
    // found ones until recovery reopens it on a device that describes its reports otherwise). For
    // tools and tests that ask while no read or write runs.
    bool readChannelOpen() const { return ChannelOpen(ChannelTable::kRead); }
    bool writeChannelOpen() const { return ChannelOpen(ChannelTable::kWrite); }
    std::uint32_t readReportLength() const { return ReportLength(ChannelTable::kRead); }
    std::uint32_t writeReportLength() const { return ReportLength(ChannelTable::kWrite); }

    // The device's state for a till to show, and how often recovery has found it again since the
    // last OpenDevice. Any thread, any time.
    DeviceHealth health() const;
    std::uint32_t recoveries() const { return recoveries_.load(std::memory_order_relaxed); }

  protected:
    // One read call's hold on the read channel: every report it awaits comes from one channel.
    // The first wait may take up a channel the write side recovered to, or recover the channel
    // itself; later waits of the same call (the rest of a segmented message, the rest of a scale
    // block) only continue on the channel the first one used, so that a message is never joined
    // from the reports of two channels.
    class InputReports {
      public:
        explicit InputReports(HIDDevice& device);
        ~InputReports();
        InputReports(const InputReports&) = delete;
        InputReports& operator=(const InputReports&) = delete;

        // Waits up to timeoutMs for one report into the input report buffer (its first report
        // length bytes; the bytes past them are always zero). Failed at once, without any device
        // access, before the device is opened and after it is closed. A first wait whose channel
        // has failed returns only when its time-out has passed (a caller that reads until it
        // gets data keeps its pace); a later wait returns at once. A report that arrives after a
        // Close or Open on another thread is not handed on: the caller has ended that session.
        IoOutcome Await(std::uint32_t timeoutMs);

      private:
        HIDDevice& device_;
        ChannelTable::Hold hold_;
        bool first_ = true;
    };

    const std::uint8_t* inputReport() const { return inputReport_; }

  private:
    using Hold = ChannelTable::Hold;

    bool ChannelOpen(int direction) const;
    std::uint32_t ReportLength(int direction) const;
    NativeHandle EventOf(int direction);
    // A channel of `kind` on `path`, for `session`: its handle invalid when the open failed
    // (LastOpenFailure tells why). Null when no channel record is free.
    Channel* OpenOn(const char* path, ChannelKind kind, std::uint32_t reportLength,
                    const SearchKey& key, std::uint32_t session, std::uint32_t unit);
    // Reseat recovery for the held channel of `direction`: takes up a channel the other direction
    // recovered to, or (when the pace allows) searches for the device and opens both channels on
    // it. True when the hold now holds a working channel.
    bool Recover(int direction, Hold& hold);
    // One platform read of a whole input report into inputReport_. Gone for a channel that never
    // opened; Failed for a collection without input reports.
    IoOutcome ReadOn(const Channel* channel, Deadline& deadline);
    // Sends outputReport_ (its first 1 + dataBytes bytes filled in) on the held write channel,
    // once more on the device found again when the channel turns out stale.
    bool Send(Hold& hold, std::uint32_t dataBytes);
    IoOutcome WriteOn(const Channel* channel, std::uint32_t dataBytes, Deadline& deadline);
    void MarkWorking();
    void MarkFailure(OpenFailure failure);

    // --- the search and the open ---
    std::int32_t vendorId_ = -1;
    std::int32_t productId_ = -1;
    std::int32_t usage_ = 0;
    std::int32_t usagePage_ = 0;
    InterfaceCaps caps_{};
    bool found_ = false;
    char devicePath_[kPathCapacity] = {};
    std::int32_t searchUsages_[SearchKey::kMaxUsages] = {};
    std::size_t searchUsageCount_ = 0;

    // --- each direction's completion event: created by the first open, then only read ---
    std::atomic<NativeHandle> events_[2] = {kNoEvent, kNoEvent};

    // --- reading: the read thread only ---
    std::uint8_t inputReport_[kMaxReportBytes] = {};
    std::uint32_t inputClearedFor_ = 0;  // the report length the bytes past which are zero

    // --- writing: the write thread only ---
    std::uint8_t outputReport_[kMaxReportBytes] = {};

    // --- shared, lock-free ---
    ChannelTable channels_;
    std::atomic<std::int64_t> nextSearchNs_[2] = {0, 0};  // no search before, on the seam's clock
    std::atomic<std::uint8_t> health_{static_cast<std::uint8_t>(DeviceHealth::Closed)};
    std::atomic<std::uint32_t> recoveries_{0};
};

}  // namespace quen::hid
