// The Linux platform layer: hidraw. sysfs lists the hidraw nodes with each device's IDs and report
// descriptor; the descriptor, parsed here, gives the top-level collections with their usages and
// report lengths; each node is opened as a file and read with poll for the time-out.
//
// Windows lists every top-level collection of a device as an interface of its own. A hidraw node
// carries all collections of its device, so the interface path names the node and the collection
// ("/dev/hidraw3#2": node hidraw3, its second top-level collection), and a channel opened on it
// passes on only that collection's input reports (hid/hidraw/hidraw_channel.h).
//
// A node number names no device for long: an unplug frees hidrawN, and the next device plugged
// in may take it. So the path also states the device it was listed for (vendor, product and a
// digest of its report descriptor: "/dev/hidraw3#2@2e5a:0101:6c0e3a1f"), and a query or a channel
// on a node that now holds another device fails as NotFound. A Windows path names its device
// the same way.
#include "hid/platform.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

#include "hid/hidraw/hidraw_channel.h"
#include "hid/hidraw/node_group.h"
#include "hid/hidraw/hidraw_roots.h"
#include "hid/hidraw/report_descriptor.h"
#include "hid/hidraw/sysfs_nodes.h"
#include "hid/hidraw/unique_fd.h"

namespace quen::hid {

namespace {

using hidraw::ReportDescriptorSummary;
using hidraw::TopLevelCollection;

hidraw::HidrawRoots roots{"/sys/class/hidraw", "/dev"};

thread_local OpenFailure lastOpenFailure = OpenFailure::None;

// The device a node held when it was listed.
struct DeviceIdentity {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint32_t descriptorDigest = 0;

    bool operator==(const DeviceIdentity& other) const {
        return vendorId == other.vendorId && productId == other.productId &&
               descriptorDigest == other.descriptorDigest;
    }
};

// What an interface path states.
struct InterfaceAddress {
    unsigned node = 0;
    unsigned collection = 0;  // from 1, in descriptor order
    DeviceIdentity identity;

