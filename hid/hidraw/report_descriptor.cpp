#include "hid/hidraw/report_descriptor.h"

#include <algorithm>

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
    kReportSize = 0x7,
    kReportId = 0x8,
    kReportCount = 0x9,
    kPush = 0xA,
    kPop = 0xB,
};

constexpr std::uint8_t kUsageTag = 0x0;  // the one local item that matters here

// The kernel reads every prefix with tag 0xF as a long item (fetch_item, HID_ITEM_TAG_LONG),
// not only the 0xFE that the USB HID standard names.
constexpr std::uint8_t kLongItemTag = 0xF;

// Report types, as indexes of the per-type tables.
enum ReportType : std::size_t { kInputReport = 0, kOutputReport = 1, kFeatureReport = 2 };
constexpr std::size_t kReportTypes = 3;
constexpr std::size_t kReportIds = 256;

// Deeper than the kernel's own stack (4), so every descriptor the kernel takes is taken here.
constexpr std::size_t kGlobalStackDepth = 8;

// Report totals are kept in bits up to this cap: anything at or past it is longer than a 16-bit
// length can state, so the exact figure no longer matters and no sum can overflow.
constexpr std::uint32_t kBitCap = std::uint32_t{0x10000} * 8;

struct Item {
    bool isLong = false;  // a long item: no tag defined for one, so it is skipped
    std::uint8_t type = 0;
    std::uint8_t tag = 0;
    std::uint8_t dataSize = 0;
    std::uint32_t value = 0;  // the data bytes, little-endian, unsigned
};

// Walks the items of a descriptor, never reading past its end.
class ItemReader {
  public:
    ItemReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool AtEnd() const { return at_ == size_; }

