// The HID bridges' exported functions, called as the JVM calls them with a fake JNIEnv. The same
// calls serve the tests on the simulated bus and the tests against a real kernel.
#pragma once

#include <gtest/gtest.h>
#include <jni.h>

#include <string>

#include "support/fake_jni.h"

extern "C" {
jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDOper_Open(JNIEnv*, jobject);
jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDOper_IsDeviceExist(JNIEnv*, jobject);
jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDOper_OpenScale(JNIEnv*, jobject);
jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDOper_Close(JNIEnv*, jobject);
jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDOper_write(JNIEnv*, jobject, jcharArray);
jcharArray JNICALL Java_com_quendal_javapos_usb_QuenHIDOper_read(JNIEnv*, jobject);
jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDOper_SetMode(JNIEnv*, jobject, jboolean);

jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDScaleOper_Open(JNIEnv*, jobject);
jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDScaleOper_IsDeviceExist(JNIEnv*, jobject);
jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDScaleOper_Close(JNIEnv*, jobject);
jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDScaleOper_write(JNIEnv*, jobject, jcharArray);
jcharArray JNICALL Java_com_quendal_javapos_usb_QuenHIDScaleOper_read(JNIEnv*, jobject);
}

namespace quen::test {

// What every call through a fake JNIEnv must leave behind: no access outside an array, and no
// exception that would reach the Java caller.
inline void ExpectCleanJni(const FakeJni& jni) {
    EXPECT_EQ(jni.boundsViolations, 0);
    EXPECT_FALSE(jni.ExceptionPending()) << "an exception would reach the Java caller";
    EXPECT_EQ(jni.callsWhilePending, 0);
}

// The scanner bridge, as QuenHIDOper calls it, with a JNIEnv of its own.
class ScannerCalls {
  public:
    bool Open() { return Java_com_quendal_javapos_usb_QuenHIDOper_Open(env(), nullptr); }
    bool OpenScale() { return Java_com_quendal_javapos_usb_QuenHIDOper_OpenScale(env(), nullptr); }
    bool Exists() { return Java_com_quendal_javapos_usb_QuenHIDOper_IsDeviceExist(env(), nullptr); }
    bool Close() { return Java_com_quendal_javapos_usb_QuenHIDOper_Close(env(), nullptr); }
    bool Write(jcharArray data) {
        return Java_com_quendal_javapos_usb_QuenHIDOper_write(env(), nullptr, data);
    }
    bool Write(const std::u16string& chars) { return Write(jni.NewCharArray(chars)); }
    jcharArray Read() { return Java_com_quendal_javapos_usb_QuenHIDOper_read(env(), nullptr); }
    bool SetMode(bool segmented) {
        return Java_com_quendal_javapos_usb_QuenHIDOper_SetMode(env(), nullptr,
                                                                segmented ? JNI_TRUE : JNI_FALSE);
    }

    FakeJni jni;

  private:
    JNIEnv* env() { return jni.env(); }
};

// The scale bridge, as QuenHIDScaleOper calls it, with a JNIEnv of its own.
class ScaleCalls {
  public:
    bool Open() { return Java_com_quendal_javapos_usb_QuenHIDScaleOper_Open(env(), nullptr); }
    bool Exists() {
        return Java_com_quendal_javapos_usb_QuenHIDScaleOper_IsDeviceExist(env(), nullptr);
    }
    bool Close() { return Java_com_quendal_javapos_usb_QuenHIDScaleOper_Close(env(), nullptr); }
    bool Write(jcharArray data) {
        return Java_com_quendal_javapos_usb_QuenHIDScaleOper_write(env(), nullptr, data);
    }
    bool Write(const std::u16string& chars) { return Write(jni.NewCharArray(chars)); }
    jcharArray Read() { return Java_com_quendal_javapos_usb_QuenHIDScaleOper_read(env(), nullptr); }

    FakeJni jni;

  private:
    JNIEnv* env() { return jni.env(); }
};

}  // namespace quen::test
