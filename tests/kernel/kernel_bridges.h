// The fixture of the tests that drive both HID bridges' exported functions against Debian's
// kernel: the bridges as the JVM calls them, and devices plugged in through uhid or as USB
// gadgets bound by the kernel's usbhid (the same bytes either way, TestDevice).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bridge/device_ids.h"
#include "kernel/test_device.h"
#include "kernel/uhid_device.h"
#include "kernel/usb_gadget.h"
#include "support/bridge_calls.h"
#include "support/report_descriptors.h"

namespace quen::test {

// The guest runs under emulation on a shared machine: a wait may end late, never early.
constexpr long kLateMs = 1500;

enum class DeviceKind { Uhid, Usb };

class BridgesOnDevices : public ::testing::Test {
  protected:
    explicit BridgesOnDevices(DeviceKind kind) : kind_(kind) {}

    void TearDown() override {
        scanner.SetMode(false);
        scanner.Close();
        scale.Close();
        ExpectCleanJni(scanner.jni);
        ExpectCleanJni(scale.jni);
    }

    // A device of the kind under test, not yet plugged in.
    std::unique_ptr<TestDevice> MakeDevice() const {
        if (kind_ == DeviceKind::Usb) {
            return std::make_unique<UsbGadget>();
        }
        return std::make_unique<UhidDevice>();
    }

    // Plugs a device in and waits for its node; the fixture keeps it until the test ends.
    TestDevice& Plug(const char* name, std::uint16_t vendor, std::uint16_t product,
                     const std::vector<std::uint8_t>& descriptor) {
        return Keep(MakeDevice(), name, vendor, product, descriptor);
    }
    TestDevice& PlugScanner(std::uint16_t usage = bridge::kScannerUsage) {
        return Plug("Quen scanner", bridge::kMakerVendorId, 0x0101, MakerDescriptor(usage, 64, 64));
    }
    TestDevice& PlugScale() {
        return Plug("Quen scale", bridge::kMakerVendorId, 0x0201,
                    MakerDescriptor(bridge::kScaleUsage, 64, 64));
    }
    UsbGadget& PlugUsbScanner(const UsbGadgetOptions& options = {}) {
        auto gadget = std::make_unique<UsbGadget>(options);
        UsbGadget& kept = *gadget;
        Keep(std::move(gadget), "Quen scanner", bridge::kMakerVendorId, 0x0101,
             MakerScannerDescriptor());
        return kept;
    }

    // What a read returned; empty for null.
    std::u16string Chars(jcharArray array) {
        return array == nullptr ? u"" : scanner.jni.Chars(array);
    }

    ScannerCalls scanner;
    ScaleCalls scale;
    const DeviceKind kind_;

  private:
    TestDevice& Keep(std::unique_ptr<TestDevice> device, const char* name, std::uint16_t vendor,
                     std::uint16_t product, const std::vector<std::uint8_t>& descriptor) {
        devices_.push_back(std::move(device));
        TestDevice& kept = *devices_.back();
        EXPECT_TRUE(kept.Create(TestDeviceInfo{name, vendor, product, descriptor})) << kept.error();
        EXPECT_FALSE(kept.WaitForHidraw().empty()) << kept.error();
        return kept;
    }

    std::vector<std::unique_ptr<TestDevice>> devices_;
};

// Tests that hold for every kind of device.
class KernelBridges : public BridgesOnDevices, public ::testing::WithParamInterface<DeviceKind> {
  protected:
    KernelBridges() : BridgesOnDevices(GetParam()) {}
};

}  // namespace quen::test
