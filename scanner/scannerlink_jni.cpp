// The scanner bridge's native methods for com.quendal.javapos.usb.QuenHIDOper. Each converts
// between Java and the library's one device object and does nothing else.
#include <jni.h>

#include <atomic>

#include "bridge/device_state.h"
#include "bridge/java_reports.h"
#include "bridge/maker_device.h"
#include "scanner/scanner_device.h"

namespace {

using namespace quen::bridge;

// Constructed when the library loads, before the JVM can call any native method.
quen::scanner::ScannerHIDDevice device;
// What the last Open asked for, the scanner or (OpenScale) a scale: where DeviceState looks for
// a hint when the device may not be opened. Read on any thread.
std::atomic<const UsageChoice*> opened{&kScannerChoice};

jboolean OpenAs(const UsageChoice& choice) {
    opened.store(&choice);
    return AsJboolean(OpenMakerDevice(device, choice));
}

}  // namespace

extern "C" {

JNIEXPORT jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDOper_Open(JNIEnv*, jobject) {
    return OpenAs(kScannerChoice);
}

JNIEXPORT jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDOper_IsDeviceExist(JNIEnv*,
                                                                                  jobject) {
    return AsJboolean(MakerDeviceExists(device, kScannerChoice));
}

JNIEXPORT jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDOper_OpenScale(JNIEnv*, jobject) {
    return OpenAs(kScaleChoice);
}

JNIEXPORT jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDOper_Close(JNIEnv*, jobject) {
    return AsJboolean(device.CloseDevice());
}

JNIEXPORT jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDOper_write(JNIEnv* env, jobject,
                                                                          jcharArray data) {
    return WriteCharsAsReport(env, data, device);
}

JNIEXPORT jcharArray JNICALL Java_com_quendal_javapos_usb_QuenHIDOper_read(JNIEnv* env, jobject) {
    jchar buffer[kReadChars];
    std::int32_t length = 0;
    if (!device.ReadReport(buffer, kReadChars, length)) {
        return nullptr;
    }
    return NewCharArrayOf(env, buffer, length);
}

JNIEXPORT jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDOper_SetMode(JNIEnv*, jobject,
                                                                            jboolean flag) {
    return AsJboolean(device.SetMode(flag != JNI_FALSE));
}

JNIEXPORT jstring JNICALL Java_com_quendal_javapos_usb_QuenHIDOper_DeviceState(JNIEnv* env,
                                                                               jclass) {
    char text[kStateTextCapacity];
    DescribeState(device, *opened.load(), text, sizeof text);
    return NewStringOf(env, text);
}

}  // extern "C"
