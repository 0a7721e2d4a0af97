// The report-descriptor parser: the collections and the Windows-style report lengths the hidraw
// platform lists as interfaces, and no collection at all from a descriptor that is malformed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "hid/hidraw/report_descriptor.h"
#include "support/report_descriptors.h"

namespace quen::test {
namespace {

using hid::hidraw::kMaxTopLevelCollections;
using hid::hidraw::ParseReportDescriptor;
using hid::hidraw::ReportDescriptorSummary;
using hid::hidraw::TopLevelCollection;
using Bytes = std::vector<std::uint8_t>;

bool Parse(const Bytes& descriptor, ReportDescriptorSummary* summary) {
    return ParseReportDescriptor(descriptor.data(), descriptor.size(), summary);
}

Bytes Concat(Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// Wraps `body` in an Application collection on the maker's page.
Bytes InCollection(const Bytes& body) {
    return Concat(Concat({0x06, 0x45, 0xFF, 0x0A, 0x00, 0x4A, 0xA1, 0x01}, body), {0xC0});
}

void ExpectCollection(const TopLevelCollection& c, std::uint16_t page, std::uint16_t usage,
                      std::uint16_t input, std::uint16_t output, std::uint16_t feature = 0) {
    EXPECT_EQ(c.usagePage, page);
    EXPECT_EQ(c.usage, usage);
    EXPECT_EQ(c.inputReportByteLength, input);
    EXPECT_EQ(c.outputReportByteLength, output);
    EXPECT_EQ(c.featureReportByteLength, feature);
}

TEST(ReportDescriptor, UnnumberedCollectionCountsTheZeroIdByteInEachLength) {
    ReportDescriptorSummary summary;
    ASSERT_TRUE(Parse(MakerScannerDescriptor(), &summary));
    EXPECT_FALSE(summary.numbered);
    ASSERT_EQ(summary.collectionCount, 1u);
    ExpectCollection(summary.collections[0], 0xFF45, 0x4A00, 65, 65);
    EXPECT_FALSE(summary.collections[0].HasInputReportId(0));
}

TEST(ReportDescriptor, NumberedCollectionsEachKeepTheirOwnReportsAndIds) {
    ReportDescriptorSummary summary;
    ASSERT_TRUE(Parse(ScannerAndScaleDescriptor(), &summary));
    EXPECT_TRUE(summary.numbered);
    ASSERT_EQ(summary.collectionCount, 2u);
    const TopLevelCollection& scanner = summary.collections[0];
    const TopLevelCollection& scale = summary.collections[1];
    ExpectCollection(scanner, 0xFF45, 0x4A00, 64, 32);
    ExpectCollection(scale, 0xFF45, 0x6E00, 8, 3);
    EXPECT_TRUE(scanner.HasInputReportId(1));
    EXPECT_FALSE(scanner.HasInputReportId(2));
    EXPECT_TRUE(scale.HasInputReportId(2));
    EXPECT_FALSE(scale.HasInputReportId(1));
}

TEST(ReportDescriptor, LengthIsTheLongestReportIdRoundedUpToWholeBytes) {
    // ID 3: 12 bits of input, then 5 more in a nested collection (17 bits: 3 bytes). ID 7: 2
    // bytes of input, and a feature of 1 bit. ID 9: output only, which sets no input ID.
    ReportDescriptorSummary summary;
    ASSERT_TRUE(Parse(InCollection({0x85, 0x03, 0x75, 0x04, 0x95, 0x03, 0x81, 0x02,  //
                                    0xA1, 0x02, 0x75, 0x05, 0x95, 0x01, 0x81, 0x02, 0xC0,
                                    0x85, 0x07, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02,  //
                                    0x75, 0x01, 0x95, 0x01, 0xB1, 0x02,              //
                                    0x85, 0x09, 0x91, 0x02}),
                      &summary));
    ASSERT_EQ(summary.collectionCount, 1u);
    ExpectCollection(summary.collections[0], 0xFF45, 0x4A00, 4, 2, 2);
    EXPECT_TRUE(summary.collections[0].HasInputReportId(3));
    EXPECT_TRUE(summary.collections[0].HasInputReportId(7));
    EXPECT_FALSE(summary.collections[0].HasInputReportId(9));
}

TEST(ReportDescriptor, BootKeyboardAndMouseOfTheHidAppendix) {
    ReportDescriptorSummary summary;
    ASSERT_TRUE(Parse(BootKeyboardDescriptor(), &summary));
    ASSERT_EQ(summary.collectionCount, 1u);
    ExpectCollection(summary.collections[0], 0x01, 0x06, 9, 2);

    // The nested Physical collection belongs to the mouse's Application collection.
    ASSERT_TRUE(Parse(BootMouseDescriptor(), &summary));
    ASSERT_EQ(summary.collectionCount, 1u);
    ExpectCollection(summary.collections[0], 0x01, 0x02, 4, 0);
}

TEST(ReportDescriptor, UsagePagesLongItemsAndPushPop) {
    ReportDescriptorSummary summary;
    // A four-byte usage names its own page; a shorter one takes the page in force.
    ASSERT_TRUE(Parse({0x05, 0x01, 0x0B, 0x00, 0x6E, 0x45, 0xFF, 0xA1, 0x01, 0xC0,  //
                       0x09, 0x06, 0xA1, 0x01, 0xC0},
                      &summary));
    ASSERT_EQ(summary.collectionCount, 2u);
    ExpectCollection(summary.collections[0], 0xFF45, 0x6E00, 0, 0);
    ExpectCollection(summary.collections[1], 0x0001, 0x0006, 0, 0);

    // A long item anywhere, even one that only hides bytes, makes the kernel refuse the device.
    const Bytes scanner = MakerScannerDescriptor();
    const Bytes scannerOpen(scanner.begin(), scanner.end() - 1);
    EXPECT_FALSE(
        Parse(Concat(Concat({0xFE, 0x02, 0x10, 0xA1, 0xC0}, scannerOpen), {0xC0}), &summary));
    EXPECT_FALSE(Parse(Concat(scanner, {0xF0, 0x00}), &summary));

    // Pop restores size, count and report ID: ID 1 gets 4 + 4 bytes, ID 2 just 2.
    ASSERT_TRUE(Parse(InCollection({0x85, 0x01, 0x75, 0x08, 0x95, 0x04, 0xA4, 0x85, 0x02, 0x95,
                                    0x02, 0x81, 0x02, 0xB4, 0x81, 0x02, 0x81, 0x02}),
                      &summary));
    ExpectCollection(summary.collections[0], 0xFF45, 0x4A00, 9, 0);
    EXPECT_TRUE(summary.collections[0].HasInputReportId(2));
}

// Where the kernel's reading and the USB HID standard's letter differ, the kernel's: it decides
// which reports a node delivers.
TEST(ReportDescriptor, ReadsTheDescriptorAsTheKernelDoes) {
    ReportDescriptorSummary summary;
    // A usage given before its page takes the page in force at the main item...
    ASSERT_TRUE(Parse({0x0A, 0x00, 0x4A, 0x06, 0x45, 0xFF, 0xA1, 0x01, 0xC0}, &summary));
    ExpectCollection(summary.collections[0], 0xFF45, 0x4A00, 0, 0);
    // ... unless a later usage was read on that page: then it keeps its own.
    ASSERT_TRUE(Parse({0x09, 0x06, 0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0xC0}, &summary));
    ExpectCollection(summary.collections[0], 0x0000, 0x0006, 0, 0);

    // Many pages among the usages before a collection: the first usage still takes the page in
    // force at the Collection item.
    Bytes busy = {0x0A, 0x00, 0x4A};
    for (std::uint8_t page = 0; page < 12; ++page) {
        busy = Concat(busy, {0x06, page, 0xFF, 0x09, 0x01});
    }
    ASSERT_TRUE(Parse(Concat(busy, {0x06, 0x45, 0xFF, 0xA1, 0x01, 0xC0}), &summary));
    ExpectCollection(summary.collections[0], 0xFF45, 0x4A00, 0, 0);

    // Usage Minimum names the collection as a first usage does; of two delimiter sets, the first.
    ASSERT_TRUE(Parse(
        {0x05, 0x01, 0x19, 0x06, 0x29, 0x07, 0xA1, 0x01, 0xC0,  //
         0xA9, 0x01, 0x09, 0x02, 0xA9, 0x00, 0xA9, 0x01, 0x09, 0x06, 0xA9, 0x00, 0xA1, 0x01, 0xC0},
        &summary));
    ExpectCollection(summary.collections[0], 0x01, 0x06, 0, 0);
    ExpectCollection(summary.collections[1], 0x01, 0x02, 0, 0);

    // An item of no bits still declares its report ID: that report is delivered; so is report 0
    // on a device that numbers its other reports.
    ASSERT_TRUE(Parse(InCollection({0x85, 0x03, 0x81, 0x02}), &summary));
    EXPECT_TRUE(summary.collections[0].HasInputReportId(3));
    ASSERT_TRUE(Parse(InCollection({0x81, 0x02, 0x85, 0x01, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02}),
                      &summary));
    EXPECT_TRUE(summary.numbered);
    EXPECT_TRUE(summary.collections[0].HasInputReportId(0));
    EXPECT_TRUE(summary.collections[0].HasInputReportId(1));
}

// A cut before the first collection leaves items that describe nothing yet (valid, empty); a cut
// inside a collection leaves it open. Only a cut between collections keeps the complete ones.
TEST(ReportDescriptor, TruncatedDescriptorsNeverYieldAPartOfACollection) {
    for (const Bytes& whole :
         {MakerScannerDescriptor(), BootKeyboardDescriptor(), BootMouseDescriptor()}) {
        const auto firstCollection =
            static_cast<std::size_t>(std::find(whole.begin(), whole.end(), 0xA1) - whole.begin());
        for (std::size_t size = 1; size < whole.size(); ++size) {
            ReportDescriptorSummary summary;
            const bool valid = ParseReportDescriptor(whole.data(), size, &summary);
            EXPECT_TRUE(!valid || size <= firstCollection) << "cut at " << size;
            EXPECT_EQ(summary.collectionCount, 0u) << "cut at " << size;
        }
    }
    const Bytes two = ScannerAndScaleDescriptor();
    const auto firstEnd =
        static_cast<std::size_t>(std::find(two.begin(), two.end(), 0xC0) - two.begin());
    ReportDescriptorSummary summary;
    ASSERT_TRUE(ParseReportDescriptor(two.data(), firstEnd + 1, &summary));
    ASSERT_EQ(summary.collectionCount, 1u);
    ExpectCollection(summary.collections[0], 0xFF45, 0x4A00, 64, 32);
    EXPECT_FALSE(ParseReportDescriptor(two.data(), two.size() - 1, &summary));
}

TEST(ReportDescriptor, MalformedDescriptorsYieldNoCollection) {
    Bytes tooManyCollections;
    for (std::size_t i = 0; i <= kMaxTopLevelCollections; ++i) {
        tooManyCollections = Concat(tooManyCollections, {0x09, 0x01, 0xA1, 0x01, 0xC0});
    }
    const Bytes malformed[] = {
        {0x75, 0x08, 0x95, 0x01, 0x81, 0x02},                // data outside every collection
        {0xC0},                                              // End Collection with none open
        {0xA1, 0x01, 0xA1, 0x00, 0xC0},                      // a collection left open
        InCollection({0xB4}),                                // pop on an empty stack
        InCollection(Bytes(5, 0xA4)),                        // push past the kernel's stack of 4
        InCollection({0xC5, 0x00}),                          // global tag 0xC
        InCollection({0x76, 0x01, 0x01}),                    // report size 257
        InCollection({0x96, 0x01, 0x30}),                    // report count 12289
        InCollection({0x15, 0x01, 0x25, 0x00, 0x81, 0x02}),  // logical maximum below minimum
        InCollection({0xA9, 0x01, 0xA9, 0x01}),              // nested delimiters
        Concat(MakerScannerDescriptor(), {0xA9, 0x01}),      // a delimiter left open
        InCollection({0x19, 0x00, 0x2A, 0xFF, 0xFF, 0x09, 0x01, 0xB1, 0x02}),  // 12289 usages
        InCollection({0xF0, 0x00}),                                            // a long item
        InCollection({0x85, 0x00}),                                            // report ID 0
        InCollection({0x86, 0x00, 0x01}),                                      // report ID 256
        InCollection({0x27, 0xFF, 0xFF}),        // data running past the end
        InCollection({0xFE, 0x05, 0x00, 0x01}),  // long item running past the end
        Concat(InCollection({0x85, 0x01, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02}),  // ID 1 in two
               InCollection({0x81, 0x02})),                                     // collections
        Concat(MakerScannerDescriptor(), MakerScannerDescriptor()),  // so also unnumbered data
        tooManyCollections,
    };
    for (const Bytes& descriptor : malformed) {
        ReportDescriptorSummary summary;
        ASSERT_TRUE(Parse(ScannerAndScaleDescriptor(), &summary));
        EXPECT_FALSE(Parse(descriptor, &summary)) << ::testing::PrintToString(descriptor);
        EXPECT_EQ(summary.collectionCount, 0u);
        EXPECT_FALSE(summary.numbered);
    }
}

TEST(ReportDescriptor, ExtremeButWellFormedDescriptorsStayInBounds) {
    ReportDescriptorSummary summary;
    EXPECT_TRUE(ParseReportDescriptor(nullptr, 0, &summary));
    EXPECT_EQ(summary.collectionCount, 0u);

    // The longest report usbhid takes: 16383 bytes (16384 with its ID byte); one bit more is
    // refused.
    const Bytes longest = {0x76, 0x00, 0x01, 0x96, 0xFF, 0x01, 0x81, 0x02,  // 256 x 511 bits
                           0x75, 0x08, 0x95, 0x1F, 0x81, 0x02};             // 8 x 31 bits
    ASSERT_TRUE(Parse(InCollection(longest), &summary));
    ExpectCollection(summary.collections[0], 0xFF45, 0x4A00, 16384, 0, 0);
    EXPECT_FALSE(
        Parse(InCollection(Concat(longest, {0x75, 0x01, 0x95, 0x01, 0x81, 0x02})), &summary));

    // Collections nested 2000 deep (Collection items with no data byte) are one collection.
    ASSERT_TRUE(
        Parse(Concat(Concat({0x09, 0x01}, Bytes(2000, 0xA0)), Bytes(2000, 0xC0)), &summary));
    EXPECT_EQ(summary.collectionCount, 1u);
}

}  // namespace
}  // namespace quen::test
