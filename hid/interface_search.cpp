#include "hid/interface_search.h"

#include <cstring>

#include "hid/hid_device.h"

namespace quen::hid {
namespace {

class ListGuard {
  public:
    ListGuard() : list_(platform::OpenInterfaceList()) {}
    ~ListGuard() {
        if (list_ != nullptr) {
            platform::CloseInterfaceList(list_);
        }
    }
    ListGuard(const ListGuard&) = delete;
    ListGuard& operator=(const ListGuard&) = delete;
    InterfaceList* get() const { return list_; }

  private:
    InterfaceList* list_;
};

class QueryHandleGuard {
  public:
    explicit QueryHandleGuard(const char* path) : handle_(platform::OpenQueryHandle(path)) {}
    ~QueryHandleGuard() {
        if (handle_ != kInvalidHandle) {
            platform::CloseQueryHandle(handle_);
        }
    }
    QueryHandleGuard(const QueryHandleGuard&) = delete;
    QueryHandleGuard& operator=(const QueryHandleGuard&) = delete;
    NativeHandle get() const { return handle_; }

  private:
    NativeHandle handle_;
};

bool ReportsFitBuffers(const InterfaceCaps& caps) {
    return caps.inputReportByteLength <= kReportBufferSize &&
           caps.outputReportByteLength <= kReportBufferSize;
}

// Examines one interface. Capabilities are asked for only when the vendor matches, as a device
// of another maker may answer that query slowly or not at all.
bool InterfaceMatches(const char* path, std::int32_t vendorId, std::int32_t usagePage,
                      std::int32_t usage, InterfaceMatch* match) {
    QueryHandleGuard query(path);
    if (query.get() == kInvalidHandle) {
        return false;
    }
    InterfaceAttributes attributes;
    if (!platform::QueryAttributes(query.get(), &attributes) || attributes.vendorId != vendorId) {
        return false;
    }
    InterfaceCaps caps;
    if (!platform::QueryCaps(query.get(), &caps)) {
        return false;
    }
    // Zero-extended 16-bit values: an argument above 0xFFFF never matches.
    if (caps.usage != usage || caps.usagePage != usagePage || !ReportsFitBuffers(caps)) {
        return false;
    }
    match->attributes = attributes;
    match->caps = caps;
    return true;
}

}  // namespace

bool FindFirstInterface(std::int32_t vendorId, std::int32_t usagePage, std::int32_t usage,
                        InterfaceMatch* match, char* path, std::uint32_t capacity) {
    ListGuard list;
    if (list.get() == nullptr) {
        return false;
    }
    for (std::uint32_t index = 0;; ++index) {
        std::memset(path, 0, capacity);
        const PathStatus status = platform::InterfacePath(list.get(), index, path, capacity);
        if (status == PathStatus::End) {
            return false;
        }
        if (status == PathStatus::Ok && InterfaceMatches(path, vendorId, usagePage, usage, match)) {
            return true;
        }
    }
}

}  // namespace quen::hid
