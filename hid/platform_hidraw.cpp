// The Linux platform layer: hidraw. sysfs lists the hidraw nodes with each device's IDs and report
// descriptor; the descriptor, parsed here, gives the top-level collections with their usages and
// report lengths; each node is opened as a file and read with poll for the time-out.
//
// Windows lists every top-level collection of a device as an interface of its own. A hidraw node
// carries all collections of its device, so the interface path names the node and the collection
// ("/dev/hidraw3#2": node hidraw3, its second top-level collection), and a channel opened on it
// passes on only that collection's input reports (hid/hidraw/hidraw_channel.h).
#include "hid/platform.h"

#include <fcntl.h>
#include <unistd.h>

#include <ctime>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "hid/hidraw/hidraw_channel.h"
#include "hid/hidraw/hidraw_roots.h"
#include "hid/hidraw/report_descriptor.h"
#include "hid/hidraw/sysfs_nodes.h"

namespace quen::hid {

namespace {

using hidraw::ReportDescriptorSummary;
using hidraw::TopLevelCollection;

struct InterfaceEntry {
    unsigned node;
    unsigned collection;  // from 1, in descriptor order
};

hidraw::HidrawRoots roots{"/sys/class/hidraw", "/dev"};

thread_local OpenFailure lastOpenFailure = OpenFailure::None;

// One interface as sysfs describes it now.
struct InterfaceDescription {
    unsigned node = 0;
    InterfaceAttributes attributes;
    InterfaceCaps caps;
    hidraw::ChannelReports reports;
};

// Reads a node's IDs and descriptor. The descriptor buffer is 4 KiB, so it lives on the heap
// (enumeration and opening may allocate; report I/O never does).
bool ReadNode(unsigned node, ReportDescriptorSummary* summary, hidraw::HidrawNode* scratch) {
    return hidraw::ReadHidrawNode(roots.sysClass, node, scratch) &&
           hidraw::ParseReportDescriptor(scratch->descriptor, scratch->descriptorSize, summary);
}

// "<dev>/hidrawN#C" -> N and C. False for anything else.
bool ParsePath(const char* path, unsigned* node, unsigned* collection) {
    const char* hash = std::strrchr(path, '#');
    const char* slash = std::strrchr(path, '/');
    if (hash == nullptr || slash == nullptr || slash > hash ||
        std::strncmp(slash + 1, "hidraw", 6) != 0) {
        return false;
    }
    char* end = nullptr;
    const unsigned long n = std::strtoul(slash + 7, &end, 10);
    if (end != hash || end == slash + 7) {
        return false;
    }
    const unsigned long c = std::strtoul(hash + 1, &end, 10);
    if (*end != '\0' || c == 0 || c > hidraw::kMaxTopLevelCollections || n > 0xFFFFFFul) {
        return false;
    }
    *node = static_cast<unsigned>(n);
    *collection = static_cast<unsigned>(c);
    return true;
}

bool Describe(const char* path, InterfaceDescription* out) {
    unsigned node = 0;
    unsigned collection = 0;
    if (!ParsePath(path, &node, &collection)) {
        return false;
    }
    std::unique_ptr<hidraw::HidrawNode> scratch(new (std::nothrow) hidraw::HidrawNode);
    ReportDescriptorSummary summary;
    if (!scratch || !ReadNode(node, &summary, scratch.get()) ||
        collection > summary.collectionCount) {
        return false;
    }
    const TopLevelCollection& tlc = summary.collections[collection - 1];
    out->node = node;
    out->attributes.vendorId = scratch->vendorId;
    out->attributes.productId = scratch->productId;
    out->caps.usage = tlc.usage;
    out->caps.usagePage = tlc.usagePage;
    out->caps.inputReportByteLength = tlc.inputReportByteLength;
    out->caps.outputReportByteLength = tlc.outputReportByteLength;
    out->reports.numbered = summary.numbered;
    out->reports.inputReportIds = tlc.inputReportIds;
    return true;
}

OpenFailure FailureFromErrno(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            return OpenFailure::PermissionDenied;
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return OpenFailure::NotFound;
        case EBUSY:
            return OpenFailure::Busy;
        default:
            return OpenFailure::Other;
    }
}

struct QueryRecord {
    InterfaceAttributes attributes;
    InterfaceCaps caps;
};

hidraw::HidrawChannel* AsChannel(NativeHandle handle) {
    return reinterpret_cast<hidraw::HidrawChannel*>(handle);
}

}  // namespace

struct InterfaceList {
    std::vector<InterfaceEntry> entries;
};

namespace hidraw {

const HidrawRoots& Roots() {
    return roots;
}

void UseRoots(const char* sysClass, const char* dev) {
    roots = HidrawRoots{sysClass, dev};
}

}  // namespace hidraw

