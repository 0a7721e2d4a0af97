// The report-descriptor parser against the kernel itself: descriptors from the fuzz corpus and
// from a seeded generator (descriptor_generator.h) are each presented to the VM's kernel as a
// uhid device, and what the kernel makes of them (kernel_hid_reading.h) is compared with what the
// parser says of every top-level collection: whether there is any, usage page and usage, input
// report IDs, input, output and feature lengths counted the Windows way.
//
// What the kernel shows of a report decides how exactly it is compared: input reports exactly
// (the node delivers no shorter one); output and feature reports from below, since debugfs
// shows no field without usages, so a report ending in padding looks shorter there.
//
// Usage: descriptor_differential_test [--descriptors=N] [--seed=S] [--corpus=FOLDER]
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "hid/hidraw/report_descriptor.h"
#include "kernel/descriptor_generator.h"
#include "kernel/hex_bytes.h"
#include "kernel/kernel_hid_reading.h"

namespace quen::test {
namespace {

using hid::hidraw::ParseReportDescriptor;
using hid::hidraw::ReportDescriptorSummary;
using hid::hidraw::TopLevelCollection;

struct Settings {
    unsigned descriptors = 1000;
    std::uint64_t seed = 20261208;
    std::string corpus = "/test/descriptor_fuzz";
} settings;

// A usage as debugfs names it (hid_resolv_usage): the page's name or hex, a dot, the usage's name
// or hex; "" for usage 0, which debugfs does not show. The kernel's names of every page, and of
// the usages the generator names collections with.
std::string KernelName(std::uint16_t page, std::uint16_t usage) {
    if (page == 0 && usage == 0) {
        return "";
    }
    static const std::map<unsigned, const char*> kPages = {{0x00, "Undefined"},
                                                           {0x01, "GenericDesktop"},
                                                           {0x02, "Simulation"},
                                                           {0x06, "GenericDeviceControls"},
                                                           {0x07, "Keyboard"},
                                                           {0x08, "LED"},
                                                           {0x09, "Button"},
                                                           {0x0A, "Ordinal"},
                                                           {0x0C, "Consumer"},
                                                           {0x0D, "Digitizers"},
                                                           {0x0F, "PhysicalInterfaceDevice"},
                                                           {0x20, "Sensor"},
                                                           {0x84, "Power Device"},
                                                           {0x85, "Battery System"},
                                                           {0xFFFF, "Vendor-specific-FF"}};
    static const std::map<unsigned, const char*> kUsages = {
        {0x10001, "Pointer"},   {0x10002, "Mouse"},
        {0x10004, "Joystick"},  {0x10005, "GamePad"},
        {0x10006, "Keyboard"},  {0x10007, "Keypad"},
        {0x10008, "MultiAxis"}, {0xC0003, "ProgrammableButtons"}};
    char hex[8];
    const auto pageName = kPages.find(page);
    std::snprintf(hex, sizeof hex, "%04x", page);
    std::string name = pageName == kPages.end() ? hex : pageName->second;
    const auto usageName = kUsages.find(std::uint32_t{page} << 16 | usage);
    std::snprintf(hex, sizeof hex, "%04x", usage);
    return name + "." + (usageName == kUsages.end() ? hex : usageName->second);
}

std::string NameOf(const TopLevelCollection& c) {
    return KernelName(c.usagePage, c.usage);
}

std::uint16_t LengthOf(const TopLevelCollection& c, ReportKind kind) {
    return kind == ReportKind::Input    ? c.inputReportByteLength
           : kind == ReportKind::Output ? c.outputReportByteLength
                                        : c.featureReportByteLength;
}

// The Windows-style length of a report of `bytes` data bytes.
std::uint16_t WithIdByte(std::uint32_t bytes) {
    return static_cast<std::uint16_t>(bytes == 0 ? 0 : bytes + 1);
}

struct Verdict {
    std::vector<std::string> disagreements;
    const char* explained = nullptr;  // a difference kept on purpose
};

// Compares the input reports: each belongs to one collection of the parser, whose name the
// kernel gives its fields, and each collection's length is its longest input report's.
void CompareInput(const ReportDescriptorSummary& ours, const std::vector<KernelReport>& reports,
                  Verdict* verdict) {
    const auto disagree = [&](const std::string& what) { verdict->disagreements.push_back(what); };
    std::vector<std::uint16_t> longest(ours.collectionCount, 0);
    std::vector<bool> mayBeEmpty(ours.collectionCount, false);
    for (const KernelReport& report : reports) {
        if (report.kind != ReportKind::Input) {
            continue;
        }
        const std::uint16_t length = WithIdByte(report.deliveredBytes);
        std::vector<std::size_t> owners;
        for (std::size_t c = 0; c < ours.collectionCount; ++c) {
            const TopLevelCollection& collection = ours.collections[c];
            if (ours.numbered ? collection.HasInputReportId(static_cast<std::uint8_t>(report.id))
                              : collection.inputReportByteLength != 0) {
                owners.push_back(c);
            }
        }
        const std::string id = "input report " + std::to_string(report.id);
        if (owners.empty() && !(report.mayBeEmpty && !ours.numbered)) {
            disagree(id + " (" + std::to_string(length) + " bytes) belongs to no collection");
        } else if (owners.size() > 1) {
            disagree(id + " belongs to " + std::to_string(owners.size()) + " collections");
        }
        if (owners.size() != 1) {
            continue;
        }
        longest[owners[0]] = std::max(longest[owners[0]], length);
        mayBeEmpty[owners[0]] = report.mayBeEmpty;
        for (const std::string& application : report.applications) {
            if (application != NameOf(ours.collections[owners[0]])) {
                disagree(id + ": the kernel names its collection '" + application +
                         "', the parser '" + NameOf(ours.collections[owners[0]]) + "'");
            }
        }
    }
    for (std::size_t c = 0; c < ours.collectionCount; ++c) {
        const std::uint16_t length = ours.collections[c].inputReportByteLength;
        if (length != longest[c] && !(mayBeEmpty[c] && length == 0)) {
            disagree("collection " + std::to_string(c + 1) + ": input length " +
                     std::to_string(length) + ", the node delivers reports from " +
                     std::to_string(longest[c]));
        }
        for (unsigned id = 0; ours.numbered && id < 256; ++id) {
            if (ours.collections[c].HasInputReportId(static_cast<std::uint8_t>(id)) &&
                std::none_of(reports.begin(), reports.end(), [&](const KernelReport& r) {
                    return r.kind == ReportKind::Input && r.id == id;
                })) {
                disagree("collection " + std::to_string(c + 1) + " expects input report " +
                         std::to_string(id) + ", which the kernel does not have");
            }
        }
    }
}

// Output and feature reports: the kernel's application must be a collection of the parser that
// is at least as long as the fields debugfs shows.
void CompareOthers(const ReportDescriptorSummary& ours, const std::vector<KernelReport>& reports,
                   Verdict* verdict) {
    for (const KernelReport& report : reports) {
        for (const std::string& application : report.applications) {
            bool named = false;
            bool longEnough = false;
            for (std::size_t c = 0; c < ours.collectionCount; ++c) {
                if (NameOf(ours.collections[c]) == application) {
                    named = true;
                    longEnough = longEnough || LengthOf(ours.collections[c], report.kind) >=
                                                   WithIdByte((report.shownBits + 7) / 8);
                }
            }
            if (!named || (report.kind != ReportKind::Input && !longEnough)) {
                verdict->disagreements.push_back(
                    "report " + std::to_string(report.id) + " of kind " +
                    std::to_string(static_cast<int>(report.kind)) + " in '" + application + "' (" +
                    std::to_string(report.shownBits) + " bits shown): " +
                    (named ? "the parser's collection is shorter" : "no such collection"));
            }
        }
    }
}

std::uint16_t LongestReport(const ReportDescriptorSummary& ours) {
    std::uint16_t longest = 0;
    for (std::size_t c = 0; c < ours.collectionCount; ++c) {
        for (const ReportKind kind : {ReportKind::Input, ReportKind::Output, ReportKind::Feature}) {
            longest = std::max(longest, LengthOf(ours.collections[c], kind));
        }
    }
    return longest;
}

Verdict Compare(const std::vector<std::uint8_t>& descriptor, const KernelReading& kernel,
                const char* refusedOnPurpose) {
    ReportDescriptorSummary ours;
    const bool accepted = ParseReportDescriptor(descriptor.data(), descriptor.size(), &ours);
    Verdict verdict;
    const bool listsNone = !accepted || ours.collectionCount == 0;
    if (!kernel.failure.empty()) {
        verdict.disagreements.push_back("reading the kernel failed: " + kernel.failure);
    } else if (!kernel.created) {
        // No transport hands the kernel such a descriptor (HID_MAX_DESCRIPTOR_SIZE).
        if (!listsNone) {
            verdict.explained = "empty or longer than 4096 bytes: no kernel takes it";
        }
    } else if (!kernel.bound) {
        // uhid's buffer holds 4096 bytes, usbhid's 16384: the parser takes what usbhid takes.
        const std::uint16_t longest = listsNone ? 0 : LongestReport(ours);
        if (longest > 4096 && longest <= 16384) {
            verdict.explained = "a report longer than uhid's 4096 bytes (usbhid takes 16384)";
        } else if (!listsNone) {
            verdict.disagreements.push_back("the kernel refuses it; the parser lists " +
                                            std::to_string(ours.collectionCount) + " collections");
        }
    } else if (!accepted) {
        if (refusedOnPurpose != nullptr) {
            verdict.explained = refusedOnPurpose;
        } else {
            verdict.disagreements.push_back("the kernel binds it; the parser refuses it");
        }
    } else {
        const bool kernelNumbered = std::any_of(
            kernel.reports.begin(), kernel.reports.end(),
            [](const KernelReport& r) { return r.kind == ReportKind::Input && r.id != 0; });
        if (kernelNumbered != ours.numbered) {
            verdict.disagreements.push_back(std::string("input reports numbered: kernel ") +
                                            (kernelNumbered ? "yes" : "no") + ", parser " +
                                            (ours.numbered ? "yes" : "no"));
        }
        CompareInput(ours, kernel.reports, &verdict);
        CompareOthers(ours, kernel.reports, &verdict);
    }
    return verdict;
}

// Runs a set of descriptors through both and fails with every disagreement.
class Differential {
  public:
    void Check(const std::string& label, const std::vector<std::uint8_t>& descriptor,
               const char* refusedOnPurpose = nullptr) {
        const KernelReading kernel = ReadWithKernel(descriptor);
        const Verdict verdict = Compare(descriptor, kernel, refusedOnPurpose);
        ++checked_;
        bound_ += kernel.bound ? 1 : 0;
        if (verdict.explained != nullptr) {
            ++explained_[verdict.explained];
        }
        if (!verdict.disagreements.empty()) {
            ++disagreeing_;
            std::string text = label + " " + Hex(descriptor) + "\n";
            for (const std::string& what : verdict.disagreements) {
                text += "    " + what + "\n";
            }
            text += "  the kernel's log:\n" + kernel.log;
            ADD_FAILURE() << text;
        }
    }

