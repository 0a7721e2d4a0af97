// Between Java values and the device object's, for both HID bridges: booleans, and char arrays
// and reports. A Java char becomes a report byte by keeping its low 8 bits
// (HIDDevice::WriteReportFromChars); a report byte becomes a Java char by sign extension
// (report_units.h), done by the readers themselves as they take the report.
#pragma once

#include <jni.h>

#include <cstdint>
#include <type_traits>

#include "hid/hid_device.h"

static_assert(std::is_same<jchar, std::uint16_t>::value, "a Java char is a 16-bit unit");

namespace quen::bridge {

using hid::HIDDevice;

inline jboolean AsJboolean(bool value) {
    return value ? JNI_TRUE : JNI_FALSE;
}

// Most chars a read hands back to Java in one array.
inline constexpr std::int32_t kReadChars = 1024;

// Sends the array's chars as one output report. False for a null array. Chars past what a report
// buffer holds are cut, as the device object cuts data past its output report.
jboolean WriteCharsAsReport(JNIEnv* env, jcharArray data, HIDDevice& device);

// A new Java string of `text` (ASCII), or null when the JVM has no room (its OutOfMemoryError
// cleared, so that the caller sees null and no exception).
jstring NewStringOf(JNIEnv* env, const char* text);

// A new char array holding `length` chars (at most kReadChars), or null when the JVM has no room
// (its OutOfMemoryError cleared, so that the caller sees null and no exception).
jcharArray NewCharArrayOf(JNIEnv* env, const jchar* chars, std::int32_t length);

}  // namespace quen::bridge