    // Reads the next item; false when its data would run past the end.
    bool Next(Item* item) {
        const std::uint8_t prefix = data_[at_];
        if (prefix >> 4 == kLongItemTag) {
            // The prefix, bDataSize, bLongItemTag, then bDataSize bytes.
            if (size_ - at_ < 3 || size_ - at_ - 3 < data_[at_ + 1]) {
                return false;
            }
            item->isLong = true;
            at_ += 3 + std::size_t{data_[at_ + 1]};
            return true;
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
        item->isLong = false;
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

// The global items that decide report layout; Push and Pop save and restore all of it.
struct GlobalState {
    std::uint16_t usagePage = 0;
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::uint8_t reportId = 0;
};

std::uint16_t ByteLength(std::uint64_t bits) {
    if (bits == 0) {
        return 0;
    }
    const std::uint64_t bytes = (bits + 7) / 8 + 1;
    return static_cast<std::uint16_t>(std::min<std::uint64_t>(bytes, 0xFFFF));
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
            if (item.isLong) {
                continue;
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
                    Local(item);
                    break;
                default:
                    break;  // reserved: nothing defined, nothing to do
            }
            if (!ok) {
                return false;
            }
        }
        // A collection left open never ends its reports. Once a device numbers its reports,
        // every report starts with its ID, so data declared without one has no report to be in.
        return depth_ == 0 && !(out_->numbered && unnumberedData_);
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
        if (!usageSeen_) {
            return true;
        }
        if (laterPagesOverflow_) {
            return false;  // more usage pages than kept: cannot tell the kernel's page
        }
        TopLevelCollection& collection = out_->collections[out_->collectionCount];
        collection.usagePage = FirstUsagePage();
        collection.usage = usage_;
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
        const std::uint64_t bits = std::uint64_t{global_.reportSize} * global_.reportCount;
        const std::uint8_t id = global_.reportId;
        // An item of no bits declares no field, but the kernel still registers its report ID
        // (hid_add_field) and delivers that report: it belongs to this collection. Without an
        // ID it declares nothing.
        if (bits == 0 && id == 0) {
            return true;
        }
        if (id == 0) {
            unnumberedData_ = true;
        }
        // Windows ties each report ID to one top-level collection; a report the node delivers
        // must be attributable to exactly one interface.
        const auto collectionTag = static_cast<std::uint8_t>(out_->collectionCount + 1);
        if (reportOwner_[id] == 0) {
            reportOwner_[id] = collectionTag;
        } else if (reportOwner_[id] != collectionTag) {
            return false;
        }
        // An ID's totals are thus all in the open collection, whose length of each type (Windows'
        // longest report of that type, in whole bytes, plus the ID byte) grows with them.
        std::uint32_t& total = bits_[type][id];
        total = static_cast<std::uint32_t>(std::min<std::uint64_t>(total + bits, kBitCap));
        TopLevelCollection& collection = out_->collections[out_->collectionCount];
        std::uint16_t* const lengths[kReportTypes] = {&collection.inputReportByteLength,
                                                      &collection.outputReportByteLength,
                                                      &collection.featureReportByteLength};
        *lengths[type] = std::max(*lengths[type], ByteLength(total));
        if (type == kInputReport && id != 0) {
            collection.inputReportIds.Add(id);
        }
        return true;
    }

    bool Global(const Item& item) {
        switch (item.tag) {
            case kUsagePage:
                // A page is 16 bits; wider data keeps its low half, as the kernel does.
                global_.usagePage = static_cast<std::uint16_t>(item.value);
                return true;
            case kReportSize:
                global_.reportSize = item.value;
                return true;
            case kReportCount:
                global_.reportCount = item.value;
                return true;
            case kReportId:
                if (item.value == 0 || item.value >= kReportIds) {
                    return false;  // 0 is reserved; the ID travels in one byte
                }
                global_.reportId = static_cast<std::uint8_t>(item.value);
                out_->numbered = true;
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
            default:
                return true;  // logical/physical extents, units: no bearing on layout
        }
    }

    // Only the first usage before a collection matters: it names the collection. A usage with
    // four data bytes carries its page in the upper half. A shorter one takes the page in force
    // when it is read, and then, as the kernel does (hid_concatenate_last_usage_page, since 5.3),
    // the page in force at the main item, unless a later short usage was read on that page. So
    // the pages of the later short usages are kept too.
    void Local(const Item& item) {
        if (item.tag != kUsageTag) {
            return;
        }
        const bool extended = item.dataSize == 4;
        if (!usageSeen_) {
            usageSeen_ = true;
            usageExtended_ = extended;
            usagePage_ =
                extended ? static_cast<std::uint16_t>(item.value >> 16) : global_.usagePage;
            usage_ = static_cast<std::uint16_t>(item.value);
        } else if (!extended && !LaterUsageOnPage(global_.usagePage)) {
            if (laterPageCount_ == kLaterPagesKept) {
                laterPagesOverflow_ = true;
            } else {
                laterPages_[laterPageCount_++] = global_.usagePage;
            }
        }
    }

    bool LaterUsageOnPage(std::uint16_t page) const {
        return std::find(laterPages_, laterPages_ + laterPageCount_, page) !=
               laterPages_ + laterPageCount_;
    }

    // The page of the first usage as the kernel has it at the main item being read.
    std::uint16_t FirstUsagePage() const {
        const std::uint16_t page = global_.usagePage;
        return usageExtended_ || LaterUsageOnPage(page) ? usagePage_ : page;
    }

    void ForgetLocals() {
        usageSeen_ = false;
        laterPageCount_ = 0;
        laterPagesOverflow_ = false;
    }

    ReportDescriptorSummary* out_;
    GlobalState global_;
    GlobalState stack_[kGlobalStackDepth];
    std::size_t stackSize_ = 0;
    std::size_t depth_ = 0;  // collections open
    bool usageSeen_ = false;
    bool usageExtended_ = false;
    std::uint16_t usagePage_ = 0;  // the first usage's, when it was read
    std::uint16_t usage_ = 0;
    // The pages the later short usages were read on, distinct; more than any real descriptor
    // uses before one main item.
    static constexpr std::size_t kLaterPagesKept = 8;
    std::uint16_t laterPages_[kLaterPagesKept] = {};
    std::size_t laterPageCount_ = 0;
    bool laterPagesOverflow_ = false;
    bool unnumberedData_ = false;
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