    void Summarise(const char* what) const {
        std::printf("%s: %u descriptors, %u bound by the kernel, %u disagreeing\n", what, checked_,
                    bound_, disagreeing_);
        for (const auto& [reason, count] : explained_) {
            std::printf("    %u differ on purpose: %s\n", count, reason.c_str());
        }
    }

  private:
    unsigned checked_ = 0;
    unsigned bound_ = 0;
    unsigned disagreeing_ = 0;
    std::map<std::string, unsigned> explained_;
};

class DescriptorDifferential : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        std::string failure;
        prepared_ = PrepareKernelReading(&failure);
        failure_ = failure;
    }
    void SetUp() override { ASSERT_TRUE(prepared_) << failure_; }

    static bool prepared_;
    static std::string failure_;
};
bool DescriptorDifferential::prepared_ = false;
std::string DescriptorDifferential::failure_;

TEST_F(DescriptorDifferential, FuzzCorpusReadsAsTheKernelReadsIt) {
    std::vector<std::string> files;
    DIR* folder = opendir(settings.corpus.c_str());
    ASSERT_NE(folder, nullptr) << settings.corpus;
    while (dirent* entry = readdir(folder)) {
        if (entry->d_name[0] != '.') {
            files.push_back(settings.corpus + "/" + entry->d_name);
        }
    }
    closedir(folder);
    std::sort(files.begin(), files.end());
    ASSERT_FALSE(files.empty());
    Differential differential;
    for (const std::string& file : files) {
        std::ifstream in(file, std::ios::binary);
        differential.Check(file, {std::istreambuf_iterator<char>(in), {}});
    }
    differential.Summarise("corpus");
}

TEST_F(DescriptorDifferential, GeneratedDescriptorsReadAsTheKernelReadsThem) {
    Differential differential;
    for (unsigned i = 0; i < settings.descriptors; ++i) {
        const GeneratedDescriptor generated = GenerateDescriptor(settings.seed + i);
        differential.Check("seed " + std::to_string(settings.seed + i), generated.bytes,
                           generated.refusedOnPurpose);
    }
    differential.Summarise(("generated from seed " + std::to_string(settings.seed)).c_str());
}

}  // namespace
}  // namespace quen::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const std::string value = argument.substr(argument.find('=') + 1);
        if (argument.rfind("--descriptors=", 0) == 0) {
            quen::test::settings.descriptors = static_cast<unsigned>(std::stoul(value));
        } else if (argument.rfind("--seed=", 0) == 0) {
            quen::test::settings.seed = std::stoull(value);
        } else if (argument.rfind("--corpus=", 0) == 0) {
            quen::test::settings.corpus = value;
        } else {
            std::fprintf(stderr, "unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    return RUN_ALL_TESTS();
}
