#include "hid/hidraw/report_descriptor.h"

#include <algorithm>
#include <cstring>

namespace quen::hid::hidraw {
namespace {

// Item types and the tags that matter here (HID 1.11, 6.2.2.4 to 6.2.2.8).
enum ItemType : std::uint8_t { kMain = 0, kGlobal = 1, kLocal = 2, kReserved = 3 };

enum MainTag : std::uint8_t {
    kInput = 0x8,
    kOutput = 0x9,
    kCollection = 0xA,
    kFeature = 0xB,
    kEndCollection = 0xC,
};

enum GlobalTag : std::uint8_t {
    kUsagePage = 0x0,
    kLogicalMinimum = 0x1,
    kLogicalMaximum = 0x2,
    kReportSize = 0x7,
    kReportId = 0x8,
    kReportCount = 0x9,
    kPush = 0xA,
    kPop = 0xB,
};

enum LocalTag : std::uint8_t {
    kUsage = 0x0,
    kUsageMinimum = 0x1,
    kUsageMaximum = 0x2,
    kDelimiter = 0xA,
};

// The kernel reads every prefix with tag 0xF as a long item (fetch_item, HID_ITEM_TAG_LONG), not
// only the 0xFE that the USB HID standard names, and refuses a descriptor that has one.
constexpr std::uint8_t kLongItemTag = 0xF;

// Report types, as indexes of the per-type tables.
enum ReportType : std::size_t { kInputReport = 0, kOutputReport = 1, kFeatureReport = 2 };
constexpr std::size_t kReportTypes = 3;
constexpr std::size_t kReportIds = 256;

// The kernel's limits (include/linux/hid.h, hid-core.c): past them it refuses the descriptor.
constexpr std::size_t kGlobalStackDepth = 4;  // HID_GLOBAL_STACK_SIZE
constexpr std::uint32_t kMaxReportSize = 256;
constexpr std::uint32_t kMaxUsages = 12288;  // HID_MAX_USAGES: report count and usage list
// A report of more bits does not fit usbhid's buffer (HID_MAX_BUFFER_SIZE, 16384 bytes) with
// its ID byte. uhid's buffer is 4096 bytes; USB devices are what the platform meets.
constexpr std::uint32_t kMaxReportBits = (16384 - 1) * 8;

struct Item {
    std::uint8_t type = 0;
    std::uint8_t tag = 0;
    std::uint8_t dataSize = 0;
    std::uint32_t value = 0;  // the data bytes, little-endian, unsigned
};

// The data as the kernel's item_sdata reads it: sign-extended from its own width.
std::int32_t SignedValue(const Item& item) {
    switch (item.dataSize) {
        case 1:
            return static_cast<std::int8_t>(item.value);
        case 2:
            return static_cast<std::int16_t>(item.value);
        case 4:
            return static_cast<std::int32_t>(item.value);
        default:
            return 0;
    }
}

// Walks the short items of a descriptor, never reading past its end.
class ItemReader {
  public:
    ItemReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool AtEnd() const { return at_ == size_; }

