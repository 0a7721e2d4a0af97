// How the kernel in the VM reads a report descriptor, for the differential test of the parser
// (descriptor_differential_test.cpp): the descriptor is presented as a uhid device, bound to
// hid-generic by hand, and read back from what the kernel exposes: whether the device binds (and
// so gets a hidraw node), its parsed report list as the HID debugfs interface prints it
// (/sys/kernel/debug/hid/<device>/rdesc: each report's type and ID, each field's application
// collection, size, count and offset), and, for every input report, the shortest report the
// node delivers (the kernel drops shorter ones), which counts the fields without usages that
// debugfs does not show.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quen::test {

enum class ReportKind { Input = 0, Output = 1, Feature = 2 };

struct KernelReport {
    ReportKind kind = ReportKind::Input;
    unsigned id = 0;
    // The end of its last field with usages, in bits (fields without usages are not shown).
    std::uint32_t shownBits = 0;
    // Each shown field's application collection as debugfs names it ("GenericDesktop.Keyboard",
    // "ff45.4a00"); empty for a field in none.
    std::vector<std::string> applications;
    // Input reports: the fewest data bytes (the ID byte not counted) of a report the node
    // delivers. Without report IDs an empty report is never delivered, so 1 there may mean 0
    // (`mayBeEmpty`).
    std::uint32_t deliveredBytes = 0;
    bool mayBeEmpty = false;
};

struct KernelReading {
    bool created = false;  // uhid took the descriptor (it takes none empty or over 4096 bytes)
    bool bound = false;    // hid-generic bound the device: it has a hidraw node
    std::vector<KernelReport> reports;
    std::string failure;  // set when the reading itself went wrong, not the kernel's verdict
    std::string log;      // what the kernel logged meanwhile (why it refused, for one)
};

// Turns automatic binding of HID devices off (so that each device is bound by hand, at once, and
// its fate known without waiting) and checks that debugfs shows HID devices. False, with the
// cause, where it cannot.
bool PrepareKernelReading(std::string* failure);

// Presents `descriptor` as a uhid device, reads the kernel's view of it and unplugs it again.
KernelReading ReadWithKernel(const std::vector<std::uint8_t>& descriptor);

}  // namespace quen::test
