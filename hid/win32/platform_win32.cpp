// The Windows platform layer: SetupAPI lists the HID interfaces present, the HID class library
// reads their attributes and capabilities, and overlapped file I/O gives every report read and
// write its time-out.
#include "hid/platform.h"

#include <windows.h>
// The HID headers need <windows.h> first, and they declare C functions without an extern "C" of
// their own.
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}
#include <setupapi.h>

#include <cstring>
#include <memory>
#include <new>

#include "hid/deadline.h"

namespace quen::hid {

// One enumeration: the HID interface class and the device information set listing its members.
struct InterfaceList {
    GUID hidGuid;
    HDEVINFO deviceInfoSet;
};

namespace {

static_assert((DIGCF_PRESENT | DIGCF_DEVICEINTERFACE) == 0x12);
// cbSize of a detail block is the size of the structure's fixed part, not of the block: 5 on x86,
// where setupapi.h packs it to one byte, and 8 on x64.
#if defined(_WIN64)
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 8);
#else
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5);
#endif
static_assert(sizeof(HIDD_ATTRIBUTES) == 12);

HANDLE ToHandle(NativeHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

NativeHandle FromHandle(HANDLE handle) {
    return reinterpret_cast<NativeHandle>(handle);
}

// The cause of the latest OpenChannel failure on this thread.
thread_local OpenFailure lastOpenFailure = OpenFailure::None;

OpenFailure OpenFailureFromError(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
            return OpenFailure::PermissionDenied;
        case ERROR_SHARING_VIOLATION:
            return OpenFailure::Busy;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_DEVICE_NOT_CONNECTED:
            return OpenFailure::NotFound;
        default:
            return OpenFailure::Other;
    }
}

// Errors that mean the handle's device has gone: unplugged, or re-enumerated after a firmware
// flash. Real Windows says ERROR_DEVICE_NOT_CONNECTED, or ERROR_BAD_COMMAND or ERROR_GEN_FAILURE
// for a read pending at the unplug; Wine says ERROR_ACCESS_DENIED; a handle whose device was
// removed and replaced may say ERROR_FILE_NOT_FOUND or ERROR_DEVICE_REMOVED. None of them is
// what a device that is still there answers to a report it does not take (ERROR_INVALID_PARAMETER,
// ERROR_INVALID_FUNCTION, ERROR_NOT_SUPPORTED, ERROR_CRC ...).
bool DeviceGone(DWORD error) {
    switch (error) {
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEVICE_REMOVED:
        case ERROR_FILE_NOT_FOUND:
        case ERROR_BAD_COMMAND:
        case ERROR_GEN_FAILURE:
        case ERROR_ACCESS_DENIED:
            return true;
        default:
            return false;
    }
}

// How an overlapped operation ended, and whether the system refused it before it began.
struct Finished {
    IoOutcome outcome;
    bool refusedAtOnce;
};

// Waits for a cancelled operation to finish when its event cannot be waited on (the wait on it
// has failed), by watching the OVERLAPPED itself: until the operation is over the system may
// still write to the buffer and the OVERLAPPED, so there is no giving up. The wait is bounded by
// how long the driver takes to complete a cancelled request: the HID class driver completes a
// cancelled read at once, and a cancelled write as soon as the USB stack has aborted its
// transfer, within milliseconds.
void AwaitCancelledOperation(const OVERLAPPED* overlapped) {
    while (!HasOverlappedIoCompleted(overlapped)) {
        Sleep(1);
    }
}

