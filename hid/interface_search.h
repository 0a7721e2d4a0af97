// The walk over the HID interfaces present, and the search that FindDevice and DeviceExists
// build on it: in enumeration order, stopping at the first interface of the vendor with the
// asked usage page and usage. The probe walks the same way, so it sees what the bridges see.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hid/platform.h"

namespace quen::hid {

struct InterfaceMatch {
    InterfaceAttributes attributes;
    InterfaceCaps caps;
};

// One interface as the walk meets it. `query` is open for the length of the visit only, and is
// kInvalidHandle when the interface cannot be examined; `path` is empty when it was Unusable.
struct VisitedInterface {
    std::uint32_t index;
    PathStatus status;
    const char* path;
    NativeHandle query;
};

class InterfaceVisitor {
  public:
    // False stops the walk.
    virtual bool Visit(const VisitedInterface& visited) = 0;

  protected:
    ~InterfaceVisitor() = default;
};

// Visits every interface present in enumeration order, using `path` (capacity bytes) for each
// one's path. Every list and query handle taken is released before it returns. False when the
// interfaces cannot be listed at all.
bool WalkInterfaces(InterfaceVisitor& visitor, char* path, std::uint32_t capacity);

// Reports longer than the device object's buffers: such an interface never matches.
bool ReportsFitBuffers(const InterfaceCaps& caps);

// True when a matching interface is present; then `match` and `path` (capacity bytes) describe
// the first one. Interfaces whose reports do not fit the device object's buffers, or whose path
// is longer than capacity - 1, never match.
bool FindFirstInterface(std::int32_t vendorId, std::int32_t usagePage, std::int32_t usage,
                        InterfaceMatch* match, char* path, std::uint32_t capacity);

// The same for `count` usages in order of preference, in one walk: the first interface with the
// first usage present, as calling FindFirstInterface for one usage after another would find.
bool FindFirstInterfaceOf(std::int32_t vendorId, std::int32_t usagePage, const std::int32_t* usages,
                          std::size_t count, InterfaceMatch* match, char* path,
                          std::uint32_t capacity);

}  // namespace quen::hid
