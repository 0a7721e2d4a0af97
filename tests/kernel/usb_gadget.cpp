#include "kernel/usb_gadget.h"

#include <dirent.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

namespace quen::test {
namespace {

constexpr char kGadgets[] = "/sys/kernel/config/usb_gadget/";

std::string ReadText(const std::string& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<std::string> List(const char* folder) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> entries(opendir(folder), closedir);
    while (dirent* entry = entries ? readdir(entries.get()) : nullptr) {
        if (entry->d_name[0] != '.') {
            names.emplace_back(entry->d_name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The controllers gadgets of this program are plugged into: one gadget each, kept from Create to
// Destroy so that a replugged gadget finds its own free.
std::mutex udcMutex;
std::set<std::string> udcsTaken;

std::string TakeController() {
    std::lock_guard<std::mutex> lock(udcMutex);
    for (const std::string& udc : List("/sys/class/udc")) {
        if (udcsTaken.insert(udc).second) {
            return udc;
        }
    }
    return {};
}

void ReturnController(const std::string& udc) {
    std::lock_guard<std::mutex> lock(udcMutex);
    udcsTaken.erase(udc);
}

// True when the descriptor declares a report ID anywhere (its reports are numbered).
bool DeclaresReportIds(const std::vector<std::uint8_t>& descriptor) {
    for (std::size_t at = 0; at < descriptor.size();) {
        const std::uint8_t prefix = descriptor[at];
        if (prefix == 0xFE) {  // a long item: its data size follows
            at += 3u + (at + 1 < descriptor.size() ? descriptor[at + 1] : 0u);
            continue;
        }
        if ((prefix & 0xFC) == 0x84) {
            return true;
        }
        const std::size_t size = (prefix & 3) == 3 ? 4 : (prefix & 3);
        at += 1 + size;
    }
    return false;
}

std::string Hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

std::atomic<unsigned> gadgetsMade{0};

}  // namespace

UsbGadget::~UsbGadget() {
    Destroy();
}

bool UsbGadget::Create(const TestDeviceInfo& info) {
    if (!gadget_.empty()) {
        error_ = "Create: already created";
        return false;
    }
    const std::string id = std::to_string(getpid()) + "_" + std::to_string(gadgetsMade++);
    serial_ = "quen-usb-" + id;
    numbered_ = DeclaresReportIds(info.reportDescriptor);
    gadget_ = kGadgets + ("quen" + id);
    if (!MakeDirectory(gadget_)) {
        gadget_.clear();
        return false;
    }
    function_ = gadget_ + "/functions/hid.q" + id;
    const std::string descriptor(info.reportDescriptor.begin(), info.reportDescriptor.end());
    const bool made =
        WriteAttribute(gadget_ + "/idVendor", Hex4(info.vendorId)) &&
        WriteAttribute(gadget_ + "/idProduct", Hex4(info.productId)) &&
        WriteAttribute(gadget_ + "/bcdDevice", Hex4(options_.bcdDevice)) &&
        WriteAttribute(gadget_ + "/bcdUSB", "0x0200") &&
        MakeDirectory(gadget_ + "/strings/0x409") &&
        WriteAttribute(gadget_ + "/strings/0x409/manufacturer", "Quen") &&
        WriteAttribute(gadget_ + "/strings/0x409/product", info.name) &&
        WriteAttribute(gadget_ + "/strings/0x409/serialnumber", serial_) &&
        MakeDirectory(gadget_ + "/configs/c.1") &&
        WriteAttribute(gadget_ + "/configs/c.1/MaxPower", "100") &&
        // A fifth HID function in the machine fails here, with ENODEV.
        MakeDirectory(function_) && WriteAttribute(function_ + "/protocol", "0") &&
        WriteAttribute(function_ + "/subclass", "0") &&
        WriteAttribute(function_ + "/report_length", std::to_string(options_.reportLength)) &&
        WriteAttribute(function_ + "/no_out_endpoint", options_.noOutEndpoint ? "1" : "0") &&
        WriteAttribute(function_ + "/report_desc", descriptor);
    if (!made) {
        Remove();
        return false;
    }
    if (symlink(function_.c_str(), (gadget_ + "/configs/c.1/hid").c_str()) != 0) {
        error_ = "linking the HID function into the configuration: " + std::string(strerror(errno));
        Remove();
        return false;
    }
    udc_ = TakeController();
    if (udc_.empty()) {
        error_ = "no free USB device controller (dummy_hcd num=4 gives four)";
        Remove();
        return false;
    }
    if (!Plug()) {
        Remove();
        return false;
    }
    return true;
}

bool UsbGadget::Plug(std::uint16_t bcdDevice) {
    if (plugged_) {
        error_ = "Plug: already plugged in";
        return false;
    }
    if (bcdDevice != 0 && !WriteAttribute(gadget_ + "/bcdDevice", Hex4(bcdDevice))) {
        return false;
    }
    plugged_ = WriteAttribute(gadget_ + "/UDC", udc_);
    return plugged_;
}

bool UsbGadget::Describe(const std::vector<std::uint8_t>& descriptor, std::uint16_t reportLength) {
    // configfs takes a function's attributes only while no configuration holds the function.
    const std::string link = gadget_ + "/configs/c.1/hid";
    if (plugged_ || unlink(link.c_str()) != 0) {
        error_ = "Describe: the gadget must be made and unplugged";
        return false;
    }
    const bool described =
        WriteAttribute(function_ + "/report_length", std::to_string(reportLength)) &&
        WriteAttribute(function_ + "/report_desc",
                       std::string(descriptor.begin(), descriptor.end()));
    if (symlink(function_.c_str(), link.c_str()) != 0) {
        error_ = "linking the HID function again: " + std::string(strerror(errno));
        return false;
    }
    options_.reportLength = reportLength;
    numbered_ = DeclaresReportIds(descriptor);
    return described;
}

bool UsbGadget::AwaitTaken(std::chrono::milliseconds timeout) {
    pollfd ready{deviceSide_.get(), POLLOUT, 0};
    return deviceSide_.valid() && poll(&ready, 1, static_cast<int>(timeout.count())) == 1 &&
           (ready.revents & POLLOUT) != 0;
}

bool UsbGadget::Unplug() {
    if (!plugged_) {
        return true;
    }
    deviceSide_.Reset();
    if (!WriteAttribute(gadget_ + "/UDC", "\n")) {
        return false;
    }
    plugged_ = false;
    // The host side goes on asynchronously: its node lingers some 20 ms.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!HostNode().empty()) {
        if (std::chrono::steady_clock::now() > deadline) {
            error_ = "the host's node stayed after the unplug";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

std::string UsbGadget::WaitForHidraw(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // The device side is /dev/hidg<minor>, the minor read from the function's "dev" (MAJOR:MINOR).
    const std::string numbers = ReadText(function_ + "/dev");
    const std::string deviceNode =
        "/dev/hidg" +
        std::to_string(std::strtoul(numbers.c_str() + numbers.find(':') + 1, nullptr, 10));
    do {
        const std::string node = HostNode();
        if (!node.empty() && access(node.c_str(), F_OK) == 0 &&
            access(deviceNode.c_str(), F_OK) == 0) {
            deviceSide_ = UniqueFd::Open(deviceNode.c_str(), O_RDWR | O_NONBLOCK);
            if (!deviceSide_.valid()) {
                error_ = "open " + deviceNode + ": " + strerror(errno);
                return {};
            }
            return node;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    } while (std::chrono::steady_clock::now() < deadline);
    error_ = "no hidraw node within " + std::to_string(timeout.count()) + " ms";
    return {};
}

bool UsbGadget::SendInput(const std::vector<std::uint8_t>& report) {
    pollfd ready{deviceSide_.get(), POLLOUT, 0};
    if (!deviceSide_.valid() || poll(&ready, 1, 2000) != 1) {
        error_ = "SendInput: the device side is not open, or the host took no report for 2 s";
        return false;
    }
    if (write(deviceSide_.get(), report.data(), report.size()) !=
        static_cast<ssize_t>(report.size())) {
        error_ = std::string("SendInput: ") + strerror(errno);
        return false;
    }
    return true;
}

bool UsbGadget::ReceiveOutput(std::vector<std::uint8_t>& report,
                              std::chrono::milliseconds timeout) {
    pollfd ready{deviceSide_.get(), POLLIN, 0};
    std::uint8_t bytes[1024];
    ssize_t got = -1;
    if (deviceSide_.valid() && poll(&ready, 1, static_cast<int>(timeout.count())) == 1) {
        got = read(deviceSide_.get(), bytes, sizeof bytes);
    }
    if (got < 0) {
        error_ = "no output report within " + std::to_string(timeout.count()) + " ms";
        return false;
    }
    // USB carries no report ID 0: the host's usbhid left it out, and uhid would show it.
    report.assign(numbered_ ? 0 : 1, 0);
    report.insert(report.end(), bytes, bytes + got);
    return true;
}

void UsbGadget::Destroy() {
    Remove();
}

void UsbGadget::Remove() {
    if (gadget_.empty()) {
        return;
    }
    Unplug();
    if (!udc_.empty()) {
        ReturnController(udc_);
        udc_.clear();
    }
    // configfs takes a gadget apart in the order it was put together, backwards.
    unlink((gadget_ + "/configs/c.1/hid").c_str());
    for (const std::string& folder :
         {gadget_ + "/configs/c.1", function_, gadget_ + "/strings/0x409", gadget_}) {
        rmdir(folder.c_str());
    }
    gadget_.clear();
}

bool UsbGadget::WriteAttribute(const std::string& path, const std::string& value) {
    UniqueFd file = UniqueFd::Open(path.c_str(), O_WRONLY);
    if (file.valid() &&
        write(file.get(), value.data(), value.size()) == static_cast<ssize_t>(value.size())) {
        return true;
    }
    error_ = path + ": " + strerror(errno);
    return false;
}

bool UsbGadget::MakeDirectory(const std::string& path) {
    if (mkdir(path.c_str(), 0755) == 0) {
        return true;
    }
    error_ = "mkdir " + path + ": " + strerror(errno);
    return false;
}

std::string UsbGadget::HostNode() const {
    const std::string wanted = "\nHID_UNIQ=" + serial_ + "\n";
    for (const std::string& name : List("/sys/class/hidraw")) {
        if (ReadText("/sys/class/hidraw/" + name + "/device/uevent").find(wanted) !=
            std::string::npos) {
            return "/dev/" + name;
        }
    }
    return {};
}

}  // namespace quen::test
