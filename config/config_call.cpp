#include "config/config_call.h"

#include <cstddef>
#include <cstdint>

#include "config/config_request.h"
#include "config/modified_utf8.h"
#include "config/range_rules.h"

namespace quen::config {

namespace {

// What text2 (for a null Java string) and text3 point at. Only its address is ever taken.
WideUnit emptyWide[1];

const char* FunctionName(ConfigFunction function) {
    switch (function) {
        case ConfigFunction::kDownload:
            return "DownloadConfigFile";
        case ConfigFunction::kFlash:
            return "FlashScannerFile";
        case ConfigFunction::kUpload:
            break;
    }
    return "UploadConfigFile";
}

// True when the text holds a U+0000, which the library would take for the text's end.
bool HoldsNul(const WideUnit* units, std::ptrdiff_t count) {
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        if (units[i] == 0) {
            return true;
        }
    }
    return false;
}

// Fills the zeroed `buffer` with the units of a Java string. False when the string cannot be
// obtained, does not leave room for the terminator or holds a U+0000: the library would see a
// cut text, and a cut path names another file.
bool ToWideText(JNIEnv* env, jstring text, WideUnit (&buffer)[kWideBufferUnits]) {
    const char* utf = env->GetStringUTFChars(text, nullptr);
    if (utf == nullptr) {
        // The JVM has raised OutOfMemoryError; the caller gets -1 and no exception.
        env->ExceptionClear();
        return false;
    }
    const std::ptrdiff_t count = DecodeModifiedUtf8(utf, buffer, kMaxTextUnits);
    env->ReleaseStringUTFChars(text, utf);
    return count >= 0 && !HoldsNul(buffer, count);
}

}  // namespace

jint CallConfigFunction(ConfigFunction function, JNIEnv* env, const JavaArguments& args,
                        ModuleServices& modules) {
    LoadedModule library(modules, kConfigLibraryFile);
    if (!library.IsLoaded()) {
        return -1;
    }
    const ModuleServices::Symbol symbol = library.Find(FunctionName(function));
    if (symbol == nullptr || args.text1 == nullptr) {
        return -1;
    }

    std::int32_t result = -1;
    WideUnit text1Wide[kWideBufferUnits] = {};
    if (!ToWideText(env, args.text1, text1Wide)) {
        return -1;
    }
    ConfigRequest request{};
    request.value1 = ApplyRange(kValue1Range, args.value1);
    request.value2 = ApplyRange(kValue2Range, args.value2);
    request.value4 = ApplyRange(kValue4Range, args.value4);
    request.value3 = args.value3;
    request.alwaysOne = 1;
    request.value6 = ApplyRange(kValue6Range, args.value6);
    request.text2 = emptyWide;
    request.text3 = emptyWide;
    request.value5 = ApplyRange(kValue5Range, args.value5);

    WideUnit text2Wide[kWideBufferUnits] = {};
    if (args.text2 != nullptr) {
        if (!ToWideText(env, args.text2, text2Wide)) {
            return -1;
        }
        request.text2 = text2Wide;
    }

    if (function == ConfigFunction::kFlash) {
        reinterpret_cast<ConfigFunction5>(symbol)(&request, text1Wide, &result, 0, 0);
    } else {
        reinterpret_cast<ConfigFunction4>(symbol)(&request, text1Wide, &result, 0);
    }
    library.Free();
    if (function == ConfigFunction::kFlash) {
        modules.SleepMs(kFlashPauseMs);
    }
    return result;
}

}  // namespace quen::config
