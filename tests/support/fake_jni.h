// A small stand-in for the JVM's JNIEnv: a function table holding just the JNI functions the
// bridges use, over arrays and strings that a test makes. Lets the exported functions be called
// without a JVM, on every platform the tests run on (Windows builds included).
#pragma once

#include <jni.h>

#include <memory>
#include <string>
#include <vector>

namespace quen::test {

class FakeJni {
  public:
    FakeJni();
    FakeJni(const FakeJni&) = delete;
    FakeJni& operator=(const FakeJni&) = delete;

    JNIEnv* env() { return &env_; }

    // Arrays and strings live as long as this object.
    jcharArray NewCharArray(const std::u16string& chars);
    std::u16string Chars(jcharArray array) const;
    jstring NewString(const std::u16string& text);
    // The modified UTF-8 of a string, as NewStringUTF was given it or GetStringUTFChars gives it.
    std::string Utf8(jstring string) const;

    // The modified UTF-8 form the JVM hands over for a string of UTF-16 units.
    static std::string ModifiedUtf8(const std::u16string& text);

    // Faults a test can ask for: NewCharArray / GetStringUTFChars yield null and, as a JVM does,
    // leave an OutOfMemoryError pending.
    bool failNewCharArray = false;
    bool failGetStringUtfChars = false;

    // An exception the code under test left pending would reach the Java caller.
    bool ExceptionPending() const { return pending_ != nullptr; }

    // What the code under test did.
    int arraysCreatedByCode = 0;
    int stringsObtained = 0;
    int stringsReleased = 0;
    // A region call outside an array's bounds (it raises an exception, as a JVM does).
    int boundsViolations = 0;
    // JNI calls other than the exception functions and releases made with an exception pending,
    // which JNI forbids.
    int callsWhilePending = 0;

  private:
    struct CharArray {
        std::vector<jchar> chars;
    };
    struct String {
        std::u16string text;
        std::string utf8;
    };
    static FakeJni& Self(JNIEnv* env);
    // Self(env), counting the call if an exception is pending.
    static FakeJni& Enter(JNIEnv* env);
    void Raise();
    static CharArray* ArrayOf(jarray array);

    static jsize JNICALL GetArrayLength(JNIEnv* env, jarray array);
    static jcharArray JNICALL NewCharArrayFn(JNIEnv* env, jsize length);
    static void JNICALL GetCharArrayRegion(JNIEnv* env, jcharArray array, jsize start, jsize length,
                                           jchar* buffer);
    static void JNICALL SetCharArrayRegion(JNIEnv* env, jcharArray array, jsize start, jsize length,
                                           const jchar* buffer);
    static jstring JNICALL NewStringUTF(JNIEnv* env, const char* utf8);
    static const char* JNICALL GetStringUTFChars(JNIEnv* env, jstring string, jboolean* isCopy);
    static void JNICALL ReleaseStringUTFChars(JNIEnv* env, jstring string, const char* chars);
    static jboolean JNICALL ExceptionCheck(JNIEnv* env);
    static jthrowable JNICALL ExceptionOccurred(JNIEnv* env);
    static void JNICALL ExceptionClear(JNIEnv* env);

    JNINativeInterface_ table_{};
    JNIEnv env_{};
    std::vector<std::unique_ptr<CharArray>> arrays_;
    std::vector<std::unique_ptr<String>> strings_;
    // The exception raised and not yet cleared; its object's address stands for it.
    jthrowable pending_ = nullptr;
    int throwable_ = 0;
};

}  // namespace quen::test