namespace platform {

InterfaceList* OpenInterfaceList() {
    std::unique_ptr<InterfaceList> list(new (std::nothrow) InterfaceList);
    std::unique_ptr<hidraw::HidrawNode> scratch(new (std::nothrow) hidraw::HidrawNode);
    if (!list || !scratch) {
        return nullptr;
    }
    // Node number order, then collection order: the same devices list the same way every time.
    for (const unsigned node : hidraw::ListHidrawNodeNumbers(roots.sysClass)) {
        ReportDescriptorSummary summary;
        // A node whose descriptor cannot be read or parsed offers no interface at all.
        if (!ReadNode(node, &summary, scratch.get())) {
            continue;
        }
        for (unsigned c = 1; c <= summary.collectionCount; ++c) {
            list->entries.push_back(InterfaceEntry{node, c});
        }
    }
    return list.release();
}

PathStatus InterfacePath(InterfaceList* list, std::uint32_t index, char* path,
                         std::size_t capacity) {
    if (index >= list->entries.size()) {
        return PathStatus::End;
    }
    const InterfaceEntry& entry = list->entries[index];
    const int length =
        std::snprintf(path, capacity, "%s/hidraw%u#%u", roots.dev, entry.node, entry.collection);
    if (length < 0 || static_cast<std::size_t>(length) >= capacity) {
        return PathStatus::Unusable;
    }
    return PathStatus::Ok;
}

void CloseInterfaceList(InterfaceList* list) {
    delete list;
}

NativeHandle OpenQueryHandle(const char* path) {
    // Everything a query needs is in sysfs: no need to open the node, so interfaces this user
    // may not open can still be listed and examined.
    InterfaceDescription description;
    if (!Describe(path, &description)) {
        return kInvalidHandle;
    }
    QueryRecord* record = new (std::nothrow) QueryRecord{description.attributes, description.caps};
    return record == nullptr ? kInvalidHandle : reinterpret_cast<NativeHandle>(record);
}

bool QueryAttributes(NativeHandle queryHandle, InterfaceAttributes* attributes) {
    *attributes = reinterpret_cast<const QueryRecord*>(queryHandle)->attributes;
    return true;
}

bool QueryCaps(NativeHandle queryHandle, InterfaceCaps* caps) {
    *caps = reinterpret_cast<const QueryRecord*>(queryHandle)->caps;
    return true;
}

void CloseQueryHandle(NativeHandle queryHandle) {
    delete reinterpret_cast<QueryRecord*>(queryHandle);
}

NativeHandle OpenChannel(const char* path, ChannelKind) {
    InterfaceDescription description;
    if (!Describe(path, &description)) {
        lastOpenFailure = OpenFailure::NotFound;
        return kInvalidHandle;
    }
    char node[1100];
    std::snprintf(node, sizeof node, "%.*s", static_cast<int>(std::strrchr(path, '#') - path),
                  path);
    // Read and write channels alike are opened read-write (what the udev rule grants), and
    // non-blocking, so that only poll ever waits for input.
    const int fd = ::open(node, O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        lastOpenFailure = FailureFromErrno(errno);
        return kInvalidHandle;
    }
    auto* channel = new (std::nothrow) hidraw::HidrawChannel(fd, description.reports);
    if (channel == nullptr) {
        ::close(fd);
        lastOpenFailure = OpenFailure::Other;
        return kInvalidHandle;
    }
    lastOpenFailure = OpenFailure::None;
    return reinterpret_cast<NativeHandle>(channel);
}

OpenFailure LastOpenFailure() {
    return lastOpenFailure;
}

void CloseChannel(NativeHandle channel) {
    delete AsChannel(channel);
}

NativeHandle CreateCompletionEvent() {
    // poll needs no event: a fixed token tells the device object that waiting is possible.
    return 1;
}

IoOutcome ReadInputReport(NativeHandle channel, NativeHandle, std::uint8_t* buffer,
                          std::uint32_t length, std::uint32_t timeoutMs) {
    return AsChannel(channel)->Read(buffer, length, timeoutMs);
}

IoOutcome WriteOutputReport(NativeHandle channel, NativeHandle, const std::uint8_t* report,
                            std::uint32_t length, std::uint32_t) {
    // The kernel bounds a hidraw write by itself; see HidrawChannel::Write.
    return AsChannel(channel)->Write(report, length);
}

std::int64_t MonotonicNowNs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

void SleepUntilNs(std::int64_t ns) {
    const timespec end{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &end, nullptr) == EINTR) {
    }
}

}  // namespace platform
}  // namespace quen::hid
