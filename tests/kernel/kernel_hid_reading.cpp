#include "kernel/kernel_hid_reading.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "kernel/uhid_device.h"
#include "kernel/unique_fd.h"

namespace quen::test {
namespace {

constexpr std::uint16_t kVendor = 0x2E5A;
const std::string kDevices = "/sys/bus/hid/devices/";
const std::string kDebugfs = "/sys/kernel/debug/hid/";

bool WriteText(const std::string& path, const std::string& text) {
    std::ofstream file(path);
    file << text;
    file.flush();
    return static_cast<bool>(file);
}

std::string ReadText(const std::string& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

bool Exists(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0;
}

// The first entry of `folder` whose name starts with `prefix`; empty if none.
std::string FindEntry(const std::string& folder, const std::string& prefix) {
    std::unique_ptr<DIR, int (*)(DIR*)> entries(opendir(folder.c_str()), closedir);
    while (dirent* entry = entries ? readdir(entries.get()) : nullptr) {
        if (std::string(entry->d_name).rfind(prefix, 0) == 0) {
            return entry->d_name;
        }
    }
    return {};
}

// The value in "<indent>Name(value)" when `line` is that, else false.
bool Field(const std::string& line, const char* name, std::string* value) {
    const std::string head = std::string("      ") + name + "(";
    if (line.rfind(head, 0) != 0 || line.back() != ')') {
        return false;
    }
    *value = line.substr(head.size(), line.size() - head.size() - 1);
    return true;
}

// hid_dump_device's report list, after the descriptor's bytes and an empty line.
std::vector<KernelReport> ParseDebugfsReports(const std::string& text) {
    std::vector<KernelReport> reports;
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);  // the descriptor, in hex
    std::getline(lines, line);
    std::uint32_t size = 0;
    std::uint32_t count = 0;
    while (std::getline(lines, line) && !line.empty()) {
        std::string value;
        if (line.size() > 2 && line[0] == ' ' && line[1] == ' ' && line[2] != ' ') {
            KernelReport report;
            report.kind = line.compare(2, 5, "INPUT") == 0    ? ReportKind::Input
                          : line.compare(2, 6, "OUTPUT") == 0 ? ReportKind::Output
                                                              : ReportKind::Feature;
            const std::size_t open = line.find('(');
            report.id = open < line.find('[')
                            ? static_cast<unsigned>(std::stoul(line.substr(open + 1)))
                            : 0;
            reports.push_back(report);
        } else if (reports.empty()) {
            continue;
        } else if (line.rfind("    Field(", 0) == 0) {
            reports.back().applications.emplace_back();
        } else if (Field(line, "Application", &value)) {
            reports.back().applications.back() = value;
        } else if (Field(line, "Report Size", &value)) {
            size = static_cast<std::uint32_t>(std::stoul(value));
        } else if (Field(line, "Report Count", &value)) {
            count = static_cast<std::uint32_t>(std::stoul(value));
        } else if (Field(line, "Report Offset", &value)) {
            const auto end = static_cast<std::uint32_t>(std::stoul(value)) + size * count;
            reports.back().shownBits = std::max(reports.back().shownBits, end);
        }
    }
    return reports;
}

// Finds, for each input report, the fewest data bytes the node delivers: the kernel drops an
// input report shorter than it declared (hid_report_raw_event). Starts from what debugfs shows,
// which is exact unless fields without usages end the report.
class InputProbe {
  public:
    InputProbe(UhidDevice* device, int node, bool numbered)
        : device_(device), node_(node), numbered_(numbered) {}

    void Measure(KernelReport* report) {
        std::uint32_t low = (report->shownBits + 7) / 8;
        if (!numbered_ && low == 0) {
            low = 1;  // an empty report is never delivered
            report->mayBeEmpty = report->shownBits == 0;
        }
        // The shortest delivered lies in [low, high]: uhid sends at most 4096 bytes.
        std::uint32_t high = numbered_ ? 4095 : 4096;
        if (Delivered(report->id, low)) {
            high = low;
        }
        while (low < high) {
            const std::uint32_t middle = low + (high - low) / 2;
            if (Delivered(report->id, middle)) {
                high = middle;
            } else {
                low = middle + 1;
            }
        }
        report->deliveredBytes = low;
    }

