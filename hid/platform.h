// The platform seam of the HID device object: the few operations it needs from the operating
// system. One source file per platform fills them in (platform_win32.cpp, platform_hidraw.cpp,
// sim/platform_sim.cpp); the build picks one. Nothing above this header asks which platform it
// runs on, and a new platform needs nothing but this header.
//
// Every operation below states its contract: what it writes on failure, which handles it takes,
// what may block and for how long. The caller (the device object and its search) keeps these
// rules:
//   - Handles passed in are ones this seam handed out and that are still open; kInvalidHandle and
//     kNoEvent are never passed to an operation except where one says it accepts them.
//   - One thread at a time uses a given channel; a channel is never closed while a read or write
//     on it is in progress. A read channel and a write channel may be used by two threads at once.
//   - Enumeration and query operations may allocate; ReadInputReport and WriteOutputReport do not.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quen::hid {

// The seam's limits: every report buffer above it holds kMaxReportBytes (the report ID included),
// and every interface path kPathCapacity bytes (1024 characters and the NUL). An interface whose
// reports or path are longer is never offered to the device object (interface_search.h).
inline constexpr std::uint32_t kMaxReportBytes = 256;
inline constexpr std::uint32_t kPathCapacity = 1025;

// A handle as the platform knows it: a Windows HANDLE, a channel record, a simulated id.
using NativeHandle = std::intptr_t;
// Marks a channel or query handle that is not open (Windows' INVALID_HANDLE_VALUE is -1 too).
inline constexpr NativeHandle kInvalidHandle = -1;
// Marks a completion event that was never created.
inline constexpr NativeHandle kNoEvent = 0;

// Identity of a HID interface, as the device's attributes state it.
struct InterfaceAttributes {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
};

// What the device object needs of an interface's capabilities. Report lengths are counted the
// Windows way: the longest report of the interface's top-level collection plus one byte for the
// report ID, also for devices without numbered reports (whose reports carry ID 0 in byte 0).
struct InterfaceCaps {
    std::uint16_t usage = 0;
    std::uint16_t usagePage = 0;
    std::uint16_t inputReportByteLength = 0;
    std::uint16_t outputReportByteLength = 0;
};

enum class PathStatus {
    Ok,        // the path was stored, NUL-terminated
    Unusable,  // this interface's path cannot be had or does not fit: skip the interface
    End,       // no interface at this index: the list has ended
};

enum class ChannelKind { Read, Write };

enum class IoOutcome {
    Completed,  // the report arrived, or the device accepted the whole report
    TimedOut,   // nothing within the time-out; the operation was cancelled and has finished
    Failed,     // the device is there but refused, or a write broke off mid-transfer
    Gone,       // the channel's device has gone: the channel will never work again, and nothing
                // was transferred (a write was refused before any byte went out)
};

class Deadline;  // hid/deadline.h

// Why the latest OpenChannel on this thread failed, for tools and for the state a till shows.
enum class OpenFailure {
    None,              // the latest open succeeded
    NotFound,          // the device is not there (any more)
    PermissionDenied,  // present, but this user may not open it (Linux: see the udev rule)
    Busy,              // present, but held exclusively by another program
    Other,
};

// A snapshot of the HID interfaces present, in the platform's enumeration order.
struct InterfaceList;

