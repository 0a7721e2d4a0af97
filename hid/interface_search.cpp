#include "hid/interface_search.h"

#include <cstring>

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

// Stops at the first interface of the vendor with the asked usage page and usage. Capabilities
// are asked for only when the vendor matches, as a device of another maker may answer that
// query slowly or not at all.
class FirstMatch final : public InterfaceVisitor {
  public:
    FirstMatch(std::int32_t vendorId, std::int32_t usagePage, std::int32_t usage,
               InterfaceMatch* match)
        : vendorId_(vendorId), usagePage_(usagePage), usage_(usage), match_(match) {}

    bool Visit(const VisitedInterface& visited) override {
        found_ = visited.query != kInvalidHandle && Matches(visited.query);
        return !found_;
    }
    bool found() const { return found_; }

  private:
    bool Matches(NativeHandle query) {
        InterfaceAttributes attributes;
        if (!platform::QueryAttributes(query, &attributes) || attributes.vendorId != vendorId_) {
            return false;
        }
        InterfaceCaps caps;
        if (!platform::QueryCaps(query, &caps)) {
            return false;
        }
        // Zero-extended 16-bit values: an argument above 0xFFFF never matches.
        if (caps.usage != usage_ || caps.usagePage != usagePage_ || !ReportsFitBuffers(caps)) {
            return false;
        }
        match_->attributes = attributes;
        match_->caps = caps;
        return true;
    }

    std::int32_t vendorId_;
    std::int32_t usagePage_;
    std::int32_t usage_;
    InterfaceMatch* match_;
    bool found_ = false;
};

}  // namespace

bool WalkInterfaces(InterfaceVisitor& visitor, char* path, std::uint32_t capacity) {
    ListGuard list;
    if (list.get() == nullptr) {
        return false;
    }
    for (std::uint32_t index = 0;; ++index) {
        std::memset(path, 0, capacity);
        const PathStatus status = platform::InterfacePath(list.get(), index, path, capacity);
        if (status == PathStatus::End) {
            return true;
        }
        if (status != PathStatus::Ok) {
            path[0] = '\0';
            if (!visitor.Visit(VisitedInterface{index, status, path, kInvalidHandle})) {
                return true;
            }
            continue;
        }
        QueryHandleGuard query(path);
        if (!visitor.Visit(VisitedInterface{index, status, path, query.get()})) {
            return true;
        }
    }
}

bool ReportsFitBuffers(const InterfaceCaps& caps) {
    return caps.inputReportByteLength <= kMaxReportBytes &&
           caps.outputReportByteLength <= kMaxReportBytes;
}

bool FindFirstInterface(std::int32_t vendorId, std::int32_t usagePage, std::int32_t usage,
                        InterfaceMatch* match, char* path, std::uint32_t capacity) {
    FirstMatch search(vendorId, usagePage, usage, match);
    WalkInterfaces(search, path, capacity);
    return search.found();
}

}  // namespace quen::hid
