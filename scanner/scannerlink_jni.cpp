// The scanner bridge's native methods for com.quendal.javapos.usb.QuenHIDOper. Each converts
// between Java and the library's one device object and does nothing else.
#include <jni.h>

#include "bridge/java_reports.h"
#include "bridge/maker_device.h"
#include "scanner/scanner_device.h"

namespace {

using namespace quen::bridge;

// Constructed when the library loads, before the JVM can call any native method.
quen::scanner::ScannerHIDDevice device;

}  // namespace

extern "C" {

JNIEXPORT jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDOper_Open(JNIEnv*, jobject) {
    return AsJboolean(OpenMakerDevice(device, kScannerChoice));
}

JNIEXPORT jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDOper_IsDeviceExist(JNIEnv*,
                                                                                  jobject) {
    return AsJboolean(MakerDeviceExists(device, kScannerChoice));
}

JNIEXPORT jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDOper_OpenScale(JNIEnv*, jobject) {
    return AsJboolean(OpenMakerDevice(device, kScaleChoice));
}

JNIEXPORT jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDOper_Close(JNIEnv*, jobject) {
    return AsJboolean(device.CloseDevice() != 0);
}

JNIEXPORT jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDOper_write(JNIEnv* env, jobject,
                                                                          jcharArray data) {
    return WriteCharsAsReport(env, data, device);
}

JNIEXPORT jcharArray JNICALL Java_com_quendal_javapos_usb_QuenHIDOper_read(JNIEnv* env, jobject) {
    std::uint8_t buffer[kReadChars];
    std::int32_t length = 0;
    if (device.ReadReport(buffer, kReadChars, length) == 0) {
        return nullptr;
    }
    return NewCharArrayFromReport(env, buffer, length);
}

JNIEXPORT jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDOper_SetMode(JNIEnv*, jobject,
                                                                            jboolean flag) {
    return AsJboolean(device.SetMode(flag != JNI_FALSE));
}

}  // extern "C"
