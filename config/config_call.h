// One request to the configuration library, as each of the three native methods makes it.
#pragma once

#include <jni.h>

#include "config/module_loader.h"

namespace quen::config {

enum class ConfigFunction { kDownload, kFlash, kUpload };

// The Java arguments, in the Java order.
struct JavaArguments {
    jstring text1;
    jint value1;
    jint value2;
    jint value3;
    jint value4;
    jint value5;
    jint value6;
    jstring text2;
};

// Loads the configuration library, calls `function` with the record and texts built from `args`,
// frees the library and returns what the function left in the result cell. -1 when the call
// cannot be made: library or function missing, text1 null, a string not obtainable, longer than
// a buffer holds or holding a U+0000. No Java exception is left pending. A flash that was called
// is followed by a pause of kFlashPauseMs.
jint CallConfigFunction(ConfigFunction function, JNIEnv* env, const JavaArguments& args,
                        ModuleServices& modules);

constexpr unsigned kFlashPauseMs = 10000;

}  // namespace quen::config
