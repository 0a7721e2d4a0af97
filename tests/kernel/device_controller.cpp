// The device side of a kernel VM whose test program cannot make uhid devices itself: a Windows
// program under Wine asks this Linux program, running beside it in the same guest, to plug devices
// in, send their input reports, tell what output reports they got, and unplug them.
//
// It listens on a TCP port of the guest's loopback interface and takes one line per request:
//   plug VID PID DESCRIPTOR-HEX NAME...  -> "ok ID" once the device's hidraw node exists
//   plug-usb VID PID DESCRIPTOR-HEX NAME...  the same as a USB gadget that usbhid binds (the VM
//                                        loads the USB gadget modules); what the device sends
//                                        before the host has its node open is lost
//   send ID REPORT-HEX                   -> "ok" once uhid has the input report
//   output ID TIMEOUT-MS                 -> "ok REPORT-HEX" (the oldest output report) or "none"
//   unplug ID                            -> "ok"; a USB gadget is kept, to be plugged in again
//   replug ID BCD                        -> "ok" once a kept USB gadget is back with release BCD
//                                        (hex: another firmware) and has its hidraw node
//   shift SEED SCANS RESEATS FLASHES     a soak shift's device side, with its own line protocol
//                                        until it ends (shift_run.h); then requests again
// and answers "error TEXT" to anything it cannot do. When a connection ends, every device plugged
// through it is unplugged, so that each test program starts with none.
//
// A socket rather than files or a FIFO under /tmp: both ends block on ordered, two-way messages
// without polling, and Wine's winsock is a thin layer over the same Linux sockets, where a FIFO
// opened through Wine's file layer is not something Windows programs are written against.
// Usage: device_controller PORT
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "kernel/hex_bytes.h"
#include "kernel/shift_run.h"
#include "kernel/uhid_device.h"
#include "kernel/usb_gadget.h"
#include "kernel/unique_fd.h"

namespace quen::test {
namespace {

class Session {
  public:
    std::string Handle(const std::string& line) {
        std::istringstream words(line);
        std::string verb;
        words >> verb;
        if (verb == "plug" || verb == "plug-usb") {
            return Plug(words, verb == "plug-usb");
        }
        TestDevice* device = Find(words);
        if (device == nullptr) {
            return "error no such device";
        }
        if (verb == "send") {
            std::string hex;
            std::vector<std::uint8_t> report;
            words >> hex;
            if (!ParseHex(hex, &report)) {
                return "error bad report";
            }
            return device->SendInput(report) ? "ok" : "error " + device->error();
        }
        if (verb == "output") {
            long timeoutMs = 0;
            words >> timeoutMs;
            std::vector<std::uint8_t> report;
            return device->ReceiveOutput(report, std::chrono::milliseconds(timeoutMs))
                       ? "ok " + Hex(report)
                       : "none";
        }
        auto* gadget = dynamic_cast<UsbGadget*>(device);
        if (verb == "unplug") {
            if (gadget == nullptr) {
                device->Destroy();
            } else if (!gadget->Unplug()) {
                return "error " + gadget->error();
            }
            return "ok";
        }
        if (verb == "replug" && gadget != nullptr) {
            unsigned release = 0;
            words >> std::hex >> release;
            if (!gadget->Plug(static_cast<std::uint16_t>(release)) ||
                gadget->WaitForHidraw().empty()) {
                return "error " + gadget->error();
            }
            return "ok";
        }
        return "error unknown request";
    }

  private:
    std::string Plug(std::istringstream& words, bool usb) {
        unsigned vendor = 0;
        unsigned product = 0;
        std::string hex;
        words >> std::hex >> vendor >> product >> hex;
        std::string name;
        std::getline(words >> std::ws, name);
        TestDeviceInfo info{
            name, static_cast<std::uint16_t>(vendor), static_cast<std::uint16_t>(product), {}};
        if (!ParseHex(hex, &info.reportDescriptor)) {
            return "error bad descriptor";
        }
        std::unique_ptr<TestDevice> device;
        if (usb) {
            device = std::make_unique<UsbGadget>();
        } else {
            device = std::make_unique<UhidDevice>();
        }
        if (!device->Create(info) || device->WaitForHidraw().empty()) {
            return "error " + device->error();
        }
        devices_.push_back(std::move(device));
        return "ok " + std::to_string(devices_.size() - 1);
    }

    TestDevice* Find(std::istringstream& words) {
        std::size_t id = 0;
        if (!(words >> id) || id >= devices_.size()) {
            return nullptr;
        }
        return devices_[id].get();
    }

    std::vector<std::unique_ptr<TestDevice>> devices_;
};

// Serves one connection until the peer closes it.
void Serve(int connection) {
    Session session;
    std::string pending;
    char chunk[4096];
    for (;;) {
        const ssize_t got = read(connection, chunk, sizeof chunk);
        if (got <= 0) {
            return;
        }
        pending.append(chunk, static_cast<std::size_t>(got));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            const std::string request = pending.substr(0, end);
            pending.erase(0, end + 1);
            shift::Size size;
            if (std::sscanf(request.c_str(), "shift %" SCNu64 " %d %d %d", &size.seed, &size.scans,
                            &size.reseats, &size.flashes) == 4) {
                shift::RunShift(connection, size, pending);
                continue;
            }
            const std::string reply = session.Handle(request) + "\n";
            if (write(connection, reply.data(), reply.size()) !=
                static_cast<ssize_t>(reply.size())) {
                return;
            }
        }
    }
}

}  // namespace
}  // namespace quen::test

int main(int argc, char** argv) {
    using quen::test::UniqueFd;
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PORT\n", argv[0]);
        return 2;
    }
    UniqueFd listener(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int yes = 1;
    setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(std::atoi(argv[1])));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (!listener.valid() ||
        bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener.get(), 1) != 0) {
        std::perror("device_controller: cannot listen");
        return 1;
    }
    std::printf("device_controller: listening on port %s\n", argv[1]);
    std::fflush(stdout);
    for (;;) {
        UniqueFd connection(accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (connection.valid()) {
            quen::test::Serve(connection.get());
        }
    }
}
