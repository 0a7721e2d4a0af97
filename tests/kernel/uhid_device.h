// A virtual HID device made through /dev/uhid, for test programs that run in the kernel VM
// (run-in-vm.sh). The kernel binds it like a USB device and gives it a hidraw node, so the code
// under test sees what it would see with the real device plugged in.
//
// The device lives as long as the object. A thread answers the kernel meanwhile: it keeps the
// output reports the host writes, and answers feature-report requests at once (a get fails with
// EIO, a set succeeds) so that no ioctl on the node hangs for the kernel's 5 s time-out.
// uhid holds at most 32 events the thread has not read yet and drops the rest silently: a test
// that writes more than 32 output reports in one burst (one vCPU, the thread not yet scheduled)
// sees only the first 32.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kernel/test_device.h"
#include "kernel/unique_fd.h"

struct uhid_event;

namespace quen::test {

class UhidDevice : public TestDevice {
  public:
    UhidDevice() = default;
    ~UhidDevice() override;
    UhidDevice(const UhidDevice&) = delete;
    UhidDevice& operator=(const UhidDevice&) = delete;

    // Plugs the device in (bus USB). False, with the cause in error(), when uhid refuses it.
    bool Create(const TestDeviceInfo& info) override;

    // Waits until the kernel has bound the device and its /dev/hidrawN node exists, which happens
    // asynchronously some milliseconds after Create. The node's path, or empty after `timeout`.
    std::string WaitForHidraw(std::chrono::milliseconds timeout = std::chrono::seconds(5)) override;

    // Sends an input report as the device would: for numbered reports byte 0 is the ID.
    // `handedAt`, if given, receives the time just before the report went to uhid (the
    // benchmarks' latency starts there).
    bool SendInput(const std::vector<std::uint8_t>& report,
                   std::chrono::steady_clock::time_point* handedAt);
    bool SendInput(const std::vector<std::uint8_t>& report) override {
        return SendInput(report, nullptr);
    }

    // The oldest output report the host wrote that has not been taken yet, exactly as uhid
    // delivers it. False when none comes within `timeout`.
    bool ReceiveOutput(std::vector<std::uint8_t>& report,
                       std::chrono::milliseconds timeout = std::chrono::seconds(2)) override;

    // Unplugs the device: readers of its node see a hang-up. The destructor does it too.
    void Destroy() override;

    const std::string& error() const override { return error_; }

  private:
    bool Write(const uhid_event& event, const char* what);
    void AnswerKernel();

    UniqueFd uhid_;
    // Written by Destroy, so that the answering thread can wait for the kernel without a time-out
    // (an idle device then costs no wake-ups: 32 of them sit beside the benchmarks).
    UniqueFd wake_;
    // Written into the device's phys field, so that its node is found by what it is rather than
    // by guessing its number.
    std::string marker_;
    std::string error_;

    std::thread answerer_;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::condition_variable outputArrived_;
    std::deque<std::vector<std::uint8_t>> outputs_;
};

}  // namespace quen::test