    // Reads the next item; false for a long item and for data that would run past the end.
    bool Next(Item* item) {
        const std::uint8_t prefix = data_[at_];
        if (prefix >> 4 == kLongItemTag) {
            return false;
        }
        static constexpr std::uint8_t kDataSizes[4] = {0, 1, 2, 4};
        const std::uint8_t dataSize = kDataSizes[prefix & 0x3];
        if (size_ - at_ - 1 < dataSize) {
            return false;
        }
        std::uint32_t value = 0;
        for (std::uint8_t i = 0; i < dataSize; ++i) {
            value |= std::uint32_t{data_[at_ + 1 + i]} << (8 * i);
        }
        item->type = static_cast<std::uint8_t>((prefix >> 2) & 0x3);
        item->tag = static_cast<std::uint8_t>(prefix >> 4);
        item->dataSize = dataSize;
        item->value = value;
        at_ += 1 + std::size_t{dataSize};
        return true;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// The global items that decide report layout and naming; Push and Pop save and restore all of it.
struct GlobalState {
    std::uint32_t usagePage = 0;  // all 32 bits: the kernel compares them whole
    std::int32_t logicalMinimum = 0;
    std::int32_t logicalMaximum = 0;
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::uint8_t reportId = 0;
};

// What the kernel keeps of the local items until the next main item, as far as naming a
// collection needs it: how many usages there are, the first, and on which pages short ones were
// read (one bit per page).
struct LocalState {
    std::uint32_t usageCount = 0;
    std::uint32_t firstUsage = 0;  // page in the upper half
    bool firstExtended = false;    // given with its own page (four data bytes)
    std::uint32_t usageMinimum = 0;
    unsigned delimiterDepth = 0;
    unsigned delimiterSet = 0;  // delimiter sets opened: usages after the first set are ignored
};

std::uint16_t ByteLength(std::uint32_t bits) {
    return bits == 0 ? 0 : static_cast<std::uint16_t>((bits + 7) / 8 + 1);
}

class Parser {
  public:
    explicit Parser(ReportDescriptorSummary* out) : out_(out) {}

    bool Parse(const std::uint8_t* data, std::size_t size) {
        ItemReader reader(data, size);
        while (!reader.AtEnd()) {
            Item item;
            if (!reader.Next(&item)) {
                return false;
            }
            bool ok = true;
            switch (item.type) {
                case kMain:
                    ok = Main(item);
                    ForgetLocals();  // local items last until the next main item
                    break;
                case kGlobal:
                    ok = Global(item);
                    break;
                case kLocal:
                    ok = Local(item);
                    break;
                default:
                    break;  // reserved: nothing defined, nothing to do
            }
            if (!ok) {
                return false;
            }
        }
        // A collection left open never ends its reports; a delimiter left open, the kernel
        // refuses too.
        if (depth_ != 0 || local_.delimiterDepth != 0) {
            return false;
        }
        // Without numbered input reports every input report is one, and a channel takes them all.
        if (!out_->numbered) {
            for (std::size_t i = 0; i < out_->collectionCount; ++i) {
                out_->collections[i].inputReportIds = ReportIdSet{};
            }
        }
        return true;
    }

  private:
    bool Main(const Item& item) {
        switch (item.tag) {
            case kCollection:
                return BeginCollection();
            case kEndCollection:
                return EndCollection();
            case kInput:
                return AddData(kInputReport);
            case kOutput:
                return AddData(kOutputReport);
            case kFeature:
                return AddData(kFeatureReport);
            default:
                return true;  // reserved tag
        }
    }

    // Windows makes every collection that is not nested a top-level collection of its own,
    // whatever its type (Application, Physical, Logical ...), and gives each its own handle;
    // so does this parser. Well-made devices use Application collections there.
    bool BeginCollection() {
        if (depth_++ > 0) {
            return true;  // nested: part of the current top-level collection
        }
        if (out_->collectionCount == kMaxTopLevelCollections) {
            return false;
        }
        const std::uint32_t usage = FirstUsage();
        TopLevelCollection& collection = out_->collections[out_->collectionCount];
        collection.usagePage = static_cast<std::uint16_t>(usage >> 16);
        collection.usage = static_cast<std::uint16_t>(usage);
        return true;
    }

    bool EndCollection() {
        if (depth_ == 0) {
            return false;
        }
        if (--depth_ == 0) {
            ++out_->collectionCount;
        }
        return true;
    }

    bool AddData(ReportType type) {
        if (depth_ == 0) {
            return false;  // data that belongs to no collection
        }
        // The kernel checks the range at every data item, padding included (hid_add_field).
        const std::int32_t min = global_.logicalMinimum;
        const std::int32_t max = global_.logicalMaximum;
        if (min < 0 ? max < min
                    : static_cast<std::uint32_t>(max) < static_cast<std::uint32_t>(min)) {
            return false;
        }
        const std::uint8_t id = global_.reportId;
        // Windows ties each report ID to one top-level collection; a report the node delivers
        // must be attributable to exactly one interface.
        const auto collectionTag = static_cast<std::uint8_t>(out_->collectionCount + 1);
        if (reportOwner_[id] == 0) {
            reportOwner_[id] = collectionTag;
        } else if (reportOwner_[id] != collectionTag) {
            return false;
        }
        // Size and count are at most 256 and 12288, so one item adds at most 2^22 bits, and the
        // total stays far from overflowing before it passes the limit.
        std::uint32_t& total = bits_[type][id];
        total += global_.reportSize * global_.reportCount;
        if (total > kMaxReportBits) {
            return false;
        }
        // An ID's totals are thus all in the open collection, whose length of each type (Windows'
        // longest report of that type, in whole bytes, plus the ID byte) grows with them.
        TopLevelCollection& collection = out_->collections[out_->collectionCount];
        std::uint16_t* const lengths[kReportTypes] = {&collection.inputReportByteLength,
                                                      &collection.outputReportByteLength,
                                                      &collection.featureReportByteLength};
        *lengths[type] = std::max(*lengths[type], ByteLength(total));
        // Every input item declares its report, also one of no bits (the kernel registers the
        // report in hid_add_field before it looks at the size) and one without an ID: on a
        // device that numbers its input reports that one arrives as ID 0.
        if (type == kInputReport) {
            collection.inputReportIds.Add(id);
            out_->numbered = out_->numbered || id != 0;
        }
        return true;
    }

    bool Global(const Item& item) {
        switch (item.tag) {
            case kUsagePage:
                global_.usagePage = item.value;
                return true;
            case kLogicalMinimum:
                global_.logicalMinimum = SignedValue(item);
                return true;
            case kLogicalMaximum:
                // Read as signed only when the minimum is negative, as the kernel does.
                global_.logicalMaximum = global_.logicalMinimum < 0
                                             ? SignedValue(item)
                                             : static_cast<std::int32_t>(item.value);
                return true;
            case kReportSize:
                global_.reportSize = item.value;
                return item.value <= kMaxReportSize;
            case kReportCount:
                global_.reportCount = item.value;
                return item.value <= kMaxUsages;
            case kReportId:
                if (item.value == 0 || item.value >= kReportIds) {
                    return false;  // 0 is reserved; the ID travels in one byte
                }
                global_.reportId = static_cast<std::uint8_t>(item.value);
                return true;
            case kPush:
                if (stackSize_ == kGlobalStackDepth) {
                    return false;
                }
                stack_[stackSize_++] = global_;
                return true;
            case kPop:
                if (stackSize_ == 0) {
                    return false;
                }
                global_ = stack_[--stackSize_];
                return true;
            case 0xC:
            case 0xD:
            case 0xE:
                return false;  // no such global item: the kernel refuses it
            default:
                return true;  // physical extents, units: no bearing on layout or naming
        }
    }

    bool Local(const Item& item) {
        switch (item.tag) {
            case kDelimiter:
                if (item.value != 0) {
                    if (local_.delimiterDepth != 0) {
                        return false;  // nested
                    }
                    ++local_.delimiterDepth;
                    ++local_.delimiterSet;
                } else if (local_.delimiterDepth == 0) {
                    return false;  // a close with none open
                } else {
                    --local_.delimiterDepth;
                }
                return true;
            case kUsage:
                return AlternateUsage() || AddUsages(item.value, 1, item.dataSize);
            case kUsageMinimum:
                if (!AlternateUsage()) {
                    local_.usageMinimum = item.value;
                }
                return true;
            case kUsageMaximum:
                return AlternateUsage() || AddUsageRange(item.value, item.dataSize);
            default:
                return true;  // designators, strings
        }
    }

    // The kernel keeps the usages of the first delimiter set and ignores those of later ones.
    bool AlternateUsage() const { return local_.delimiterSet > 1; }

    // Usage Maximum adds every usage from the minimum up, as the kernel does, in its 32-bit
    // arithmetic: a range that would pass the usage list's end is cut to fit it (and one that
    // then ends at 0 is refused); one that ends at 0xFFFFFFFF never ends and overruns the list.
    bool AddUsageRange(std::uint32_t maximum, std::uint8_t dataSize) {
        const std::uint32_t minimum = local_.usageMinimum;
        std::uint32_t last = maximum;
        if ((last - minimum) + local_.usageCount >= kMaxUsages) {
            last = kMaxUsages - local_.usageCount + minimum - 1;
            if (last == 0) {
                return false;
            }
        }
        if (minimum > last) {
            return true;  // an empty range
        }
        if (last == 0xFFFFFFFF) {
            return false;
        }
        return AddUsages(minimum, std::uint64_t{last} - minimum + 1, dataSize);
    }

    // Adds `count` usages from `first` on. A usage of up to two data bytes takes the page in
    // force now (hid_add_usage), which may change again at the main item (FirstUsage).
    bool AddUsages(std::uint32_t first, std::uint64_t count, std::uint8_t dataSize) {
        if (count > kMaxUsages - local_.usageCount) {
            return false;
        }
        const bool extended = dataSize > 2;
        if (!extended) {
            const std::uint16_t page = static_cast<std::uint16_t>(global_.usagePage);
            first = (first & 0xFFFF) | (std::uint32_t{page} << 16);
            shortUsagePages_[page / 64] |= std::uint64_t{1} << (page % 64);
            shortUsagePagesMarked_ = true;
        }
        if (local_.usageCount == 0) {
            local_.firstUsage = first;
            local_.firstExtended = extended;
        }
        local_.usageCount += static_cast<std::uint32_t>(count);
        return true;
    }

    // The first usage as the kernel has it at the main item being read (0 without one): there
    // it gives every short usage the page in force, walking back from the last one, until it
    // meets one already on that page (hid_concatenate_last_usage_page). So the first usage
    // keeps the page it was read on only when some short usage was read on the final page.
    std::uint32_t FirstUsage() const {
        if (local_.usageCount == 0 || local_.firstExtended) {
            return local_.firstUsage;
        }
        const std::uint32_t page = global_.usagePage;
        const bool readOnPage =
            page <= 0xFFFF && (shortUsagePages_[page / 64] >> (page % 64) & 1) != 0;
        return readOnPage ? local_.firstUsage
                          : (local_.firstUsage & 0xFFFF) | (page & 0xFFFF) << 16;
    }

    void ForgetLocals() {
        local_ = LocalState{};
        if (shortUsagePagesMarked_) {
            std::memset(shortUsagePages_, 0, sizeof shortUsagePages_);
            shortUsagePagesMarked_ = false;
        }
    }

    ReportDescriptorSummary* out_;
    GlobalState global_;
    GlobalState stack_[kGlobalStackDepth];
    std::size_t stackSize_ = 0;
    std::size_t depth_ = 0;  // collections open
    LocalState local_;
    std::uint64_t shortUsagePages_[0x10000 / 64] = {};
    bool shortUsagePagesMarked_ = false;
    // Which top-level collection (1-based) holds each report ID's data; 0: none yet.
    std::uint8_t reportOwner_[kReportIds] = {};
    // Each report's total in bits, per report type and ID.
    std::uint32_t bits_[kReportTypes][kReportIds] = {};
};

}  // namespace

bool ParseReportDescriptor(const std::uint8_t* data, std::size_t size,
                           ReportDescriptorSummary* out) {
    if (out == nullptr) {
        return false;
    }
    *out = ReportDescriptorSummary{};
    if (data == nullptr && size != 0) {
        return false;
    }
    Parser parser(out);
    if (!parser.Parse(data, size)) {
        *out = ReportDescriptorSummary{};
        return false;
    }
    return true;
}

}  // namespace quen::hid::hidraw
