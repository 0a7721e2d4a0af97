// A till's shift, soaked, under Wine: the application's side of the soak shift
// (tests/kernel/shift_run.h) as TillShift.java plays it through the Java classes on Linux, here
// through the shipped DLLs' exports with the fake JNIEnv, in the VM boot of
// wine_dll_bridges_test.cpp. The device controller beside it plays the devices from the seed and
// keeps the accounting. The program's --shift=SEED,SCANS,RESEATS,FLASHES sets the size.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

#include "kernel/wine_dlls.h"
#include "support/process_resources.h"

namespace quen::test {
namespace {

// Under Wine the devices take seconds to come and go: a short shift by default.
std::string shiftSize = "23,200,2,1";

std::int64_t ClockNs() {
    LARGE_INTEGER now;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    const std::int64_t f = frequency.QuadPart;
    return now.QuadPart / f * 1000000000 + now.QuadPart % f * 1000000000 / f;
}

std::int64_t Ns(const FILETIME& kernel, const FILETIME& user) {
    const auto ticks = [](const FILETIME& t) {
        return static_cast<std::int64_t>((std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) * 100;
}

// CPU time of this thread, and of the process; Wine counts both in the kernel's 10 ms ticks.
std::int64_t ThreadCpuNs() {
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    return Ns(kernel, user);
}
std::int64_t ProcessCpuNs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return Ns(kernel, user);
}

long ThreadCount() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    long count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    }
    CloseHandle(snapshot);
    return count;
}

std::string Hex(const std::u16string& chars) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const char16_t c : chars) {
        text += kDigits[(c >> 4) & 0xF];
        text += kDigits[c & 0xF];
    }
    return text;
}

// The application: a reader on each device, a writer to the scanner, and the controller's
// requests answered on the test's own thread.
class WineShift {
  public:
    bool Run() {
        std::string size = shiftSize;
        std::replace(size.begin(), size.end(), ',', ' ');
        EXPECT_TRUE(link_.SendLine("shift " + size));
        for (std::string line; link_.ReceiveLine(&line);) {
            const std::string verb = line.substr(0, line.find(' '));
            const std::string rest = line.substr(verb.size() + (verb.size() < line.size()));
            if (verb == "ready") {
                OpenBoth();
                threads_[0] = std::thread([this] { ReadScans(); });
                threads_[1] = std::thread([this] { ReadWeights(); });
                threads_[2] = std::thread([this] { WriteCommands(); });
                Say("go");
            } else if (verb == "ping") {
                Say("pong " + std::to_string(ClockNs()));
            } else if (verb == "mode") {
                wantedMode_ = std::stoi(rest);
            } else if (verb == "cycle") {
                const std::string state = scanner_.State();
                scanner_.Close();
                scale_.Close();
                OpenBoth();
                Say("cycled " + state);
            } else if (verb == "sample") {
                Say("sample " + Sample());
            } else if (verb == "finish") {
                stop_ = true;
                for (std::thread& thread : threads_) {
                    thread.join();
                }
                const std::string state = scanner_.State();
                scanner_.Close();
                scale_.Close();
                Say("finished " + state);
            } else if (verb == "end") {
                return rest == "pass";
            }
        }
        ADD_FAILURE() << "the device controller hung up";
        stop_ = true;
        for (std::thread& thread : threads_) {
            if (thread.joinable()) {
                thread.join();
            }
        }
        return false;
    }

  private:
    void Say(const std::string& line) { link_.SendLine(line); }

    void OpenBoth() {
        for (int tries = 0; !(scanner_.Open() && scale_.Open()) && tries < 100; ++tries) {
            Sleep(500);
        }
    }

    // A read that returned null at once is a closed device: wait a little, as a till would.
    static bool Paced(std::int64_t startNs) {
        if (ClockNs() - startNs < 400000000) {
            Sleep(20);
            return false;
        }
        return true;
    }

    void ReadScans() {
        int mode = 0;
        bool lastNull = false;
        ScannerCalls(scannerExports_).SetMode(false);
        while (!stop_) {
            // A fake JNIEnv of its own for each call: its arrays live as long as it does.
            ScannerCalls calls(scannerExports_);
            if (wantedMode_ != mode) {
                mode = wantedMode_;
                calls.SetMode(mode == 1);
                Say("mode " + std::to_string(mode));
            }
            const std::int64_t start = ClockNs();
            const std::int64_t cpu = ThreadCpuNs();
            const jcharArray read = calls.Read();
            readCpu_ += ThreadCpuNs() - cpu;
            if (read != nullptr) {
                Say("scan " + std::to_string(ClockNs()) + " " + std::to_string(mode) + " " +
                    Hex(calls.jni.Chars(read)));
            } else if (!Paced(start) && lastNull && calls.State().rfind("closed", 0) != 0) {
                ++quickNulls_;
            }
            lastNull = read == nullptr;
        }
    }

    void ReadWeights() {
        while (!stop_) {
            ScaleCalls calls(scaleExports_);
            const std::int64_t start = ClockNs();
            const jcharArray read = calls.Read();
            if (read != nullptr) {
                Say("weight " + std::to_string(ClockNs()) + " " + Hex(calls.jni.Chars(read)));
            } else {
                Paced(start);
            }
        }
    }

    void WriteCommands() {
        char command[16];
        for (int seq = 0; !stop_; ++seq) {
            ScannerCalls calls(scannerExports_);
            std::snprintf(command, sizeof command, "C%06d", seq);
            const std::int64_t start = ClockNs();
            const std::int64_t cpu = ThreadCpuNs();
            const bool taken = calls.Write(std::u16string(command, command + 7));
            writeCpu_ += ThreadCpuNs() - cpu;
            Say("wrote " + std::to_string(seq) + " " + (taken ? "1 " : "0 ") +
                std::to_string(start) + " " + std::to_string(ClockNs()));
            Sleep(100);
        }
    }

    // File handles, threads, working set kB, process CPU ns, the scanner's calls' CPU ns, quick
    // nulls.
    std::string Sample() {
        PROCESS_MEMORY_COUNTERS memory{};
        GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
        return std::to_string(OpenFileHandleCount()) + " " + std::to_string(ThreadCount()) + " " +
               std::to_string(memory.WorkingSetSize / 1024) + " " + std::to_string(ProcessCpuNs()) +
               " " + std::to_string(readCpu_ + writeCpu_) + " " + std::to_string(quickNulls_);
    }

    DeviceControl& link_ = Dlls().devices;
    const ScannerExports scannerExports_ = Dlls().Scanner();
    const ScaleExports scaleExports_ = Dlls().Scale();
    ScannerCalls scanner_{scannerExports_};
    ScaleCalls scale_{scaleExports_};
    std::thread threads_[3];
    std::atomic<bool> stop_{false};
    std::atomic<int> wantedMode_{0};
    std::atomic<long> quickNulls_{0};
    std::atomic<std::int64_t> readCpu_{0};
    std::atomic<std::int64_t> writeCpu_{0};
};

TEST(WineShift, NoScanLostOutsideAnUnplugNoneDuplicatedSplicedOrCorruptedNoHandleLeft) {
    ASSERT_TRUE(Dlls().connected) << "no device controller: " << Dlls().devices.error();
    WineShift shift;
    EXPECT_TRUE(shift.Run()) << "the accounting failed: see the shift: lines above";
}

}  // namespace
}  // namespace quen::test

// gtest's own main, which also takes the shift's size.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--shift=", 8) == 0) {
            quen::test::shiftSize = argv[i] + 8;
        }
    }
    return RUN_ALL_TESTS();
}
