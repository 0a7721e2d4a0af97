// A platform of the seam that costs nothing: one interface, the maker's scanner (or, built with
// QUEN_NULL_SCALE, its scale), whose read channel hands back one fixed report at once and whose
// write channel takes every report. Built only into the benchmarks' copies of the bridges, so
// that a JVM figure taken through them is the shipped JNI glue, device object and reader alone.
// Its clock is the shipped POSIX one (platform_posix_clock.cpp), which every call reads.
#include <cstring>

#include "bridge/device_ids.h"
#include "hid/platform.h"

namespace quen::hid {

// Nothing to hold: the one list there is lives as long as the library.
struct InterfaceList {};

namespace {

using namespace quen::bridge;

InterfaceList theList;
constexpr char kPath[] = "null#1";
// The reports of the maker's devices: 64 bytes, and the report ID byte (0, not numbered).
constexpr std::uint16_t kReportBytes = 65;
constexpr NativeHandle kQueryHandle = 1;
constexpr NativeHandle kReadChannel = 2;
constexpr NativeHandle kWriteChannel = 3;

#ifdef QUEN_NULL_SCALE
constexpr std::uint16_t kUsage = kScaleUsage;
constexpr std::uint16_t kProductId = 0x0201;
#else
constexpr std::uint16_t kUsage = kScannerUsage;
constexpr std::uint16_t kProductId = 0x0101;
#endif

// A scanner report as the device sends it: ID 0, L 63 (the whole 64 bytes count), three header
// bytes, no continuation, then 58 data bytes. The scale takes its first 64 bytes as a record.
struct FixedReport {
    std::uint8_t bytes[kMaxReportBytes] = {};
    FixedReport() {
        bytes[1] = 63;
        std::memset(bytes + 6, 'A', kReportBytes - 6);
    }
};
const FixedReport report;

}  // namespace

namespace platform {

InterfaceList* OpenInterfaceList() {
    return &theList;
}

PathStatus InterfacePath(InterfaceList*, std::uint32_t index, char* path, std::size_t capacity) {
    if (index > 0) {
        return PathStatus::End;
    }
    if (capacity < sizeof kPath) {
        return PathStatus::Unusable;
    }
    std::memcpy(path, kPath, sizeof kPath);
    return PathStatus::Ok;
}

void CloseInterfaceList(InterfaceList*) {}

NativeHandle OpenQueryHandle(const char* path) {
    return std::strcmp(path, kPath) == 0 ? kQueryHandle : kInvalidHandle;
}

bool QueryAttributes(NativeHandle, InterfaceAttributes* attributes) {
    attributes->vendorId = kMakerVendorId;
    attributes->productId = kProductId;
    return true;
}

bool QueryCaps(NativeHandle, InterfaceCaps* caps) {
    caps->usage = kUsage;
    caps->usagePage = kMakerUsagePage;
    caps->inputReportByteLength = kReportBytes;
    caps->outputReportByteLength = kReportBytes;
    return true;
}

void CloseQueryHandle(NativeHandle) {}

NativeHandle OpenChannel(const char* path, ChannelKind kind) {
    if (std::strcmp(path, kPath) != 0) {
        return kInvalidHandle;
    }
    return kind == ChannelKind::Read ? kReadChannel : kWriteChannel;
}

OpenFailure LastOpenFailure() {
    return OpenFailure::None;
}

void CloseChannel(NativeHandle) {}

NativeHandle CreateCompletionEvent() {
    return 1;
}

bool AccessHint(const char*, char* text, std::size_t capacity) {
    if (capacity > 0) {
        text[0] = '\0';
    }
    return false;
}

IoOutcome ReadInputReport(NativeHandle, NativeHandle, std::uint8_t* buffer, std::uint32_t length,
                          Deadline&) {
    // The report is always there: like a report already queued, taken without a clock read.
    // The device object never asks for more than kMaxReportBytes.
    std::memcpy(buffer, report.bytes, length);
    return IoOutcome::Completed;
}

IoOutcome WriteOutputReport(NativeHandle, NativeHandle, const std::uint8_t*, std::uint32_t,
                            Deadline&) {
    return IoOutcome::Completed;
}

}  // namespace platform
}  // namespace quen::hid
