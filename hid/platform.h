// The platform seam of the HID device object: the few operations it needs from the operating
// system. One source file per platform fills them in (platform_win32.cpp, sim/platform_sim.cpp);
// the build picks one. Nothing above this header asks which platform it runs on.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quen::hid {

// A handle as the platform knows it: a Windows HANDLE, a file descriptor, a simulated id.
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
// Windows way: report ID byte included, also for devices without numbered reports.
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
    Failed,     // the platform refused or the device is gone; the buffer holds nothing new
};

// A snapshot of the HID interfaces present, in the platform's enumeration order.
struct InterfaceList;

namespace platform {

// Starts an enumeration of the HID interfaces present. Null when it cannot be started, which
// the caller treats as an empty list. Every list is released with CloseInterfaceList.
InterfaceList* OpenInterfaceList();

// Stores the path of interface `index` in `path` (capacity bytes, NUL included). Indexes are
// asked for in order from 0; End comes once the list is exhausted.
PathStatus InterfacePath(InterfaceList* list, std::uint32_t index, char* path,
                         std::size_t capacity);

void CloseInterfaceList(InterfaceList* list);

// Opens a handle that may only query the interface (no read or write access), so that devices
// held open by others can still be examined. kInvalidHandle on failure.
NativeHandle OpenQueryHandle(const char* path);

bool QueryAttributes(NativeHandle queryHandle, InterfaceAttributes* attributes);

bool QueryCaps(NativeHandle queryHandle, InterfaceCaps* caps);

void CloseQueryHandle(NativeHandle queryHandle);

// Opens a read or write channel for report I/O with time-outs. kInvalidHandle on failure.
NativeHandle OpenChannel(const char* path, ChannelKind kind);

void CloseChannel(NativeHandle channel);

// Creates the completion event that one direction's I/O waits on; kNoEvent on failure. Events
// live as long as the library: they are created once and reused by every later channel.
NativeHandle CreateCompletionEvent();

// Reads one input report of `length` bytes into `buffer`, waiting at most timeoutMs. Byte 0 is
// the report ID on every platform. On TimedOut the read has been cancelled and is over: the
// buffer may be reused at once. An operation that completed while it was being cancelled is
// reported as Completed.
IoOutcome ReadInputReport(NativeHandle channel, NativeHandle event, std::uint8_t* buffer,
                          std::uint32_t length, std::uint32_t timeoutMs);

// Writes one output report of `length` bytes (byte 0 the report ID), waiting at most timeoutMs
// for the device to take it. Completed only when the device accepted it; on TimedOut the write
// has been cancelled and is over.
IoOutcome WriteOutputReport(NativeHandle channel, NativeHandle event, const std::uint8_t* report,
                            std::uint32_t length, std::uint32_t timeoutMs);

}  // namespace platform
}  // namespace quen::hid
