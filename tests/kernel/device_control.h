// A Windows test program's end of the device controller (device_controller.cpp): the Linux program
// beside it in the kernel VM that plugs uhid devices in, sends their input reports, tells what
// output reports reached them and unplugs them. One connection per program; each call waits for
// the controller's answer, and calls from two threads take turns.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace quen::test {

class DeviceControl {
  public:
    DeviceControl() = default;
    ~DeviceControl();
    DeviceControl(const DeviceControl&) = delete;
    DeviceControl& operator=(const DeviceControl&) = delete;

    // Connects to "HOST:PORT", trying again until timeoutMs have passed (the controller may still
    // be starting). False, with the cause in error(), when it never answers.
    bool Connect(const std::string& address, unsigned timeoutMs);

    // Plugs a device in and waits for the kernel to give it a hidraw node: its id, or -1.
    int Plug(const char* name, std::uint16_t vendorId, std::uint16_t productId,
             const std::vector<std::uint8_t>& descriptor);
    // The same as a USB device, bound by the kernel's usbhid.
    int PlugUsb(const char* name, std::uint16_t vendorId, std::uint16_t productId,
                const std::vector<std::uint8_t>& descriptor);
    bool Send(int device, const std::vector<std::uint8_t>& report);
    // The oldest output report the device received, empty when none comes within timeoutMs.
    std::vector<std::uint8_t> Output(int device, unsigned timeoutMs);
    bool Unplug(int device);
    // Plugs an unplugged USB device in again as release `bcdDevice` (a flashed firmware), and
    // waits for its new hidraw node.
    bool Replug(int device, std::uint16_t bcdDevice);

    // A soak shift's lines (shift_run.h), once "shift ..." is sent: any thread may send one,
    // one thread receives. ReceiveLine is false when the controller hung up.
    bool SendLine(const std::string& line);
    bool ReceiveLine(std::string* line);

    const std::string& error() const { return error_; }

  private:
    int PlugAs(const char* verb, const char* name, std::uint16_t vendorId, std::uint16_t productId,
               const std::vector<std::uint8_t>& descriptor);
    // Sends one request line and returns the answer line; "error ..." when the link failed.
    std::string Ask(const std::string& request);
    bool Transmit(const std::string& line);

    // A winsock SOCKET, kept as its integer so that users need not include winsock2.h before
    // windows.h.
    std::uintptr_t socket_ = ~std::uintptr_t{0};
    bool started_ = false;
    std::mutex mutex_;
    std::string error_;
};

}  // namespace quen::test
