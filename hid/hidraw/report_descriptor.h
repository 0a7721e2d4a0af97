// What the hidraw platform needs to know of a device's report descriptor: its top-level
// collections, each with its usage and the report lengths Windows would state for it, so that
// every collection can be listed as an interface of its own, exactly as on Windows.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hid/hidraw/report_id_set.h"

namespace quen::hid::hidraw {

inline constexpr std::size_t kMaxTopLevelCollections = 16;

struct TopLevelCollection {
    std::uint16_t usagePage = 0;
    std::uint16_t usage = 0;
    // Counted the Windows way (HidP_GetCaps): the longest report of this collection in bytes
    // plus one for the report ID byte (which is 0 on devices without numbered reports); 0 when
    // the collection has no report of that kind, or only reports of no bits.
    std::uint16_t inputReportByteLength = 0;
    std::uint16_t outputReportByteLength = 0;
    std::uint16_t featureReportByteLength = 0;
    // The IDs of the collection's input reports (numbered devices only; ID 0 among them when
    // the collection declares input without a report ID).
    ReportIdSet inputReportIds;
    bool HasInputReportId(std::uint8_t id) const { return inputReportIds.Has(id); }
};

struct ReportDescriptorSummary {
    // The device numbers its input reports: some input item has a report ID, so each input
    // report the node delivers starts with its ID (the kernel keeps this per report type).
    bool numbered = false;
    std::size_t collectionCount = 0;
    TopLevelCollection collections[kMaxTopLevelCollections];
};

// Parses `size` bytes. False for a descriptor that yields no interface, and then `out` holds no
// collection (collectionCount 0): never garbage. An empty descriptor is valid and has no
// collection. Reads nothing past `size`; does not allocate.
//
// The kernel decides whether a device gets a hidraw node and what the node delivers, so this
// parser reads a descriptor as Debian's kernel does (drivers/hid/hid-core.c, hid_open_report),
// also where that differs from the USB HID standard's letter, and refuses what the kernel
// refuses: any long item (a prefix 0xF0-0xFF; the kernel gives such a device no node), global
// tags 0xC-0xE, report sizes above 256 bits, report counts and usage lists above 12288, report
// ID 0 or above 255, a logical maximum below its minimum at a data item, more than 4 pushes, a
// pop with none, a nested or stray delimiter, a report longer than 16383 bytes (usbhid's buffer
// less the ID byte), an unbalanced collection or delimiter at the end. A collection is named
// after its first usage as the kernel concatenates it with the usage page in force at the
// Collection item (hid_concatenate_last_usage_page); Usage Minimum and Maximum add usages as
// Usage does; only the first delimiter set counts. Every data item declares its report, also
// one of no bits and one without a report ID on a device that numbers its other reports (the
// kernel delivers that report as ID 0).
//
// Beyond the kernel, these give no interface: data items outside every collection and a report ID
// whose reports lie in two top-level collections (so also data without report IDs in two), since
// no collection could own those reports (Windows ties each ID to one collection; a channel could
// only pass such a report to both or to neither); more than kMaxTopLevelCollections top-level
// collections, the summary's fixed capacity.
bool ParseReportDescriptor(const std::uint8_t* data, std::size_t size,
                           ReportDescriptorSummary* out);

}  // namespace quen::hid::hidraw
