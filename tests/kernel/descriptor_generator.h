// Report descriptors made from a seed, for the differential test of the report-descriptor parser
// against the kernel (descriptor_differential_test.cpp): every kind of short item, nested and
// sibling collections, report IDs, sizes and counts at the kernel's limits, usage pages before and
// after their usages, usage ranges, delimiters, push and pop; and, for some, a flaw: a long item, a
// cut, a stray or missing End Collection, an item the kernel refuses.
#pragma once

#include <cstdint>
#include <vector>

namespace quen::test {

struct GeneratedDescriptor {
    std::vector<std::uint8_t> bytes;
    // Why the parser refuses this descriptor although the kernel takes it, when it was made to
    // break a rule of the interface list that the kernel does not have: data outside every
    // collection, a report ID in two top-level collections, more top-level collections than the
    // list holds. Null otherwise.
    const char* refusedOnPurpose = nullptr;
};

// The same seed gives the same descriptor, on every machine.
GeneratedDescriptor GenerateDescriptor(std::uint64_t seed);

}  // namespace quen::test