// Ends the overlapped operation that ReadFile or WriteFile has just been asked for (`started` is
// what that call returned) and tells how it went; `waitMs()` gives the wait, asked only when the
// operation is pending. When this returns the operation is over, so its buffer and OVERLAPPED
// may go out of scope. `transferred` gets the byte count.
template <typename WaitMs>
Finished FinishOverlapped(HANDLE channel, HANDLE event, OVERLAPPED* overlapped, BOOL started,
                          WaitMs waitMs, DWORD* transferred) {
    const auto failed = [] {
        return DeviceGone(GetLastError()) ? IoOutcome::Gone : IoOutcome::Failed;
    };
    IoOutcome outcome;
    bool refusedAtOnce = false;
    if (!started && GetLastError() != ERROR_IO_PENDING) {
        // Refused at once (device gone, pipe broken): nothing is pending. The event must not be
        // asked: it was created signalled and may still be.
        outcome = failed();
        refusedAtOnce = true;
    } else {
        const DWORD wait = started ? WAIT_OBJECT_0 : WaitForSingleObject(event, waitMs());
        if (wait == WAIT_OBJECT_0) {
            outcome = GetOverlappedResult(channel, overlapped, transferred, FALSE)
                          ? IoOutcome::Completed
                          : failed();
        } else if (wait == WAIT_TIMEOUT) {
            // CancelIo only asks for the cancellation: until the operation has finished, the
            // system may still write to the buffer and the OVERLAPPED, so wait for it on its
            // event. If it completed before the cancellation took hold, it counts as completed.
            CancelIo(channel);
            if (GetOverlappedResult(channel, overlapped, transferred, TRUE)) {
                outcome = IoOutcome::Completed;
            } else if (GetLastError() == ERROR_OPERATION_ABORTED) {
                outcome = IoOutcome::TimedOut;
            } else {
                outcome = failed();
            }
        } else {
            // The wait itself failed, so the event cannot tell when the operation is over:
            // GetOverlappedResult would wait on that same event, and might return at once while
            // the cancelled operation is still in flight.
            CancelIo(channel);
            AwaitCancelledOperation(overlapped);
            outcome = GetOverlappedResult(channel, overlapped, transferred, FALSE)
                          ? IoOutcome::Completed
                          : failed();
        }
    }
    ResetEvent(event);
    return Finished{outcome, refusedAtOnce};
}

}  // namespace

namespace platform {

InterfaceList* OpenInterfaceList() {
    std::unique_ptr<InterfaceList> list(new (std::nothrow) InterfaceList{});
    if (!list) {
        return nullptr;
    }
    HidD_GetHidGuid(&list->hidGuid);
    list->deviceInfoSet = SetupDiGetClassDevsA(&list->hidGuid, nullptr, nullptr,
                                               DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list->deviceInfoSet == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    return list.release();
}

PathStatus InterfacePath(InterfaceList* list, std::uint32_t index, char* path,
                         std::size_t capacity) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!SetupDiEnumDeviceInterfaces(list->deviceInfoSet, nullptr, &list->hidGuid, index, &data)) {
        return PathStatus::End;
    }
    // The first call only tells the size of the detail block; it fails by design.
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailA(list->deviceInfoSet, &data, nullptr, 0, &required, nullptr);
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        return PathStatus::Unusable;
    }
    std::unique_ptr<char[]> block(new (std::nothrow) char[required]);
    if (!block) {
        return PathStatus::Unusable;
    }
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(block.get());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(list->deviceInfoSet, &data, detail, required, nullptr,
                                          nullptr)) {
        return PathStatus::Unusable;
    }
    const std::size_t pathRoom = required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    const std::size_t length = strnlen(detail->DevicePath, pathRoom);
    if (length == pathRoom || length >= capacity) {
        return PathStatus::Unusable;
    }
    std::memcpy(path, detail->DevicePath, length + 1);
    return PathStatus::Ok;
}

void CloseInterfaceList(InterfaceList* list) {
    SetupDiDestroyDeviceInfoList(list->deviceInfoSet);
    delete list;
}

NativeHandle OpenQueryHandle(const char* path) {
    // No access rights: enough for the HidD_ queries, and granted even while another program
    // holds the device open.
    return FromHandle(CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
}

bool QueryAttributes(NativeHandle queryHandle, InterfaceAttributes* attributes) {
    HIDD_ATTRIBUTES hidAttributes{};
    hidAttributes.Size = sizeof hidAttributes;
    if (!HidD_GetAttributes(ToHandle(queryHandle), &hidAttributes)) {
        return false;
    }
    attributes->vendorId = hidAttributes.VendorID;
    attributes->productId = hidAttributes.ProductID;
    return true;
}

bool QueryCaps(NativeHandle queryHandle, InterfaceCaps* caps) {
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!HidD_GetPreparsedData(ToHandle(queryHandle), &preparsed)) {
        return false;
    }
    HIDP_CAPS hidCaps{};
    const bool ok = HidP_GetCaps(preparsed, &hidCaps) == HIDP_STATUS_SUCCESS;
    HidD_FreePreparsedData(preparsed);
    if (!ok) {
        return false;
    }
    caps->usage = hidCaps.Usage;
    caps->usagePage = hidCaps.UsagePage;
    caps->inputReportByteLength = hidCaps.InputReportByteLength;
    caps->outputReportByteLength = hidCaps.OutputReportByteLength;
    return true;
}

