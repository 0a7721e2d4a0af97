// A peer of the kernel VM benchmark: the maker's scanner found, opened and read with Debian's
// hidapi (hidraw backend) from C, as a native developer would, behind a thin JNI skin so that the
// harness times it in the same JVM, on the same node, taking turns with the bridge
// (class com.quendal.bench.HidapiFromC). Its read makes the same Java array as the bridge's: the
// bytes widened to chars by sign extension (bridge/report_units.h). Benchmark-only: never in
// lib/, never installed. Java calls it from one thread at a time.
#include <jni.h>
#include <hidapi/hidapi.h>

#include <memory>

#include "bridge/device_ids.h"
#include "bridge/report_units.h"

namespace {

constexpr int kReportBytes = 64;     // the scanner's input report, as the bridge reads it
constexpr int kReadTimeoutMs = 500;  // the scanner's read time-out

using DeviceHandle = std::unique_ptr<hid_device, decltype(&hid_close)>;
using DeviceList = std::unique_ptr<hid_device_info, decltype(&hid_free_enumeration)>;

DeviceHandle device(nullptr, hid_close);

// The first listed interface on the maker's page with this usage, or null. hidapi lists one
// entry per top-level collection, each with its usage page and usage.
const hid_device_info* FirstWithUsage(const hid_device_info* list, unsigned short usage) {
    for (const hid_device_info* entry = list; entry != nullptr; entry = entry->next) {
        if (entry->usage_page == quen::bridge::kMakerUsagePage && entry->usage == usage) {
            return entry;
        }
    }
    return nullptr;
}

}  // namespace

extern "C" {

// Closes the scanner if open, then lists the maker's devices, takes the first with the scanner's
// usage (else its alternate usage) and opens it: false when none is listed or it does not open.
JNIEXPORT jboolean JNICALL Java_com_quendal_bench_HidapiFromC_open(JNIEnv*, jclass) {
    device.reset();
    const DeviceList list(hid_enumerate(quen::bridge::kMakerVendorId, 0), hid_free_enumeration);
    const hid_device_info* scanner = FirstWithUsage(list.get(), quen::bridge::kScannerUsage);
    if (scanner == nullptr) {
        scanner = FirstWithUsage(list.get(), quen::bridge::kScannerUsageAlternate);
    }
    if (scanner != nullptr) {
        device.reset(hid_open_path(scanner->path));
    }
    return device != nullptr ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT void JNICALL Java_com_quendal_bench_HidapiFromC_close(JNIEnv*, jclass) {
    device.reset();
}

// hid_read_timeout with the scanner's time-out, then the report as a new char array; null when
// nothing came.
JNIEXPORT jcharArray JNICALL Java_com_quendal_bench_HidapiFromC_read(JNIEnv* env, jclass) {
    unsigned char bytes[kReportBytes];
    const int length = device != nullptr
                           ? hid_read_timeout(device.get(), bytes, sizeof bytes, kReadTimeoutMs)
                           : -1;
    if (length <= 0) {
        return nullptr;
    }
    jchar chars[kReportBytes];
    quen::bridge::StoreReportUnits(chars, bytes, length);
    jcharArray array = env->NewCharArray(length);
    if (array != nullptr) {
        env->SetCharArrayRegion(array, 0, length, chars);
    }
    return array;
}

// Reads and drops the reports already queued for the device: how many there were.
JNIEXPORT jint JNICALL Java_com_quendal_bench_HidapiFromC_drain(JNIEnv*, jclass) {
    unsigned char bytes[kReportBytes];
    jint drained = 0;
    while (device != nullptr && hid_read_timeout(device.get(), bytes, sizeof bytes, 0) > 0) {
        ++drained;
    }
    return drained;
}

}  // extern "C"
