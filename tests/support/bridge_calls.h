// The HID bridges' exported functions, called as the JVM calls them with a fake JNIEnv. The same
// calls serve the tests on the simulated bus, the tests against a real kernel, and the shipped
// Windows DLLs loaded at run time.
#pragma once

#include <gtest/gtest.h>
#include <jni.h>

#include <cstdint>
#include <string>
#include <type_traits>

#include "support/fake_jni.h"
#include "support/stdcall_probe.h"

extern "C" {
jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDOper_Open(JNIEnv*, jobject);
jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDOper_IsDeviceExist(JNIEnv*, jobject);
jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDOper_OpenScale(JNIEnv*, jobject);
jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDOper_Close(JNIEnv*, jobject);
jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDOper_write(JNIEnv*, jobject, jcharArray);
jcharArray JNICALL Java_com_quendal_javapos_usb_QuenHIDOper_read(JNIEnv*, jobject);
jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDOper_SetMode(JNIEnv*, jobject, jboolean);
jstring JNICALL Java_com_quendal_javapos_usb_QuenHIDOper_DeviceState(JNIEnv*, jclass);

jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDScaleOper_Open(JNIEnv*, jobject);
jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDScaleOper_IsDeviceExist(JNIEnv*, jobject);
jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDScaleOper_Close(JNIEnv*, jobject);
jboolean JNICALL Java_com_quendal_javapos_usb_QuenHIDScaleOper_write(JNIEnv*, jobject, jcharArray);
jcharArray JNICALL Java_com_quendal_javapos_usb_QuenHIDScaleOper_read(JNIEnv*, jobject);
jstring JNICALL Java_com_quendal_javapos_usb_QuenHIDScaleOper_DeviceState(JNIEnv*, jclass);
}

