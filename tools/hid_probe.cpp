// hid_probe: what the till's HID bus offers, seen through the bridges' own search. Lists every HID
// interface in enumeration order, marks the one the scanner bridge's Open would take and the one
// the scale bridges would take, and checks that each can be opened. With --read it opens one of
// them as the bridge does and prints every read as the bridge would hand it to Java.
//
//   hid_probe                                             list and check
//   hid_probe --read scanner [--mode segmented] [--seconds N]
//   hid_probe --read scale [--seconds N]                  (a scale has no segmented mode)
//
// Exit status: 0 found (and opened), 1 not found, 2 found but cannot be opened, 64 bad usage.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hid/interface_search.h"
#include "bridge/java_reports.h"
#include "bridge/maker_device.h"
#include "scale/scale_device.h"
#include "scanner/scanner_device.h"

namespace {

using namespace quen::hid;
using namespace quen::bridge;

enum Exit { kFound = 0, kNotFound = 1, kCannotOpen = 2, kUsage = 64 };

volatile std::sig_atomic_t interrupted = 0;

void OnInterrupt(int) {
    interrupted = 1;
}

const char* FailureText(OpenFailure failure) {
    switch (failure) {
        case OpenFailure::PermissionDenied:
            return "permission denied";
        case OpenFailure::Busy:
            return "busy: another program holds it";
        case OpenFailure::NotFound:
            return "gone: unplugged while the probe ran";
        case OpenFailure::None:
        case OpenFailure::Other:
            break;
    }
    return "the system refused it";
}

void PrintCannotOpen(const char* what, const char* path, OpenFailure failure) {
    // What to do about a refusal, as the state a till shows says it too.
    char hint[512];
    const bool hinted =
        failure == OpenFailure::PermissionDenied && platform::AccessHint(path, hint, sizeof hint);
    std::printf("%s: %s cannot be opened: %s%s%s\n", what, path, FailureText(failure),
                hinted ? ": " : "", hinted ? hint : "");
}

// What the bridges would take: found through the very search the bridges use.
struct Taken {
    char scanner[kPathCapacity] = {};
    char scale[kPathCapacity] = {};
};

void FindTaken(Taken* taken) {
    HIDDevice device;
    if (FindMakerDevice(device, kScannerChoice)) {
        std::snprintf(taken->scanner, sizeof taken->scanner, "%s", device.devicePath());
    }
    if (FindMakerDevice(device, kScaleChoice)) {
        std::snprintf(taken->scale, sizeof taken->scale, "%s", device.devicePath());
    }
}

class Lister final : public InterfaceVisitor {
  public:
    explicit Lister(const Taken& taken) : taken_(taken) {}

    bool Visit(const VisitedInterface& visited) override {
        ++count_;
        if (visited.status != PathStatus::Ok) {
            std::printf("  (interface %u: path unusable or longer than %u characters)\n",
                        visited.index, kPathCapacity - 1);
            return true;
        }
        std::printf("  %s\n", visited.path);
        InterfaceAttributes attributes;
        InterfaceCaps caps;
        if (visited.query == kInvalidHandle) {
            std::printf("      cannot be examined\n");
        } else if (!platform::QueryAttributes(visited.query, &attributes)) {
            std::printf("      no attributes\n");
        } else if (!platform::QueryCaps(visited.query, &caps)) {
            std::printf("      vendor %04X product %04X, no capabilities\n", attributes.vendorId,
                        attributes.productId);
        } else {
            std::printf(
                "      vendor %04X product %04X  usage page %04X usage %04X  report bytes in %u"
                " out %u%s\n",
                attributes.vendorId, attributes.productId, caps.usagePage, caps.usage,
                caps.inputReportByteLength, caps.outputReportByteLength,
                Role(visited.path, attributes, caps));
        }
        return true;
    }
    unsigned count() const { return count_; }

  private:
    const char* Role(const char* path, const InterfaceAttributes& attributes,
                     const InterfaceCaps& caps) const {
        if (std::strcmp(path, taken_.scanner) == 0) {
            return "\n      <- the scanner: the scanner bridge's Open takes this one";
        }
        if (std::strcmp(path, taken_.scale) == 0) {
            return "\n      <- the scale: the scale bridge's Open and OpenScale take this one";
        }
        if (attributes.vendorId != kMakerVendorId || caps.usagePage != kMakerUsagePage) {
            return "";
        }
        if (!ReportsFitBuffers(caps)) {
            return "\n      (the maker's, never taken: reports longer than the bridges' buffers)";
        }
        return "\n      (the maker's, not taken: another interface comes first)";
    }

