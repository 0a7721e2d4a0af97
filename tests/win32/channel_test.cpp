// The Windows platform's report reads and writes on real overlapped handles. A message-mode named
// pipe stands in for the device: each pipe message is one report, the test holds the device end.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "hid/deadline.h"
#include "hid/platform.h"

namespace quen::test {
namespace {

using hid::ChannelKind;
using hid::IoOutcome;
using hid::NativeHandle;
namespace platform = hid::platform;

constexpr std::uint32_t kReportLength = 65;
constexpr std::uint8_t kUntouched = 0xAA;

std::int64_t MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

std::vector<std::uint8_t> Report(std::uint8_t first) {
    std::vector<std::uint8_t> report(kReportLength);
    for (std::size_t i = 1; i < report.size(); ++i) {
        report[i] = static_cast<std::uint8_t>(first + i);
    }
    return report;
}

// The device end of a pipe, and a channel opened on it through the platform layer with a fresh
// completion event (signalled, as the platform creates it).
class PipeDevice : public ::testing::Test {
  protected:
    // inboundBytes is the pipe's buffer towards the device: a write that does not fit stays
    // pending until the device reads, which the tests never do when they want one to hang.
    void Start(ChannelKind kind, DWORD inboundBytes = 4096) {
        static int serial = 0;
        path_ = "\\\\.\\pipe\\quenlink-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(++serial);
        device_ = CreateNamedPipeA(path_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096,
                                   inboundBytes, 0, nullptr);
        ASSERT_NE(device_, INVALID_HANDLE_VALUE);
        channel_ = platform::OpenChannel(path_.c_str(), kind);
        ASSERT_NE(channel_, hid::kInvalidHandle);
        event_ = platform::CreateCompletionEvent();
        ASSERT_NE(event_, hid::kNoEvent);
    }

    void TearDown() override {
        if (channel_ != hid::kInvalidHandle) {
            platform::CloseChannel(channel_);
        }
        if (event_ != hid::kNoEvent) {
            CloseHandle(reinterpret_cast<HANDLE>(event_));
        }
        CloseDevice();
    }

    void CloseDevice() {
        if (device_ != INVALID_HANDLE_VALUE) {
            CloseHandle(device_);
            device_ = INVALID_HANDLE_VALUE;
        }
    }

    // Device side, plain blocking calls on its own OVERLAPPED.
    void DeviceSends(const std::vector<std::uint8_t>& report) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        DWORD written = 0;
        if (!WriteFile(device_, report.data(), static_cast<DWORD>(report.size()), &written,
                       &overlapped)) {
            ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
            ASSERT_TRUE(GetOverlappedResult(device_, &overlapped, &written, TRUE));
        }
        CloseHandle(overlapped.hEvent);
        ASSERT_EQ(written, report.size());
    }

    std::vector<std::uint8_t> DeviceReceives(DWORD timeoutMs) {
        std::vector<std::uint8_t> message(4096);
        OVERLAPPED overlapped{};
        overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        DWORD got = 0;
        BOOL ok = ReadFile(device_, message.data(), static_cast<DWORD>(message.size()), &got,
                           &overlapped);
        if (!ok && GetLastError() == ERROR_IO_PENDING) {
            if (WaitForSingleObject(overlapped.hEvent, timeoutMs) != WAIT_OBJECT_0) {
                CancelIo(device_);
            }
            ok = GetOverlappedResult(device_, &overlapped, &got, TRUE);
        }
        CloseHandle(overlapped.hEvent);
        message.resize(ok ? got : 0);
        return message;
    }

    IoOutcome Read(std::uint8_t* buffer, std::uint32_t timeoutMs) {
        hid::Deadline deadline(timeoutMs);
        return platform::ReadInputReport(channel_, event_, buffer, kReportLength, deadline);
    }

    IoOutcome Write(const std::vector<std::uint8_t>& report, std::uint32_t timeoutMs) {
        hid::Deadline deadline(timeoutMs);
        return platform::WriteOutputReport(channel_, event_, report.data(),
                                           static_cast<std::uint32_t>(report.size()), deadline);
    }

    std::string path_;
    HANDLE device_ = INVALID_HANDLE_VALUE;
    NativeHandle channel_ = hid::kInvalidHandle;
    NativeHandle event_ = hid::kNoEvent;
};

using ReadChannel = PipeDevice;
using WriteChannel = PipeDevice;

TEST_F(ReadChannel, SilentDeviceTimesOutAndTheCancelledReadNeverTouchesTheBuffer) {
    Start(ChannelKind::Read);
    std::vector<std::uint8_t> buffer(256, kUntouched);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Read(buffer.data(), 300), IoOutcome::TimedOut);
    const auto elapsed = MillisecondsSince(start);
    EXPECT_GE(elapsed, 290);
    EXPECT_LT(elapsed, 3000);