  private:
    bool Delivered(unsigned id, std::uint32_t dataBytes) {
        std::vector<std::uint8_t> report(numbered_ ? 1 : 0, static_cast<std::uint8_t>(id));
        report.resize(report.size() + dataBytes, 0x5A);
        bool arrived = false;
        std::uint8_t buffer[4097];
        if (device_->SendInput(report)) {
            while (read(node_, buffer, sizeof buffer) > 0) {
                arrived = true;
            }
        }
        return arrived;
    }

    UhidDevice* device_;
    int node_;
    bool numbered_;
};

std::atomic<unsigned> devicesMade{0};

// The kernel's log from where it stood at PrepareKernelReading on.
UniqueFd kernelLog;

std::string NewLogLines() {
    std::string lines;
    char record[1024];
    ssize_t got;
    while ((got = read(kernelLog.get(), record, sizeof record)) > 0 ||
           (got < 0 && errno == EPIPE)) {
        // "level,sequence,time,flags;text\n"
        const std::string text(record, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
        lines += text.substr(std::min(text.find(';') + 1, text.size()));
    }
    return lines;
}

}  // namespace

bool PrepareKernelReading(std::string* failure) {
    kernelLog = UniqueFd::Open("/dev/kmsg", O_RDONLY | O_NONBLOCK);
    lseek(kernelLog.get(), 0, SEEK_END);
    if (!WriteText("/sys/bus/hid/drivers_autoprobe", "0")) {
        *failure = "cannot turn off automatic binding of HID devices";
        return false;
    }
    if (!Exists(kDebugfs)) {
        *failure = kDebugfs + " does not exist: debugfs is not mounted, or HID debugging is off";
        return false;
    }
    return true;
}

KernelReading ReadWithKernel(const std::vector<std::uint8_t>& descriptor) {
    KernelReading reading;
    UhidDevice device;
    char prefix[32];
    const auto product = static_cast<std::uint16_t>(devicesMade++);
    std::snprintf(prefix, sizeof prefix, "0003:%04X:%04X.", kVendor, product);
    if (descriptor.empty() || !device.Create({"Quen differential", kVendor, product, descriptor})) {
        return reading;
    }
    reading.created = true;
    // uhid adds the device from a worker: it appears in sysfs soon after.
    std::string name;
    for (int waited = 0; waited < 5000 && (name = FindEntry(kDevices, prefix)).empty(); ++waited) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (name.empty()) {
        reading.failure = "the device never appeared in " + kDevices;
        return reading;
    }
    // The bind parses the descriptor (hid_open_report) and, if it is taken, makes the node; a
    // refused descriptor fails it with EINVAL. The device's sysfs entry comes a moment before the
    // device is fully added: a bind before then fails with ENODEV, or is deferred (EAGAIN).
    const UniqueFd bind = UniqueFd::Open("/sys/bus/hid/drivers/hid-generic/bind", O_WRONLY);
    for (int tries = 0; tries < 5000 && write(bind.get(), name.data(), name.size()) < 0 &&
                        (errno == ENODEV || errno == EAGAIN);
         ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    reading.bound = Exists(kDevices + name + "/driver");
    // With the device's group: hid-generic binds only the generic one.
    reading.log = NewLogLines() + "modalias " + ReadText(kDevices + name + "/modalias");
    if (!reading.bound) {
        return reading;
    }
    reading.reports = ParseDebugfsReports(ReadText(kDebugfs + name + "/rdesc"));
    const std::string node = FindEntry(kDevices + name + "/hidraw/", "hidraw");
    const UniqueFd fd = UniqueFd::Open(("/dev/" + node).c_str(), O_RDWR | O_NONBLOCK);
    if (node.empty() || !fd.valid()) {
        reading.failure = "bound, but no hidraw node opens";
        return reading;
    }
    const bool numbered =
        std::any_of(reading.reports.begin(), reading.reports.end(),
                    [](const KernelReport& r) { return r.kind == ReportKind::Input && r.id != 0; });
    InputProbe probe(&device, fd.get(), numbered);
    for (KernelReport& report : reading.reports) {
        if (report.kind == ReportKind::Input) {
            probe.Measure(&report);
        }
    }
    return reading;
}

}  // namespace quen::test
