// The report-descriptor parser against any bytes: it may refuse them, but must never read past
// them, and what it accepts must be a summary a real device could have.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "hid/hidraw/report_descriptor.h"

namespace {

using quen::hid::hidraw::kMaxTopLevelCollections;
using quen::hid::hidraw::ReportDescriptorSummary;
using quen::hid::hidraw::TopLevelCollection;

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void CheckCollection(const TopLevelCollection& c, bool numbered, std::uint8_t* idOwners,
                     std::uint8_t collectionTag) {
    // A length counts the ID byte and at least one byte of data, or there is no such report;
    // no report is longer than the kernel takes (16383 bytes of data).
    for (std::uint16_t length :
         {c.inputReportByteLength, c.outputReportByteLength, c.featureReportByteLength}) {
        Check(length == 0 || (length >= 2 && length <= 16384));
    }
    bool anyInputId = false;
    for (unsigned id = 0; id < 256; ++id) {
        if (!c.HasInputReportId(static_cast<std::uint8_t>(id))) {
            continue;
        }
        anyInputId = true;
        Check(numbered);           // ID 0 too: input declared without an ID on a numbered device
        Check(idOwners[id] == 0);  // an input report belongs to one collection only
        idOwners[id] = collectionTag;
    }
    // Numbered: an input length only with some input ID (an ID whose input items are all of 0
    // bits is declared, as the kernel declares it, but makes no length); unnumbered: no ID at all.
    Check(numbered ? (c.inputReportByteLength == 0 || anyInputId) : !anyInputId);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ReportDescriptorSummary summary;
    const bool valid = quen::hid::hidraw::ParseReportDescriptor(data, size, &summary);
    const TopLevelCollection unused;
    if (!valid) {
        Check(summary.collectionCount == 0 && !summary.numbered);
    }
    Check(summary.collectionCount <= kMaxTopLevelCollections);
    std::uint8_t idOwners[256] = {};
    for (std::size_t i = 0; i < kMaxTopLevelCollections; ++i) {
        const TopLevelCollection& c = summary.collections[i];
        if (i < summary.collectionCount) {
            CheckCollection(c, summary.numbered, idOwners, static_cast<std::uint8_t>(i + 1));
        } else {
            Check(std::memcmp(&c, &unused, sizeof c) == 0);  // nothing left of an earlier parse
        }
    }
    // The same bytes give the same summary.
    ReportDescriptorSummary again;
    Check(quen::hid::hidraw::ParseReportDescriptor(data, size, &again) == valid);
    Check(again.numbered == summary.numbered && again.collectionCount == summary.collectionCount);
    Check(std::memcmp(again.collections, summary.collections, sizeof summary.collections) == 0);
    return 0;
}