    // A report that comes after the time-out must neither land in the old buffer nor be lost:
    // the next read gets it.
    const auto report = Report(0x10);
    DeviceSends(report);
    Sleep(100);
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(256, kUntouched));
    EXPECT_EQ(Read(buffer.data(), 1000), IoOutcome::Completed);
    EXPECT_TRUE(std::equal(report.begin(), report.end(), buffer.begin()));
    EXPECT_EQ(buffer[kReportLength], kUntouched);
}

TEST_F(ReadChannel, ReportArrivingWithinTheTimeOutCompletesTheRead) {
    Start(ChannelKind::Read);
    const auto report = Report(0x20);
    std::thread device([&] {
        Sleep(150);
        DeviceSends(report);
    });
    std::vector<std::uint8_t> buffer(256, kUntouched);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Read(buffer.data(), 5000), IoOutcome::Completed);
    EXPECT_LT(MillisecondsSince(start), 4000);
    device.join();
    EXPECT_TRUE(std::equal(report.begin(), report.end(), buffer.begin()));
}

TEST_F(ReadChannel, ReportAlreadyWaitingCompletesEvenWithNoTimeToWait) {
    // Either ReadFile completes at once, or the zero wait runs out first and the report is taken
    // while the read is cancelled: both are a completed read, not a time-out.
    Start(ChannelKind::Read);
    const auto report = Report(0x30);
    DeviceSends(report);
    std::vector<std::uint8_t> buffer(256, kUntouched);
    EXPECT_EQ(Read(buffer.data(), 0), IoOutcome::Completed);
    EXPECT_TRUE(std::equal(report.begin(), report.end(), buffer.begin()));
}

TEST_F(ReadChannel, NoReportIsLostWhenReportsArriveJustAsReadsTimeOut) {
    // Reads with a 1 ms time-out against a stream of reports: some reports complete a read while
    // it is being cancelled. Such a read must count as completed, or its report would be lost.
    Start(ChannelKind::Read);
    constexpr int kReports = 300;
    std::thread device([&] {
        for (int i = 0; i < kReports; ++i) {
            auto report = Report(0);
            report[1] = static_cast<std::uint8_t>(i);
            report[2] = static_cast<std::uint8_t>(i >> 8);
            DeviceSends(report);
            // Arrivals spread over the read cycle: now and then a read times out.
            Sleep(static_cast<DWORD>(i % 3));
            for (volatile int spin = 0; spin < (i % 7) * 5000; ++spin) {
            }
        }
    });
    std::vector<int> received;
    int timedOut = 0;
    const auto start = std::chrono::steady_clock::now();
    while (received.size() < kReports && MillisecondsSince(start) < 20000) {
        std::vector<std::uint8_t> buffer(256, kUntouched);
        const IoOutcome outcome = Read(buffer.data(), 1);
        if (outcome == IoOutcome::Completed) {
            received.push_back(buffer[1] | (buffer[2] << 8));
        } else {
            ASSERT_EQ(outcome, IoOutcome::TimedOut);
            EXPECT_EQ(buffer, std::vector<std::uint8_t>(256, kUntouched));
            ++timedOut;
        }
    }
    device.join();
    ASSERT_EQ(received.size(), static_cast<std::size_t>(kReports)) << timedOut << " time-outs";
    for (int i = 0; i < kReports; ++i) {
        EXPECT_EQ(received[static_cast<std::size_t>(i)], i);
    }
    EXPECT_GT(timedOut, 0) << "the reads never timed out: the race was not exercised";
}

TEST_F(ReadChannel, BrokenChannelFailsAndNeverGivesAPhantomReport) {
    // The event is still signalled from its creation: a read judged by the event alone would
    // return a phantom report here. (Keeping a polling caller's pace on a dead device is the
    // device object's part: the platform says Failed as soon as it knows.)
    Start(ChannelKind::Read);
    CloseDevice();
    std::vector<std::uint8_t> buffer(256, kUntouched);
    for (int round = 0; round < 2; ++round) {  // the second after the event went through one
        EXPECT_EQ(Read(buffer.data(), 300), IoOutcome::Failed);
    }
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(256, kUntouched));
}

TEST_F(ReadChannel, DeviceGoneDuringTheReadFailsAndLeavesTheBufferAlone) {
    Start(ChannelKind::Read);
    std::thread unplug([&] {
        Sleep(100);
        CloseDevice();
    });
    std::vector<std::uint8_t> buffer(256, kUntouched);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Read(buffer.data(), 600), IoOutcome::Failed);
    const auto elapsed = MillisecondsSince(start);
    unplug.join();
    EXPECT_LT(elapsed, 5000);
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(256, kUntouched));
}

