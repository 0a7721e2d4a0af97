#include "support/fake_jni.h"

#include "support/modified_utf8_encoding.h"

#include <cstddef>
#include <cstring>

namespace quen::test {

FakeJni::FakeJni() {
    table_.GetArrayLength = &GetArrayLength;
    table_.NewCharArray = &NewCharArrayFn;
    table_.GetCharArrayRegion = &GetCharArrayRegion;
    table_.SetCharArrayRegion = &SetCharArrayRegion;
    table_.NewStringUTF = &NewStringUTF;
    table_.GetStringUTFChars = &GetStringUTFChars;
    table_.ReleaseStringUTFChars = &ReleaseStringUTFChars;
    table_.ExceptionCheck = &ExceptionCheck;
    table_.ExceptionOccurred = &ExceptionOccurred;
    table_.ExceptionClear = &ExceptionClear;
    // The first reserved slot points back at this object, as a JVM keeps its own state there.
    table_.reserved0 = this;
    env_.functions = &table_;
}

FakeJni& FakeJni::Self(JNIEnv* env) {
    return *static_cast<FakeJni*>(env->functions->reserved0);
}

FakeJni& FakeJni::Enter(JNIEnv* env) {
    FakeJni& self = Self(env);
    if (self.pending_ != nullptr) {
        ++self.callsWhilePending;
    }
    return self;
}

void FakeJni::Raise() {
    pending_ = reinterpret_cast<jthrowable>(&throwable_);
}

FakeJni::CharArray* FakeJni::ArrayOf(jarray array) {
    return reinterpret_cast<CharArray*>(array);
}

jcharArray FakeJni::NewCharArray(const std::u16string& chars) {
    arrays_.push_back(std::make_unique<CharArray>());
    arrays_.back()->chars.assign(chars.begin(), chars.end());
    return reinterpret_cast<jcharArray>(arrays_.back().get());
}

std::u16string FakeJni::Chars(jcharArray array) const {
    const CharArray* a = ArrayOf(array);
    return std::u16string(a->chars.begin(), a->chars.end());
}

jstring FakeJni::NewString(const std::u16string& text) {
    strings_.push_back(std::make_unique<String>());
    strings_.back()->text = text;
    strings_.back()->utf8 = ModifiedUtf8(text);
    return reinterpret_cast<jstring>(strings_.back().get());
}

std::string FakeJni::Utf8(jstring string) const {
    return reinterpret_cast<const String*>(string)->utf8;
}

jstring JNICALL FakeJni::NewStringUTF(JNIEnv* env, const char* utf8) {
    FakeJni& self = Enter(env);
    self.strings_.push_back(std::make_unique<String>());
    self.strings_.back()->utf8 = utf8;
    return reinterpret_cast<jstring>(self.strings_.back().get());
}

std::string FakeJni::ModifiedUtf8(const std::u16string& text) {
    return EncodeModifiedUtf8(text);
}

jsize JNICALL FakeJni::GetArrayLength(JNIEnv* env, jarray array) {
    Enter(env);
    return static_cast<jsize>(ArrayOf(array)->chars.size());
}

jcharArray JNICALL FakeJni::NewCharArrayFn(JNIEnv* env, jsize length) {
    FakeJni& self = Enter(env);
    if (self.failNewCharArray || length < 0) {
        self.Raise();
        return nullptr;
    }
    ++self.arraysCreatedByCode;
    return self.NewCharArray(std::u16string(static_cast<std::size_t>(length), u'\0'));
}

void JNICALL FakeJni::GetCharArrayRegion(JNIEnv* env, jcharArray array, jsize start, jsize length,
                                         jchar* buffer) {
    FakeJni& self = Enter(env);
    const CharArray* a = ArrayOf(array);
    if (start < 0 || length < 0 ||
        static_cast<std::size_t>(start) + static_cast<std::size_t>(length) > a->chars.size()) {
        ++self.boundsViolations;
        self.Raise();
        return;
    }
    if (length > 0) {
        std::memcpy(buffer, a->chars.data() + start,
                    static_cast<std::size_t>(length) * sizeof(jchar));
    }
}

void JNICALL FakeJni::SetCharArrayRegion(JNIEnv* env, jcharArray array, jsize start, jsize length,
                                         const jchar* buffer) {
    FakeJni& self = Enter(env);
    CharArray* a = ArrayOf(array);
    if (start < 0 || length < 0 ||
        static_cast<std::size_t>(start) + static_cast<std::size_t>(length) > a->chars.size()) {
        ++self.boundsViolations;
        self.Raise();
        return;
    }
    if (length > 0) {
        std::memcpy(a->chars.data() + start, buffer,
                    static_cast<std::size_t>(length) * sizeof(jchar));
    }
}

const char* JNICALL FakeJni::GetStringUTFChars(JNIEnv* env, jstring string, jboolean* isCopy) {
    FakeJni& self = Enter(env);
    if (self.failGetStringUtfChars) {
        self.Raise();
        return nullptr;
    }
    ++self.stringsObtained;
    if (isCopy != nullptr) {
        *isCopy = JNI_FALSE;
    }
    return reinterpret_cast<String*>(string)->utf8.c_str();
}

void JNICALL FakeJni::ReleaseStringUTFChars(JNIEnv* env, jstring, const char*) {
    ++Self(env).stringsReleased;
}

jboolean JNICALL FakeJni::ExceptionCheck(JNIEnv* env) {
    return Self(env).pending_ != nullptr ? JNI_TRUE : JNI_FALSE;
}

jthrowable JNICALL FakeJni::ExceptionOccurred(JNIEnv* env) {
    return Self(env).pending_;
}

void JNICALL FakeJni::ExceptionClear(JNIEnv* env) {
    Self(env).pending_ = nullptr;
}

}  // namespace quen::test