namespace platform {

// --- Enumeration -------------------------------------------------------------------------------

// Takes a snapshot of the HID interfaces present. Null when no enumeration can be started, which
// the caller treats as an empty list. Does not wait for devices; may allocate.
InterfaceList* OpenInterfaceList();

// Stores the path of interface `index` in `path` (capacity bytes, NUL included). Indexes are
// asked for in order from 0; End once the list is exhausted, and for every index after that.
// On Unusable or End `path` holds nothing meaningful. The same snapshot gives the same answers.
PathStatus InterfacePath(InterfaceList* list, std::uint32_t index, char* path,
                         std::size_t capacity);

// Releases a snapshot. Takes only a list that OpenInterfaceList returned (never null).
void CloseInterfaceList(InterfaceList* list);

// --- Queries -----------------------------------------------------------------------------------

// Opens a handle that may only query the interface at `path` (no read or write access), so that
// devices held open by others, or not openable by this user, can still be examined.
// kInvalidHandle when the path names no interface present. Does not block on the device.
NativeHandle OpenQueryHandle(const char* path);

// Fills `attributes` (true) or leaves it untouched (false). May ask the device; bounded by the
// platform's own control-request time-out.
bool QueryAttributes(NativeHandle queryHandle, InterfaceAttributes* attributes);

// Fills `caps` (true) or leaves it untouched (false): false also when the interface's reports
// cannot be described. Asked only of interfaces of the wanted vendor.
bool QueryCaps(NativeHandle queryHandle, InterfaceCaps* caps);

// Releases a query handle. Never given kInvalidHandle.
void CloseQueryHandle(NativeHandle queryHandle);

// --- Channels ----------------------------------------------------------------------------------

// Opens a read or write channel for report I/O on the interface at `path`. kInvalidHandle on
// failure, with the cause kept for LastOpenFailure. A read channel delivers only the input
// reports of this interface's own collection, as a Windows handle does. Does not block.
NativeHandle OpenChannel(const char* path, ChannelKind kind);

// The cause of the latest OpenChannel failure on the calling thread; None after a success.
OpenFailure LastOpenFailure();

// Closes a channel. Never given kInvalidHandle; nothing is in progress on it (see above).
void CloseChannel(NativeHandle channel);

// What a person can do so that this user may open the interface at `path`, in a few words for a
// till's screen ("add the user to group plugdev"), NUL-terminated in `text` (capacity bytes).
// False, with `text` empty, where the platform has nothing to say. May look at the system's
// files; never opens the device.
bool AccessHint(const char* path, char* text, std::size_t capacity);

// Creates the completion event that one direction's I/O waits on; kNoEvent on failure. Events
// live as long as the library: created once, reused by every later channel, never closed. A
// platform whose waits need no event returns a fixed token that is not kNoEvent.
NativeHandle CreateCompletionEvent();

// --- Report I/O --------------------------------------------------------------------------------

// Reads one input report of `length` bytes (1 to kMaxReportBytes) into `buffer`, waiting until
// `deadline` for it. The deadline is the device object's and may not have started: a report that
// is already queued is taken without asking it (no clock read); a wait asks it first. Byte 0 is
// the report ID on every platform (0 for a device without numbered reports).
//   Completed: buffer[0, length) holds the report, zeros past a shorter one. A report that
//              completed while the read was being cancelled counts as completed.
//   TimedOut:  no report by the deadline; the read has been cancelled and is over, and the
//              buffer may be reused at once; no report is lost by the cancellation.
//   Failed:    the channel refused the read while its device is still there.
//   Gone:      the device has gone. Returns as soon as that is known: keeping a caller's pace
//              is the device object's part.
// On anything but Completed, buffer[0, length) holds nothing meaningful; past `length` it is
// never written. Blocks until the deadline at most, plus the time a cancellation takes.
IoOutcome ReadInputReport(NativeHandle channel, NativeHandle event, std::uint8_t* buffer,
                          std::uint32_t length, Deadline& deadline);

// Writes one output report of `length` bytes (byte 0 the report ID, at most kMaxReportBytes),
// waiting until `deadline` for the device to take it. Reads no clock unless it must wait.
//   Completed: the device accepted the whole report.
//   TimedOut:  not accepted by the deadline; the write has been cancelled and is over.
//   Failed:    the device is there but refused the report (no such report, a stall, a short
//              write), or went away while the report was on its way: it may or may not have
//              arrived.
//   Gone:      refused at once because the channel's device had gone before the write began:
//              nothing was sent, and sending it on the device found again is safe.
// Blocks until the deadline at most where the platform can cancel a write. Where it cannot
// (hidraw), the platform file states the kernel's own bound, which must be below the deadline.
IoOutcome WriteOutputReport(NativeHandle channel, NativeHandle event, const std::uint8_t* report,
                            std::uint32_t length, Deadline& deadline);

// --- Time ------------------------------------------------------------------------------------

// The clock every time-out counts on (hid/deadline.h), in nanoseconds from an arbitrary start:
// monotonic, never set back. The simulated bus answers with its own clock.
std::int64_t MonotonicNowNs();

// Returns once MonotonicNowNs() has reached `ns` (at once if it has); a signal handled on this
// thread does not cut it short.
void SleepUntilNs(std::int64_t ns);

}  // namespace platform
}  // namespace quen::hid