    bool operator==(const InterfaceAddress& other) const {
        return node == other.node && collection == other.collection && identity == other.identity;
    }
};

// What a query asks of an interface.
struct QueryRecord {
    InterfaceAttributes attributes;
    InterfaceCaps caps;
};

// One interface of a snapshot: where it is, and what sysfs said of it when the snapshot was
// taken.
struct ListedInterface {
    InterfaceAddress address;
    QueryRecord described;
};

// FNV-1a: tells descriptors apart; nothing here guards against a forged one.
std::uint32_t DescriptorDigest(const std::uint8_t* descriptor, std::size_t size) {
    std::uint32_t digest = 2166136261u;
    for (std::size_t i = 0; i < size; ++i) {
        digest = (digest ^ descriptor[i]) * 16777619u;
    }
    return digest;
}

DeviceIdentity IdentityOf(const hidraw::HidrawNode& node) {
    return DeviceIdentity{node.vendorId, node.productId,
                          DescriptorDigest(node.descriptor, node.descriptorSize)};
}

// Reads a node's IDs and descriptor from sysfs and parses the descriptor. The descriptor buffer
// is 4 KiB, so it lives on the heap (enumeration and opening may allocate; report I/O never does).
// The longest descriptor an open node hands over (HIDIOCGRDESC takes at most
// HID_MAX_DESCRIPTOR_SIZE - 1 bytes), which is how a channel checks that the node still holds the
// listed device. sysfs gives one byte more; a node with a longer descriptor could be listed but
// never opened, so it offers no interface at all: the search, the probe and the channel agree.
constexpr std::size_t kMostDescriptorBytesOpened = hidraw::kMaxDescriptorSize - 1;

bool ReadAndParseNode(unsigned node, ReportDescriptorSummary* summary,
                      hidraw::HidrawNode* scratch) {
    return hidraw::ReadHidrawNode(roots.sysClass, node, scratch) &&
           scratch->descriptorSize <= kMostDescriptorBytesOpened &&
           hidraw::ParseReportDescriptor(scratch->descriptor, scratch->descriptorSize, summary);
}

// "<dev>/hidrawN#C@vvvv:pppp:dddddddd", as InterfacePath writes it. False for anything else.
bool ParsePath(const char* path, InterfaceAddress* out) {
    const char* slash = std::strrchr(path, '/');
    const char* hash = slash == nullptr ? nullptr : std::strchr(slash, '#');
    const char* at = hash == nullptr ? nullptr : std::strchr(hash, '@');
    if (at == nullptr ||
        !hidraw::ParseHidrawName(
            std::string_view(slash + 1, static_cast<std::size_t>(hash - slash - 1)), &out->node)) {
        return false;
    }
    char* end = nullptr;
    const unsigned long collection = std::strtoul(hash + 1, &end, 10);
    if (end != at || end == hash + 1 || collection == 0 ||
        collection > hidraw::kMaxTopLevelCollections) {
        return false;
    }
    unsigned vendor = 0;
    unsigned product = 0;
    unsigned digest = 0;
    int used = 0;
    if (std::sscanf(at + 1, "%4x:%4x:%8x%n", &vendor, &product, &digest, &used) != 3 ||
        at[1 + used] != '\0') {
        return false;
    }
    out->collection = static_cast<unsigned>(collection);
    out->identity = DeviceIdentity{static_cast<std::uint16_t>(vendor),
                                   static_cast<std::uint16_t>(product), digest};
    return true;
}

QueryRecord DescribedBy(const hidraw::HidrawNode& node, const TopLevelCollection& tlc) {
    QueryRecord described;
    described.attributes.vendorId = node.vendorId;
    described.attributes.productId = node.productId;
    described.caps.usage = tlc.usage;
    described.caps.usagePage = tlc.usagePage;
    described.caps.inputReportByteLength = tlc.inputReportByteLength;
    described.caps.outputReportByteLength = tlc.outputReportByteLength;
    return described;
}

// The interface an address names, as sysfs describes it now: false when the node holds another
// device than the address was listed for, or no longer that collection.
bool Describe(const InterfaceAddress& address, QueryRecord* described) {
    std::unique_ptr<hidraw::HidrawNode> scratch(new (std::nothrow) hidraw::HidrawNode);
    ReportDescriptorSummary summary;
    if (!scratch || !ReadAndParseNode(address.node, &summary, scratch.get()) ||
        !(IdentityOf(*scratch) == address.identity) ||
        address.collection > summary.collectionCount) {
        return false;
    }
    *described = DescribedBy(*scratch, summary.collections[address.collection - 1]);
    return true;
}

// Asks the open node itself which device it is (HIDIOCGRAWINFO, HIDIOCGRDESC): true when it is
// the one the path was listed for; then `reports` describes the path's collection as the node's
// own descriptor states it.
bool NodeHoldsTheListedDevice(int fd, const InterfaceAddress& address,
                              hidraw::ChannelReports* reports) {
    hidraw_devinfo info{};
    int size = 0;
    std::unique_ptr<hidraw_report_descriptor> descriptor(new (std::nothrow)
                                                             hidraw_report_descriptor{});
    if (!descriptor || ::ioctl(fd, HIDIOCGRAWINFO, &info) != 0 ||
        ::ioctl(fd, HIDIOCGRDESCSIZE, &size) != 0 || size < 0 ||
        static_cast<std::size_t>(size) > kMostDescriptorBytesOpened) {
        return false;
    }
    descriptor->size = static_cast<std::uint32_t>(size);
    ReportDescriptorSummary summary;
    if (::ioctl(fd, HIDIOCGRDESC, descriptor.get()) != 0 ||
        !hidraw::ParseReportDescriptor(descriptor->value, descriptor->size, &summary) ||
        address.collection > summary.collectionCount) {
        return false;
    }
    const DeviceIdentity opened{static_cast<std::uint16_t>(info.vendor),
                                static_cast<std::uint16_t>(info.product),
                                DescriptorDigest(descriptor->value, descriptor->size)};
    reports->numbered = summary.numbered;
    reports->inputReportIds = summary.collections[address.collection - 1].inputReportIds;
    return opened == address.identity;
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

hidraw::HidrawChannel* AsChannel(NativeHandle handle) {
    return reinterpret_cast<hidraw::HidrawChannel*>(handle);
}

}  // namespace

struct InterfaceList {
    std::vector<ListedInterface> entries;
};

namespace {

// The snapshot this thread walks now: a search lists every node and then queries the interfaces
// of the vendor it looks for, and the snapshot already holds what sysfs said of each, so the
// queries need not read and parse every descriptor a second time.
thread_local const InterfaceList* walked = nullptr;

// The snapshot's entry for `address`; null when there is no snapshot or it lists no such entry.
const ListedInterface* FindListed(const InterfaceList* list, const InterfaceAddress& address) {
    if (list != nullptr) {
        for (const ListedInterface& entry : list->entries) {
            if (entry.address == address) {
                return &entry;
            }
        }
    }
    return nullptr;
}

}  // namespace

namespace hidraw {

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
        if (!ReadAndParseNode(node, &summary, scratch.get())) {
            continue;
        }
        for (unsigned c = 1; c <= summary.collectionCount; ++c) {
            list->entries.push_back(
                ListedInterface{InterfaceAddress{node, c, IdentityOf(*scratch)},
                                DescribedBy(*scratch, summary.collections[c - 1])});
        }
    }
    walked = list.get();
    return list.release();
}

PathStatus InterfacePath(InterfaceList* list, std::uint32_t index, char* path,
                         std::size_t capacity) {
    if (index >= list->entries.size()) {
        return PathStatus::End;
    }
    const InterfaceAddress& entry = list->entries[index].address;
    const int length = std::snprintf(path, capacity, "%s/hidraw%u#%u@%04x:%04x:%08x", roots.dev,
                                     entry.node, entry.collection, entry.identity.vendorId,
                                     entry.identity.productId, entry.identity.descriptorDigest);
    if (length < 0 || static_cast<std::size_t>(length) >= capacity) {
        return PathStatus::Unusable;
    }
    return PathStatus::Ok;
}

void CloseInterfaceList(InterfaceList* list) {
    if (walked == list) {
        walked = nullptr;
    }
    delete list;
}

NativeHandle OpenQueryHandle(const char* path) {
    // Everything a query needs is in sysfs: no need to open the node, so interfaces this user
    // may not open can still be listed and examined.
    InterfaceAddress address;
    if (!ParsePath(path, &address)) {
        return kInvalidHandle;
    }
    QueryRecord described;
    const ListedInterface* listed = FindListed(walked, address);
    if (listed != nullptr) {
        described = listed->described;
    } else if (!Describe(address, &described)) {
        return kInvalidHandle;
    }
    QueryRecord* record = new (std::nothrow) QueryRecord(described);
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
    InterfaceAddress address;
    if (!ParsePath(path, &address)) {
        lastOpenFailure = OpenFailure::NotFound;
        return kInvalidHandle;
    }
    char node[1100];
    const int length = std::snprintf(node, sizeof node, "%s/hidraw%u", roots.dev, address.node);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof node) {
        lastOpenFailure = OpenFailure::NotFound;
        return kInvalidHandle;
    }
    // Read and write channels alike are opened read-write (what the udev rule grants), and
    // non-blocking, so that only poll ever waits for input.
    hidraw::UniqueFd fd(::open(node, O_RDWR | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
        lastOpenFailure = FailureFromErrno(errno);
        return kInvalidHandle;
    }
    hidraw::ChannelReports reports;
    if (!NodeHoldsTheListedDevice(fd.get(), address, &reports)) {
        lastOpenFailure = OpenFailure::NotFound;  // that device has gone; another took its node
        return kInvalidHandle;
    }
    auto* channel = new (std::nothrow) hidraw::HidrawChannel(std::move(fd), reports);
    if (channel == nullptr) {
        lastOpenFailure = OpenFailure::Other;
        return kInvalidHandle;
    }
    lastOpenFailure = OpenFailure::None;
    return reinterpret_cast<NativeHandle>(channel);
}

OpenFailure LastOpenFailure() {
    return lastOpenFailure;
}

bool AccessHint(const char* path, char* text, std::size_t capacity) {
    char group[64];
    if (hidraw::NodeGroupLacksUs(path, group, sizeof group)) {
        // The rule's group form is in place, but this user is outside the group: installing the
        // rule again would not help.
        std::snprintf(text, capacity,
                      "the udev rule gives it to group %s, and this user is not in it: add the "
                      "user to that group and start again",
                      group);
    } else {
        // No rule of ours applies, or only its seat form (uaccess), which reaches the user logged
        // in at the till's own seat but not a service user or a login over SSH.
        std::snprintf(text, capacity,
                      "install the udev rule 70-quenlink.rules (see the README) and plug the "
                      "device in again; its first form reaches only a user logged in at the "
                      "till's own seat, so over SSH or for a service user use its group form and "
                      "add the user to that group");
    }
    return true;
}

void CloseChannel(NativeHandle channel) {
    delete AsChannel(channel);
}

NativeHandle CreateCompletionEvent() {
    // poll needs no event: a fixed token tells the device object that waiting is possible.
    return 1;
}

IoOutcome ReadInputReport(NativeHandle channel, NativeHandle, std::uint8_t* buffer,
                          std::uint32_t length, Deadline& deadline) {
    return AsChannel(channel)->Read(buffer, length, deadline);
}

IoOutcome WriteOutputReport(NativeHandle channel, NativeHandle, const std::uint8_t* report,
                            std::uint32_t length, Deadline&) {
    // The kernel bounds a hidraw write by itself; see HidrawChannel::Write.
    return AsChannel(channel)->Write(report, length);
}

// MonotonicNowNs and SleepUntilNs: platform_posix_clock.cpp.

}  // namespace platform
}  // namespace quen::hid
