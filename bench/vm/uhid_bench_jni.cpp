// The device side and the floor of the kernel-VM benchmark, loaded into the benchmark's own JVM
// (class com.quendal.bench.Uhid) beside the shipped bridge:
//   - uhid devices made with the kernel tests' UhidDevice: the maker's scanner, or a keyboard of
//     another maker to crowd the enumeration;
//   - input reports handed to uhid, queued at once or by a sender thread at a set moment with a
//     CLOCK_MONOTONIC stamp (System.nanoTime's clock) taken just before the UHID_INPUT2 write;
//   - the floors: poll (with the scanner's 500 ms time-out, or with none) + read on fds of their
//     own on the same hidraw node, into a new Java array;
//   - the maker's IDs the bridge searches by, for the peers to search by the same.
// Benchmark-only: never in lib/, never installed. Java calls it from one thread at a time, except
// that the sender thread runs beside a blocked read.
#include <jni.h>
#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bridge/device_ids.h"
#include "kernel/device_reports.h"
#include "kernel/uhid_device.h"
#include "support/report_descriptors.h"

namespace {

using quen::test::UhidDevice;
using quen::test::UniqueFd;
using Clock = std::chrono::steady_clock;

constexpr int kReportChars = 64;  // as the bridge returns a 64-byte report: ID 0 and 63 bytes
constexpr int kReadTimeoutMs = 500;

std::vector<std::unique_ptr<UhidDevice>> devices;
std::vector<std::string> nodes;
// 58 data bytes: L is 63, so the bridge returns the whole report, ID byte included.
const std::vector<std::uint8_t> scanReport = quen::test::ScanReport(std::string(58, 'A'), 0);

std::int64_t Nanos(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

// One report at a time, at a moment the JVM names: the JVM blocks in a read meanwhile.
class Sender {
  public:
    ~Sender() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    void Arm(UhidDevice* device, std::int64_t dueNs) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!thread_.joinable()) {
                thread_ = std::thread([this] { Run(); });
            }
            device_ = device;
            dueNs_ = dueNs;
            armed_ = true;
            stampNs_ = 0;
        }
        changed_.notify_all();
    }

    // The armed report's stamp once it has been handed over; -1 if uhid refused it.
    std::int64_t Stamp() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return !armed_; });
        return stampNs_;
    }

  private:
    void Run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return armed_ || stopping_; });
            if (stopping_) {
                return;
            }
            const std::int64_t due = dueNs_;
            UhidDevice* device = device_;
            lock.unlock();
            const timespec at{static_cast<time_t>(due / 1000000000),
                              static_cast<long>(due % 1000000000)};
            while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) != 0) {
            }
            Clock::time_point handed;
            const bool sent = device->SendInput(scanReport, &handed);
            lock.lock();
            stampNs_ = sent ? Nanos(handed) : -1;
            armed_ = false;
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread thread_;
    UhidDevice* device_ = nullptr;
    std::int64_t dueNs_ = 0;
    std::int64_t stampNs_ = 0;
    bool armed_ = false;
    bool stopping_ = false;
};

Sender sender;
// The floor's own fds on the node: one for each kind of floor read, as each needs the reports.
UniqueFd floorFds[2];

void CloseFloor() {
    for (UniqueFd& fd : floorFds) {
        fd.Reset();
    }
}

UhidDevice* Device(jint index) {
    return index >= 0 && static_cast<std::size_t>(index) < devices.size()
               ? devices[static_cast<std::size_t>(index)].get()
               : nullptr;
}

}  // namespace

