// A USB HID device made as a gadget through configfs, for test programs that run in the kernel VM
// with the USB modules loaded (run-in-vm.sh, QUEN_VM_USB=1). It is plugged into one of the VM's
// dummy_hcd controllers, whose host side the kernel's usbhid binds as it binds a scanner on a
// till: the code under test meets real USB transfers, the 5 s write time-out and the hidraw lock.
//
// The device side is /dev/hidgN, which exists only while the gadget is plugged in. What it sends
// and receives is normalised to what a uhid device shows (TestDevice): an output report of a
// device without numbered reports gets its report ID 0 put back in front.
//
// Kernel facts a test must respect: input reports sent while no host descriptor of the node is
// open are lost, and so are those in the first 50 ms after the first open; the first open of a
// node takes some 60 ms; at most four HID gadget functions exist at once in the machine.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "kernel/test_device.h"
#include "kernel/unique_fd.h"

namespace quen::test {

struct UsbGadgetOptions {
    std::uint16_t bcdDevice = 0x0100;  // the device's release, which a firmware flash changes
    // No interrupt OUT endpoint: the host sends output reports as SET_REPORT requests on the
    // control pipe, and the device keeps only the latest one it has not read.
    bool noOutEndpoint = false;
    std::uint16_t reportLength = 64;  // the endpoints' packet size: the longest report's data
};

class UsbGadget : public TestDevice {
  public:
    explicit UsbGadget(const UsbGadgetOptions& options = {}) : options_(options) {}
    ~UsbGadget() override;
    UsbGadget(const UsbGadget&) = delete;
    UsbGadget& operator=(const UsbGadget&) = delete;

    // Makes the gadget and plugs it in.
    bool Create(const TestDeviceInfo& info) override;
    // Also opens the device side once the host's node is there.
    std::string WaitForHidraw(std::chrono::milliseconds timeout = std::chrono::seconds(5)) override;
    // Waits up to 2 s for the previous input report to have gone to the host (the host polls
    // only while a descriptor of its node is open).
    bool SendInput(const std::vector<std::uint8_t>& report) override;
    bool ReceiveOutput(std::vector<std::uint8_t>& report,
                       std::chrono::milliseconds timeout = std::chrono::seconds(2)) override;
    // Unplugs and removes the gadget.
    void Destroy() override;

    // Pulls the plug, keeping the gadget: returns once the host's node is gone.
    bool Unplug();
    // Plugs the gadget in again; with `bcdDevice` given, as a device whose firmware was flashed
    // meanwhile. WaitForHidraw then finds the node the host gives it this time.
    bool Plug(std::uint16_t bcdDevice = 0);
    // While unplugged: the next Plug comes back with this report descriptor and packet size, as
    // a firmware that describes its reports otherwise.
    bool Describe(const std::vector<std::uint8_t>& descriptor, std::uint16_t reportLength);
    // Waits up to `timeout` until the host has taken the last input report sent; false when it
    // did not (no host descriptor of the node is open, or the device was unplugged).
    bool AwaitTaken(std::chrono::milliseconds timeout);

    const std::string& error() const override { return error_; }

  private:
    bool WriteAttribute(const std::string& path, const std::string& value);
    bool MakeDirectory(const std::string& path);
    // The host's node of this gadget (found by its serial number) as listed in sysfs, or empty.
    std::string HostNode() const;
    void Remove();

    UsbGadgetOptions options_;
    std::string gadget_;    // its configfs folder
    std::string function_;  // the HID function's configfs folder
    std::string udc_;       // the controller it is plugged into while plugged
    std::string serial_;    // the serial number, by which the host's node is found
    bool numbered_ = false;
    bool plugged_ = false;
    UniqueFd deviceSide_;  // /dev/hidgN
    std::string error_;
};

}  // namespace quen::test
