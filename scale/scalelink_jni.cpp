// The scale bridge's native methods for com.quendal.javapos.usb.QuenHIDScaleOper. Each converts
// between Java and the library's one device object and does nothing else.
#include <jni.h>

#include "bridge/device_state.h"
#include "bridge/java_reports.h"
#include "bridge/maker_device.h"
#include "scale/scale_device.h"

namespace {

using namespace quen::bridge;

// Constructed when the library loads, before the JVM can call any native method.
quen::scale::ScaleHIDDevice device;

}  // namespace

extern "C" {

JNIEXPORT jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDScaleOper_Open(JNIEnv*, jobject) {
    return AsJboolean(OpenMakerDevice(device, kScaleChoice));
}

JNIEXPORT jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDScaleOper_IsDeviceExist(JNIEnv*,
                                                                                       jobject) {
    return AsJboolean(MakerDeviceExists(device, kScaleChoice));
}

JNIEXPORT jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDScaleOper_Close(JNIEnv*, jobject) {
    return AsJboolean(device.CloseDevice());
}

JNIEXPORT jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDScaleOper_write(JNIEnv* env, jobject,
                                                                               jcharArray data) {
    return WriteCharsAsReport(env, data, device);
}

JNIEXPORT jcharArray JNICALL Java_com_quendal_javapos_usb_QuenHIDScaleOper_read(JNIEnv* env,
                                                                                jobject) {
    jchar block[quen::scale::kBlockCapacity];
    std::int32_t length = 0;
    if (!device.ReadReport(block, quen::scale::kBlockCapacity, length)) {
        return nullptr;
    }
    return NewCharArrayOf(env, block, length);
}

JNIEXPORT jstring JNICALL Java_com_quendal_javapos_usb_QuenHIDScaleOper_DeviceState(JNIEnv* env,
                                                                                    jclass) {
    char text[kStateTextCapacity];
    DescribeState(device, kScaleChoice, text, sizeof text);
    return NewStringOf(env, text);
}

}  // extern "C"