extern "C" {

// Plugs in the maker's scanner (or a keyboard of another maker) and waits for its hidraw node:
// the device's index, or -1.
JNIEXPORT jint JNICALL Java_com_quendal_bench_Uhid_plug(JNIEnv*, jclass, jboolean scanner) {
    auto device = std::make_unique<UhidDevice>();
    const quen::test::TestDeviceInfo info =
        scanner != JNI_FALSE
            ? quen::test::TestDeviceInfo{"Quen scanner", quen::bridge::kMakerVendorId, 0x0101,
                                         quen::test::MakerDescriptor(quen::bridge::kScannerUsage,
                                                                     64, 64)}
            : quen::test::TestDeviceInfo{"Other keyboard", 0x046D, 0xC31C,
                                         quen::test::BootKeyboardDescriptor()};
    std::string node;
    if (!device->Create(info) || (node = device->WaitForHidraw()).empty()) {
        std::fprintf(stderr, "uhid: %s\n", device->error().c_str());
        return -1;
    }
    devices.push_back(std::move(device));
    nodes.push_back(node);
    return static_cast<jint>(devices.size() - 1);
}

// Unplugs the device plugged in last; false when there is none.
JNIEXPORT jboolean JNICALL Java_com_quendal_bench_Uhid_unplugLast(JNIEnv*, jclass) {
    if (devices.empty()) {
        return JNI_FALSE;
    }
    devices.pop_back();
    nodes.pop_back();
    return JNI_TRUE;
}

JNIEXPORT jintArray JNICALL Java_com_quendal_bench_Uhid_scannerIds(JNIEnv* env, jclass) {
    const jint ids[] = {quen::bridge::kMakerVendorId, quen::bridge::kMakerUsagePage,
                        quen::bridge::kScannerUsage, quen::bridge::kScannerUsageAlternate};
    constexpr jsize kCount = sizeof ids / sizeof ids[0];
    jintArray array = env->NewIntArray(kCount);
    if (array != nullptr) {
        env->SetIntArrayRegion(array, 0, kCount, ids);
    }
    return array;
}

JNIEXPORT jstring JNICALL Java_com_quendal_bench_Uhid_node(JNIEnv* env, jclass, jint index) {
    return Device(index) == nullptr
               ? nullptr
               : env->NewStringUTF(nodes[static_cast<std::size_t>(index)].c_str());
}

// Hands `count` scanner reports to uhid at once; the kernel queues them on every open fd of the
// node (64 at most each).
JNIEXPORT jboolean JNICALL Java_com_quendal_bench_Uhid_send(JNIEnv*, jclass, jint index,
                                                            jint count) {
    UhidDevice* device = Device(index);
    for (jint i = 0; device != nullptr && i < count; ++i) {
        if (!device->SendInput(scanReport)) {
            return JNI_FALSE;
        }
    }
    return device != nullptr ? JNI_TRUE : JNI_FALSE;
}

// Has the sender thread hand one scanner report to uhid at System.nanoTime() == dueNs.
JNIEXPORT jboolean JNICALL Java_com_quendal_bench_Uhid_sendAt(JNIEnv*, jclass, jint index,
                                                              jlong dueNs) {
    UhidDevice* device = Device(index);
    if (device == nullptr) {
        return JNI_FALSE;
    }
    sender.Arm(device, dueNs);
    return JNI_TRUE;
}

// Waits for the report of the latest sendAt to be handed over: the System.nanoTime() just before
// its UHID_INPUT2 write, or -1.
JNIEXPORT jlong JNICALL Java_com_quendal_bench_Uhid_sentAt(JNIEnv*, jclass) {
    return sender.Stamp();
}

// The floor's own fds on a node, opened as the hidraw platform opens its channels.
JNIEXPORT jboolean JNICALL Java_com_quendal_bench_Uhid_floorOpen(JNIEnv* env, jclass,
                                                                 jstring node) {
    const char* path = env->GetStringUTFChars(node, nullptr);
    if (path == nullptr) {
        return JNI_FALSE;
    }
    CloseFloor();
    for (UniqueFd& fd : floorFds) {
        fd = UniqueFd::Open(path, O_RDWR | O_NONBLOCK);
    }
    env->ReleaseStringUTFChars(node, path);
    return floorFds[0].valid() && floorFds[1].valid() ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT void JNICALL Java_com_quendal_bench_Uhid_floorClose(JNIEnv*, jclass) {
    CloseFloor();
}

namespace {

jcharArray FloorRead(JNIEnv* env, int floorFd, int timeoutMs) {
    pollfd ready{floorFd, POLLIN, 0};
    std::uint8_t bytes[kReportChars];
    if (poll(&ready, 1, timeoutMs) != 1 || read(floorFd, bytes, sizeof bytes) <= 0) {
        return nullptr;
    }
    jchar chars[kReportChars];
    for (int i = 0; i < kReportChars; ++i) {
        chars[i] = bytes[i];
    }
    jcharArray array = env->NewCharArray(kReportChars);
    if (array != nullptr) {
        env->SetCharArrayRegion(array, 0, kReportChars, chars);
    }
    return array;
}

}  // namespace

// The floor of a read: poll for the report (the scanner's 500 ms), read it, and make the Java
// array of its 64 bytes. Null when nothing came.
JNIEXPORT jcharArray JNICALL Java_com_quendal_bench_Uhid_floorRead(JNIEnv* env, jclass) {
    return FloorRead(env, floorFds[0].get(), kReadTimeoutMs);
}

// The least a read through the node can cost: poll without a time-out (the kernel reads no clock
// for it), then read, on the floor's second fd. The bridge's read of a queued report makes these
// same two system calls.
JNIEXPORT jcharArray JNICALL Java_com_quendal_bench_Uhid_floorReadNoWait(JNIEnv* env, jclass) {
    return FloorRead(env, floorFds[1].get(), 0);
}

// Reads and drops whatever the floor's fds hold: how many reports the first held.
JNIEXPORT jint JNICALL Java_com_quendal_bench_Uhid_floorDrain(JNIEnv*, jclass) {
    std::uint8_t bytes[kReportChars];
    jint drained = 0;
    while (read(floorFds[0].get(), bytes, sizeof bytes) > 0) {
        ++drained;
    }
    while (read(floorFds[1].get(), bytes, sizeof bytes) > 0) {
    }
    return drained;
}

}  // extern "C"
