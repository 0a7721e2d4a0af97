// Between Java values and the device object's, for both HID bridges: booleans, and char arrays
// and report bytes. A Java char becomes a report
// byte by keeping its low 8 bits (HIDDevice::WriteReportFromChars); a report byte becomes a Java
// char by sign extension (0x80 to 0xFF give U+FF80 to U+FFFF), which is what Java callers have
// always received.
#pragma once

#include <jni.h>

#include <cstdint>

#include "hid/hid_device.h"

static_assert(sizeof(jchar) == sizeof(std::uint16_t), "a Java char is a 16-bit unit");

namespace quen::bridge {

using hid::HIDDevice;

inline jboolean AsJboolean(bool value) {
    return value ? JNI_TRUE : JNI_FALSE;
}

// Most bytes a read hands back to Java in one array.
inline constexpr std::int32_t kReadChars = 1024;

inline jchar CharFromReportByte(std::uint8_t b) {
    return static_cast<jchar>(static_cast<std::int16_t>(static_cast<std::int8_t>(b)));
}

// Sends the array's chars as one output report. False for a null array. Chars past what a report
// buffer holds are cut, as the device object cuts data past its output report.
jboolean WriteCharsAsReport(JNIEnv* env, jcharArray data, HIDDevice& device);

// A new char array holding `length` bytes (at most kReadChars), or null when the JVM has no room
// (its OutOfMemoryError cleared, so that the caller sees null and no exception).
jcharArray NewCharArrayFromReport(JNIEnv* env, const std::uint8_t* bytes, std::int32_t length);

}  // namespace quen::bridge
