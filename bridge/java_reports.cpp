#include "bridge/java_reports.h"

namespace quen::bridge {

jboolean WriteCharsAsReport(JNIEnv* env, jcharArray data, HIDDevice& device) {
    if (data == nullptr) {
        return JNI_FALSE;
    }
    // Only the chars that can reach a report are copied out of the array, and only those are
    // read back, so the buffer needs no clearing first (which would cost more than the copy).
    jchar staged[hid::kMaxReportBytes];
    const jsize n = env->GetArrayLength(data);
    constexpr jsize kMostChars = static_cast<jsize>(hid::kMaxReportBytes);
    const jsize count = n < kMostChars ? n : kMostChars;
    if (count > 0) {
        env->GetCharArrayRegion(data, 0, count, staged);
    }
    return AsJboolean(device.WriteReportFromChars(staged, static_cast<std::uint32_t>(count)));
}

jstring NewStringOf(JNIEnv* env, const char* text) {
    jstring string = env->NewStringUTF(text);
    if (string == nullptr) {
        env->ExceptionClear();
    }
    return string;
}

jcharArray NewCharArrayOf(JNIEnv* env, const jchar* chars, std::int32_t length) {
    if (length < 0 || length > kReadChars) {
        return nullptr;
    }
    jcharArray array = env->NewCharArray(length);
    if (array == nullptr) {
        // The JVM has raised OutOfMemoryError: the caller is promised null, not an exception.
        env->ExceptionClear();
        return nullptr;
    }
    if (length > 0) {
        env->SetCharArrayRegion(array, 0, length, chars);
    }
    return array;
}

}  // namespace quen::bridge