namespace quen::test {

// What every call through a fake JNIEnv must leave behind: no access outside an array, and no
// exception that would reach the Java caller.
inline void ExpectCleanJni(const FakeJni& jni) {
    EXPECT_EQ(jni.boundsViolations, 0);
    EXPECT_FALSE(jni.ExceptionPending()) << "an exception would reach the Java caller";
    EXPECT_EQ(jni.callsWhilePending, 0);
}

inline std::string StateText(const FakeJni& jni, jstring state) {
    return state == nullptr ? std::string() : jni.Utf8(state);
}

// Each bridge's exported functions: those linked into the test program, or those a test found in
// a loaded DLL by their JNI names.
struct ScannerExports {
    jboolean(JNICALL* open)(JNIEnv*, jobject);
    jboolean(JNICALL* exists)(JNIEnv*, jobject);
    jboolean(JNICALL* openScale)(JNIEnv*, jobject);
    jboolean(JNICALL* close)(JNIEnv*, jobject);
    jboolean(JNICALL* write)(JNIEnv*, jobject, jcharArray);
    jcharArray(JNICALL* read)(JNIEnv*, jobject);
    jboolean(JNICALL* setMode)(JNIEnv*, jobject, jboolean);
    jstring(JNICALL* state)(JNIEnv*, jclass);
};
struct ScaleExports {
    jboolean(JNICALL* open)(JNIEnv*, jobject);
    jboolean(JNICALL* exists)(JNIEnv*, jobject);
    jboolean(JNICALL* close)(JNIEnv*, jobject);
    jboolean(JNICALL* write)(JNIEnv*, jobject, jcharArray);
    jcharArray(JNICALL* read)(JNIEnv*, jobject);
    jstring(JNICALL* state)(JNIEnv*, jclass);
};

inline ScannerExports LinkedScannerExports() {
    return {&Java_com_quendal_javapos_usb_QuenHIDOper_Open,
            &Java_com_quendal_javapos_usb_QuenHIDOper_IsDeviceExist,
            &Java_com_quendal_javapos_usb_QuenHIDOper_OpenScale,
            &Java_com_quendal_javapos_usb_QuenHIDOper_Close,
            &Java_com_quendal_javapos_usb_QuenHIDOper_write,
            &Java_com_quendal_javapos_usb_QuenHIDOper_read,
            &Java_com_quendal_javapos_usb_QuenHIDOper_SetMode,
            &Java_com_quendal_javapos_usb_QuenHIDOper_DeviceState};
}
inline ScaleExports LinkedScaleExports() {
    return {&Java_com_quendal_javapos_usb_QuenHIDScaleOper_Open,
            &Java_com_quendal_javapos_usb_QuenHIDScaleOper_IsDeviceExist,
            &Java_com_quendal_javapos_usb_QuenHIDScaleOper_Close,
            &Java_com_quendal_javapos_usb_QuenHIDScaleOper_write,
            &Java_com_quendal_javapos_usb_QuenHIDScaleOper_read,
            &Java_com_quendal_javapos_usb_QuenHIDScaleOper_DeviceState};
}

// Calls a native method as the JVM does. On x86 Windows the arguments are pushed by hand and the
// call fails the test unless the method removed them (__stdcall), which the JVM relies on.
template <typename R, typename... Params, typename... Args>
R CallNative(R(JNICALL* method)(Params...), Args... args) {
#if defined(QUEN_STDCALL_PROBE)
    const std::uint32_t words[] = {StackWord(static_cast<Params>(args))...};
    std::uint32_t result = 0;
    EXPECT_EQ(
        quen_stack_drift(reinterpret_cast<const void*>(method), sizeof...(Params), words, &result),
        0)
        << "the native method left the stack unbalanced";
    if constexpr (std::is_pointer_v<R>) {
        return reinterpret_cast<R>(static_cast<std::uintptr_t>(result));
    } else {
        return static_cast<R>(result);  // a jboolean is the low byte of EAX
    }
#else
    return method(static_cast<Params>(args)...);
#endif
}

// The scanner bridge, as QuenHIDOper calls it, with a JNIEnv of its own.
class ScannerCalls {
  public:
    explicit ScannerCalls(const ScannerExports& exports = LinkedScannerExports())
        : exports_(exports) {}
    bool Open() { return CallNative(exports_.open, env(), nullptr); }
    bool OpenScale() { return CallNative(exports_.openScale, env(), nullptr); }
    bool Exists() { return CallNative(exports_.exists, env(), nullptr); }
    bool Close() { return CallNative(exports_.close, env(), nullptr); }
    bool Write(jcharArray data) { return CallNative(exports_.write, env(), nullptr, data); }
    bool Write(const std::u16string& chars) { return Write(jni.NewCharArray(chars)); }
    jcharArray Read() { return CallNative(exports_.read, env(), nullptr); }
    bool SetMode(bool segmented) {
        return CallNative(exports_.setMode, env(), nullptr, segmented ? JNI_TRUE : JNI_FALSE);
    }
    // DeviceState's text; empty for null.
    std::string State() { return StateText(jni, CallNative(exports_.state, env(), nullptr)); }

    FakeJni jni;

  private:
    JNIEnv* env() { return jni.env(); }
    ScannerExports exports_;
};

// The scale bridge, as QuenHIDScaleOper calls it, with a JNIEnv of its own.
class ScaleCalls {
  public:
    explicit ScaleCalls(const ScaleExports& exports = LinkedScaleExports()) : exports_(exports) {}
    bool Open() { return CallNative(exports_.open, env(), nullptr); }
    bool Exists() { return CallNative(exports_.exists, env(), nullptr); }
    bool Close() { return CallNative(exports_.close, env(), nullptr); }
    bool Write(jcharArray data) { return CallNative(exports_.write, env(), nullptr, data); }
    bool Write(const std::u16string& chars) { return Write(jni.NewCharArray(chars)); }
    jcharArray Read() { return CallNative(exports_.read, env(), nullptr); }
    std::string State() { return StateText(jni, CallNative(exports_.state, env(), nullptr)); }

    FakeJni jni;

  private:
    JNIEnv* env() { return jni.env(); }
    ScaleExports exports_;
};

}  // namespace quen::test
