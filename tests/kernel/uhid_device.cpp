#include "kernel/uhid_device.h"

#include <dirent.h>
#include <linux/uhid.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

namespace quen::test {
namespace {

std::atomic<unsigned> devicesMade{0};

bool WriteEvent(int fd, const uhid_event& event) {
    return write(fd, &event, sizeof(event)) == static_cast<ssize_t>(sizeof(event));
}

std::string ReadText(const std::string& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Copies `text` into a fixed, NUL-terminated field of a uhid request.
template <std::size_t N>
void CopyField(std::uint8_t (&field)[N], const std::string& text) {
    std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

}  // namespace

UhidDevice::~UhidDevice() {
    Destroy();
}

bool UhidDevice::Create(const TestDeviceInfo& info) {
    uhid_event event{};
    auto& create = event.u.create2;
    if (uhid_.valid() || info.reportDescriptor.size() > sizeof(create.rd_data)) {
        error_ = "Create: already created, or the report descriptor is too long";
        return false;
    }
    uhid_ = UniqueFd::Open("/dev/uhid", O_RDWR);
    if (!uhid_.valid()) {
        error_ = std::string("open /dev/uhid: ") + std::strerror(errno);
        return false;
    }
    marker_ = "quen-uhid-" + std::to_string(getpid()) + "-" + std::to_string(devicesMade++);
    event.type = UHID_CREATE2;
    CopyField(create.name, info.name);
    CopyField(create.phys, marker_);
    create.rd_size = static_cast<std::uint16_t>(info.reportDescriptor.size());
    create.bus = BUS_USB;
    create.vendor = info.vendorId;
    create.product = info.productId;
    std::copy(info.reportDescriptor.begin(), info.reportDescriptor.end(), create.rd_data);
    wake_ = UniqueFd(eventfd(0, EFD_CLOEXEC));
    if (!wake_.valid()) {
        error_ = std::string("eventfd: ") + std::strerror(errno);
        uhid_.Reset();
        return false;
    }
    if (!Write(event, "UHID_CREATE2")) {
        uhid_.Reset();
        return false;
    }
    stopping_ = false;
    answerer_ = std::thread([this] { AnswerKernel(); });
    return true;
}

std::string UhidDevice::WaitForHidraw(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const std::string wanted = "\nHID_PHYS=" + marker_ + "\n";
    do {
        std::unique_ptr<DIR, int (*)(DIR*)> nodes(opendir("/sys/class/hidraw"), closedir);
        while (dirent* entry = nodes ? readdir(nodes.get()) : nullptr) {
            const std::string name = entry->d_name;
            const std::string node = "/dev/" + name;
            if (name.rfind("hidraw", 0) == 0 &&
                ReadText("/sys/class/hidraw/" + name + "/device/uevent").find(wanted) !=
                    std::string::npos &&
                access(node.c_str(), F_OK) == 0) {
                return node;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    } while (std::chrono::steady_clock::now() < deadline);
    error_ = "no hidraw node within " + std::to_string(timeout.count()) + " ms";
    return {};
}

bool UhidDevice::SendInput(const std::vector<std::uint8_t>& report,
                           std::chrono::steady_clock::time_point* handedAt) {
    uhid_event event{};
    if (report.size() > sizeof(event.u.input2.data)) {
        error_ = "SendInput: report too long";
        return false;
    }
    event.type = UHID_INPUT2;
    event.u.input2.size = static_cast<std::uint16_t>(report.size());
    std::copy(report.begin(), report.end(), event.u.input2.data);
    if (handedAt != nullptr) {
        *handedAt = std::chrono::steady_clock::now();
    }
    return Write(event, "UHID_INPUT2");
}

bool UhidDevice::ReceiveOutput(std::vector<std::uint8_t>& report,
                               std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!outputArrived_.wait_for(lock, timeout, [this] { return !outputs_.empty(); })) {
        error_ = "no output report within " + std::to_string(timeout.count()) + " ms";
        return false;
    }
    report = std::move(outputs_.front());
    outputs_.pop_front();
    return true;
}

void UhidDevice::Destroy() {
    if (!uhid_.valid()) {
        return;
    }
    uhid_event event{};
    event.type = UHID_DESTROY;
    Write(event, "UHID_DESTROY");
    stopping_ = true;
    const std::uint64_t one = 1;
    if (write(wake_.get(), &one, sizeof one) != static_cast<ssize_t>(sizeof one)) {
        error_ = std::string("waking the answering thread: ") + std::strerror(errno);
    }
    answerer_.join();
    uhid_.Reset();
}

bool UhidDevice::Write(const uhid_event& event, const char* what) {
    if (WriteEvent(uhid_.get(), event)) {
        return true;
    }
    error_ = std::string(what) + ": " + std::strerror(errno);
    return false;
}

void UhidDevice::AnswerKernel() {
    uhid_event event{};
    while (!stopping_) {
        pollfd waiting[2] = {{uhid_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
        if (poll(waiting, 2, -1) <= 0 || (waiting[0].revents & POLLIN) == 0 ||
            read(uhid_.get(), &event, sizeof(event)) <= 0) {
            continue;
        }
        uhid_event reply{};
        switch (event.type) {
            case UHID_OUTPUT: {
                const std::uint8_t* data = event.u.output.data;
                std::vector<std::uint8_t> report(data, data + event.u.output.size);
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    outputs_.push_back(std::move(report));
                }
                outputArrived_.notify_all();
                break;
            }
            case UHID_GET_REPORT:
                reply.type = UHID_GET_REPORT_REPLY;
                reply.u.get_report_reply.id = event.u.get_report.id;
                reply.u.get_report_reply.err = EIO;
                WriteEvent(uhid_.get(), reply);
                break;
            case UHID_SET_REPORT:
                reply.type = UHID_SET_REPORT_REPLY;
                reply.u.set_report_reply.id = event.u.set_report.id;
                WriteEvent(uhid_.get(), reply);
                break;
            default:  // start, stop, open, close: nothing to answer
                break;
        }
    }
}

}  // namespace quen::test
