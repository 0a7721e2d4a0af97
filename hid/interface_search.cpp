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

// Finds the first interface of the vendor with the asked usage page and the most preferred of the
// asked usages present, in one walk; stops at the first with the most preferred usage of all.
// Capabilities are asked for only when the vendor matches, as a device of another maker may
// answer that query slowly or not at all.
class FirstMatch final : public InterfaceVisitor {
  public:
    FirstMatch(std::int32_t vendorId, std::int32_t usagePage, const std::int32_t* usages,
               std::size_t count, InterfaceMatch* match, char* path, std::uint32_t capacity)
        : vendorId_(vendorId),
          usagePage_(usagePage),
          usages_(usages),
          count_(count),
          match_(match),
          path_(path),
          capacity_(capacity),
          rank_(count) {}

    bool Visit(const VisitedInterface& visited) override {
        InterfaceMatch candidate;
        const std::size_t rank =
            visited.query == kInvalidHandle ? count_ : Rank(visited.query, &candidate);
        if (rank < rank_) {
            rank_ = rank;
            *match_ = candidate;
            std::memcpy(path_, visited.path, capacity_);
        }
        return rank_ != 0;
    }
    bool found() const { return rank_ < count_; }

  private:
    // The place of the interface's usage among the asked ones; count_ when it is none of them.
    std::size_t Rank(NativeHandle query, InterfaceMatch* candidate) const {
        InterfaceAttributes attributes;
        if (!platform::QueryAttributes(query, &attributes) || attributes.vendorId != vendorId_) {
            return count_;
        }
        InterfaceCaps caps;
        if (!platform::QueryCaps(query, &caps) || caps.usagePage != usagePage_ ||
            !ReportsFitBuffers(caps)) {
            return count_;
        }
        candidate->attributes = attributes;
        candidate->caps = caps;
        // Zero-extended 16-bit values: an argument above 0xFFFF never matches.
        std::size_t rank = 0;
        while (rank < count_ && caps.usage != usages_[rank]) {
            ++rank;
        }
        return rank;
    }

    std::int32_t vendorId_;
    std::int32_t usagePage_;
    const std::int32_t* usages_;
    std::size_t count_;
    InterfaceMatch* match_;
    char* path_;
    std::uint32_t capacity_;
    std::size_t rank_;
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
    return FindFirstInterfaceOf(vendorId, usagePage, &usage, 1, match, path, capacity);
}

bool FindFirstInterfaceOf(std::int32_t vendorId, std::int32_t usagePage, const std::int32_t* usages,
                          std::size_t count, InterfaceMatch* match, char* path,
                          std::uint32_t capacity) {
    // The walk writes each interface's path here; the best one is kept in `path`. A path longer
    // than the seam's capacity never matches anyway.
    char walked[kPathCapacity];
    const std::uint32_t walkedCapacity = capacity < kPathCapacity ? capacity : kPathCapacity;
    FirstMatch search(vendorId, usagePage, usages, count, match, path, walkedCapacity);
    WalkInterfaces(search, walked, walkedCapacity);
    return search.found();
}

}  // namespace quen::hid