TEST_F(ReadChannel, ReadWhoseWaitFailsIsOverWhenItReturns) {
    // A handle to the completion event that ReadFile may set but nobody may wait on: the wait
    // fails, and the cancelled read must be waited for some other way.
    Start(ChannelKind::Read);
    HANDLE unwaitable = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(event_),
                                GetCurrentProcess(), &unwaitable, EVENT_MODIFY_STATE, FALSE, 0));
    ASSERT_EQ(WaitForSingleObject(unwaitable, 0), WAIT_FAILED);
    std::vector<std::uint8_t> buffer(256, kUntouched);
    hid::Deadline deadline(300);
    EXPECT_EQ(platform::ReadInputReport(channel_, reinterpret_cast<NativeHandle>(unwaitable),
                                        buffer.data(), kReportLength, deadline),
              IoOutcome::Failed);
    CloseHandle(unwaitable);

    // The read was over: a report sent now neither lands in its buffer nor is lost.
    const auto report = Report(0x18);
    DeviceSends(report);
    Sleep(100);
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(256, kUntouched));
    EXPECT_EQ(Read(buffer.data(), 1000), IoOutcome::Completed);
    EXPECT_TRUE(std::equal(report.begin(), report.end(), buffer.begin()));
}

TEST_F(WriteChannel, WriteTheDeviceTakesCompletesAndDeliversTheWholeReport) {
    Start(ChannelKind::Write);
    const auto report = Report(0x40);
    EXPECT_EQ(Write(report, 6000), IoOutcome::Completed);
    EXPECT_EQ(DeviceReceives(1000), report);
    // The event is reused: a second write goes through the same way.
    EXPECT_EQ(Write(Report(0x50), 6000), IoOutcome::Completed);
    EXPECT_EQ(DeviceReceives(1000), Report(0x50));
}

TEST_F(WriteChannel, WriteTheDeviceNeverTakesTimesOutAndIsCancelled) {
    // A pipe with no inbound buffer holds a write until the device reads, which it never does.
    Start(ChannelKind::Write, 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Write(Report(0x60), 300), IoOutcome::TimedOut);
    const auto elapsed = MillisecondsSince(start);
    EXPECT_GE(elapsed, 290);
    EXPECT_LT(elapsed, 3000);
    // The cancelled write is over: the device finds nothing of it.
    EXPECT_TRUE(DeviceReceives(100).empty());
}

TEST_F(WriteChannel, BrokenChannelFailsAtOnceDespiteTheSignalledEvent) {
    // A write judged by the signalled event alone would count as done.
    Start(ChannelKind::Write);
    CloseDevice();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Write(Report(0x70), 6000), IoOutcome::Failed);
    EXPECT_LT(MillisecondsSince(start), 1000);
    EXPECT_EQ(Write(Report(0x70), 6000), IoOutcome::Failed);
}

TEST(OpenChannel, KeepsTheCauseOfTheLatestFailureOnItsThread) {
    char temp[MAX_PATH];
    ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
    const std::string file =
        std::string(temp) + "quenlink-open-" + std::to_string(GetCurrentProcessId());
    HANDLE held = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const auto failure = [](const std::string& path, ChannelKind kind) {
        const NativeHandle channel = platform::OpenChannel(path.c_str(), kind);
        if (channel != hid::kInvalidHandle) {
            platform::CloseChannel(channel);
        }
        return platform::LastOpenFailure();
    };
    // Held without sharing by another program.
    EXPECT_EQ(failure(file, ChannelKind::Read), hid::OpenFailure::Busy);
    CloseHandle(held);
    // CreateFile refuses a folder opened as a file with "access denied".
    EXPECT_EQ(failure(temp, ChannelKind::Write), hid::OpenFailure::PermissionDenied);
    EXPECT_EQ(failure(file, ChannelKind::Read), hid::OpenFailure::None);
    EXPECT_EQ(failure("\\\\.\\pipe\\quenlink-no-such-device", ChannelKind::Read),
              hid::OpenFailure::NotFound);
    // Another thread's success does not answer for this one.
    std::thread([&] {
        EXPECT_EQ(failure(file, ChannelKind::Read), hid::OpenFailure::None);
    }).join();
    EXPECT_EQ(platform::LastOpenFailure(), hid::OpenFailure::NotFound);
    DeleteFileA(file.c_str());
}

TEST(CompletionEvent, EachIsAnEventOfItsOwnAndStartsSignalled) {
    // The events are created with an empty name; a named event would be shared between the
    // read and the write side and between the two libraries.
    const NativeHandle first = platform::CreateCompletionEvent();
    const NativeHandle second = platform::CreateCompletionEvent();
    ASSERT_NE(first, hid::kNoEvent);
    ASSERT_NE(second, hid::kNoEvent);
    const HANDLE a = reinterpret_cast<HANDLE>(first);
    const HANDLE b = reinterpret_cast<HANDLE>(second);
    EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_OBJECT_0);
    ResetEvent(a);
    EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(a, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(a);
    CloseHandle(b);
}

}  // namespace
}  // namespace quen::test