void CloseQueryHandle(NativeHandle queryHandle) {
    CloseHandle(ToHandle(queryHandle));
}

NativeHandle OpenChannel(const char* path, ChannelKind kind) {
    const DWORD access = kind == ChannelKind::Read ? GENERIC_READ : GENERIC_WRITE;
    const HANDLE channel = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    lastOpenFailure =
        channel == INVALID_HANDLE_VALUE ? OpenFailureFromError(GetLastError()) : OpenFailure::None;
    return FromHandle(channel);
}

OpenFailure LastOpenFailure() {
    return lastOpenFailure;
}

void CloseChannel(NativeHandle channel) {
    CloseHandle(ToHandle(channel));
}

bool AccessHint(const char*, char* text, std::size_t capacity) {
    // Access to a HID device is refused to a user only for devices the system itself holds
    // (keyboards, mice): nothing a till's user can change.
    if (capacity > 0) {
        text[0] = '\0';
    }
    return false;
}

NativeHandle CreateCompletionEvent() {
    // Manual reset, created signalled. ReadFile and WriteFile reset it when they start, so a
    // signalled event before then means nothing. The empty name makes an unnamed event, one of
    // its own for every call.
    const HANDLE event = CreateEventA(nullptr, TRUE, TRUE, "");
    return event == nullptr ? kNoEvent : FromHandle(event);
}

IoOutcome ReadInputReport(NativeHandle channel, NativeHandle event, std::uint8_t* buffer,
                          std::uint32_t length, Deadline& deadline) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = ToHandle(event);
    DWORD got = 0;
    const BOOL started = ReadFile(ToHandle(channel), buffer, length, &got, &overlapped);
    // A report already queued completes the read at once, without asking the deadline.
    const Finished finished = FinishOverlapped(
        ToHandle(channel), ToHandle(event), &overlapped, started,
        [&deadline] { return DWORD{deadline.RemainingMs()}; }, &got);
    if (finished.outcome == IoOutcome::Completed && got < length) {
        std::memset(buffer + got, 0, length - got);
    }
    return finished.outcome;
}

IoOutcome WriteOutputReport(NativeHandle channel, NativeHandle event, const std::uint8_t* report,
                            std::uint32_t length, Deadline& deadline) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = ToHandle(event);
    DWORD written = 0;
    const BOOL started = WriteFile(ToHandle(channel), report, length, &written, &overlapped);
    // One wait: the whole time-out, with no clock read, unless a failure started the deadline.
    const Finished finished = FinishOverlapped(
        ToHandle(channel), ToHandle(event), &overlapped, started,
        [&deadline] { return DWORD{deadline.SingleWaitMs()}; }, &written);
    // A write counts only when the device took the whole report.
    if (finished.outcome == IoOutcome::Completed && written != length) {
        return IoOutcome::Failed;
    }
    // A device that vanished while the report was pending may have taken it: not sent again.
    if (finished.outcome == IoOutcome::Gone && !finished.refusedAtOnce) {
        return IoOutcome::Failed;
    }
    return finished.outcome;
}

// The performance counter, not the tick count: that moves in steps of up to 16 ms, which would
// end a paced read early.
std::int64_t MonotonicNowNs() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    // In two parts, so that the product cannot overflow however long the machine has run.
    const std::int64_t seconds = now.QuadPart / frequency.QuadPart;
    const std::int64_t rest = now.QuadPart % frequency.QuadPart;
    return seconds * 1000000000 + rest * 1000000000 / frequency.QuadPart;
}

void SleepUntilNs(std::int64_t ns) {
    // Sleep may end up to a timer tick early: look at the clock again until the time has come.
    for (std::int64_t left; (left = ns - MonotonicNowNs()) > 0;) {
        Sleep(static_cast<DWORD>((left + 999999) / 1000000));
    }
}

}  // namespace platform
}  // namespace quen::hid