    const Taken& taken_;
    unsigned count_ = 0;
};

// Opens the device as the bridge does; false (with the reason printed) when its channels fail.
bool CheckOpens(HIDDevice& device, const char* what) {
    device.OpenDevice();
    const bool opened = device.readChannelOpen() && device.writeChannelOpen();
    if (opened) {
        std::printf("%s: %s opens\n", what, device.devicePath());
    } else {
        PrintCannotOpen(what, device.devicePath(), platform::LastOpenFailure());
    }
    device.CloseDevice();
    return opened;
}

int List() {
    Taken taken;
    FindTaken(&taken);
    Lister lister(taken);
    static char path[kPathCapacity];
    if (!WalkInterfaces(lister, path, sizeof path)) {
        std::printf("the HID interfaces cannot be listed\n");
        return kNotFound;
    }
    std::printf("%u HID interface(s)\n", lister.count());

    bool found = false;
    bool allOpen = true;
    HIDDevice device;
    if (FindMakerDevice(device, kScannerChoice)) {
        found = true;
        allOpen = CheckOpens(device, "scanner") && allOpen;
    } else {
        std::printf("scanner: none (vendor %04X, usage page %04X, usage %04X or %04X)\n",
                    kMakerVendorId, kMakerUsagePage, kScannerUsage, kScannerUsageAlternate);
    }
    if (FindMakerDevice(device, kScaleChoice)) {
        found = true;
        allOpen = CheckOpens(device, "scale") && allOpen;
    } else {
        std::printf("scale: none (vendor %04X, usage page %04X, usage %04X)\n", kMakerVendorId,
                    kMakerUsagePage, kScaleUsage);
    }
    return !found ? kNotFound : allOpen ? kFound : kCannotOpen;
}

// One read as Java would receive it: each byte a char, sign-extended; shown as the bytes in hex
// and as printable text.
void PrintRead(double atSeconds, const std::uint8_t* bytes, std::int32_t length) {
    std::printf("%8.3f s  %4d chars ", atSeconds, length);
    for (std::int32_t i = 0; i < length; ++i) {
        std::printf(" %02x", bytes[i]);
    }
    std::printf("  |");
    for (std::int32_t i = 0; i < length; ++i) {
        std::putchar(bytes[i] >= 0x20 && bytes[i] < 0x7F ? bytes[i] : '.');
    }
    std::printf("|\n");
    std::fflush(stdout);
}

template <typename Device>
int ReadLoop(Device& device, std::int32_t capacity, UsageChoice choice, const char* what,
             long seconds) {
    if (!FindMakerDevice(device, choice)) {
        std::printf("%s: none found\n", what);
        return kNotFound;
    }
    device.OpenDevice();
    if (!device.readChannelOpen()) {
        PrintCannotOpen(what, device.devicePath(), platform::LastOpenFailure());
        device.CloseDevice();
        return kCannotOpen;
    }
    std::printf("%s: reading %s%s (Ctrl-C ends)\n", what, device.devicePath(),
                seconds > 0 ? " for a limited time" : "");
    std::fflush(stdout);
    std::signal(SIGINT, OnInterrupt);
    static std::uint8_t buffer[1024];
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (interrupted != 0 || (seconds > 0 && elapsed >= static_cast<double>(seconds))) {
            break;
        }
        std::int32_t length = 0;
        if (device.ReadReport(buffer, capacity, length) != 0) {
            PrintRead(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                buffer, length);
        }
    }
    device.CloseDevice();
    return kFound;
}

int Usage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s\n"
                 "       %s --read scanner [--mode segmented] [--seconds N]\n"
                 "       %s --read scale [--seconds N]\n",
                 program, program, program);
    return kUsage;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 1) {
        return List();
    }
    const char* what = nullptr;
    bool segmented = false;
    long seconds = 0;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--read") == 0 && hasValue) {
            what = argv[++i];
        } else if (std::strcmp(argv[i], "--mode") == 0 && hasValue &&
                   std::strcmp(argv[i + 1], "segmented") == 0) {
            segmented = true;
            ++i;
        } else if (std::strcmp(argv[i], "--seconds") == 0 && hasValue) {
            seconds = std::strtol(argv[++i], nullptr, 10);
            if (seconds <= 0) {
                return Usage(argv[0]);
            }
        } else {
            return Usage(argv[0]);
        }
    }
    if (what != nullptr && std::strcmp(what, "scanner") == 0) {
        static quen::scanner::ScannerHIDDevice scanner;
        scanner.SetMode(segmented);
        return ReadLoop(scanner, kReadChars, kScannerChoice, "scanner", seconds);
    }
    if (what != nullptr && std::strcmp(what, "scale") == 0 && !segmented) {
        static quen::scale::ScaleHIDDevice scale;
        return ReadLoop(scale, quen::scale::kBlockCapacity, kScaleChoice, "scale", seconds);
    }
    return Usage(argv[0]);
}
