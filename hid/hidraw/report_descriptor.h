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
    // the collection has no report of that kind. Lengths that do not fit 16 bits are 0xFFFF.
    std::uint16_t inputReportByteLength = 0;
    std::uint16_t outputReportByteLength = 0;
    std::uint16_t featureReportByteLength = 0;
    // The IDs of the collection's input reports (numbered devices only).
    ReportIdSet inputReportIds;
    bool HasInputReportId(std::uint8_t id) const { return inputReportIds.Has(id); }
};

struct ReportDescriptorSummary {
    bool numbered = false;  // the descriptor declares report IDs
    std::size_t collectionCount = 0;
    TopLevelCollection collections[kMaxTopLevelCollections];
};

// Parses `size` bytes. False for a malformed descriptor, and then `out` holds no collection
// (collectionCount 0): a malformed descriptor yields no interface, never garbage. An empty
// descriptor is valid and has no collection. Reads nothing past `size`; does not allocate.
//
// Beyond the item grammar, these make a descriptor malformed, because no Windows-style
// interface list could be drawn from it: data items outside every collection; report ID 0 or
// above 255; a report ID whose reports lie in two top-level collections (Windows ties each ID to
// one collection; without report IDs, that means several collections that carry data); data
// both with and without a report ID; more than kMaxTopLevelCollections top-level collections.
//
// Where the kernel reads a descriptor otherwise than the USB HID standard's letter, this parser
// reads it as the kernel does, since the kernel decides what a node delivers: every prefix with
// tag 0xF is a long item (skipped); a usage without its page in its data takes the page in force
// at the main item (hid_concatenate_last_usage_page); a data item of 0 bits still declares its
// report ID.
bool ParseReportDescriptor(const std::uint8_t* data, std::size_t size,
                           ReportDescriptorSummary* out);

}  // namespace quen::hid::hidraw
