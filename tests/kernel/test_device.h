// A HID device that a kernel test plugs into the VM's kernel, whatever makes it: uhid
// (uhid_device.h) or a USB gadget that the kernel's own usbhid binds (usb_gadget.h). Both present
// the same bytes, so that one test runs against either.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace quen::test {

struct TestDeviceInfo {
    std::string name;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::vector<std::uint8_t> reportDescriptor;
};

class TestDevice {
  public:
    virtual ~TestDevice() = default;

    // Plugs the device in. False, with the cause in error(), when the kernel refuses it.
    virtual bool Create(const TestDeviceInfo& info) = 0;
    // Waits until the kernel has bound the device and its /dev/hidrawN node exists, which happens
    // asynchronously after Create. The node's path, or empty after `timeout`.
    virtual std::string WaitForHidraw(
        std::chrono::milliseconds timeout = std::chrono::seconds(5)) = 0;
    // Sends an input report as the device would: for numbered reports byte 0 is the ID.
    virtual bool SendInput(const std::vector<std::uint8_t>& report) = 0;
    // The oldest output report the host wrote that the device has not taken yet, with the report
    // ID in byte 0 (0 for a device without numbered reports). False when none comes in `timeout`.
    virtual bool ReceiveOutput(std::vector<std::uint8_t>& report,
                               std::chrono::milliseconds timeout = std::chrono::seconds(2)) = 0;
    // Unplugs the device: readers of its node see a hang-up. The destructor does it too.
    virtual void Destroy() = 0;

    virtual const std::string& error() const = 0;
};

}  // namespace quen::test
