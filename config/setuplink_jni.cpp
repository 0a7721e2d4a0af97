// The native methods of com.quendal.javapos.readersetupkit.ReaderSetupKit.
#include <jni.h>

#include "config/config_call.h"

using quen::config::CallConfigFunction;
using quen::config::ConfigFunction;
using quen::config::SystemModules;

extern "C" {

JNIEXPORT jint JNICALL Java_com_quendal_javapos_readersetupkit_ReaderSetupKit_DownloadConfigFile(
    JNIEnv* env, jclass, jstring text1, jint value1, jint value2, jint value3, jint value4,
    jint value5, jint value6, jstring text2) {
    return CallConfigFunction(ConfigFunction::kDownload, env,
                              {text1, value1, value2, value3, value4, value5, value6, text2},
                              SystemModules());
}

JNIEXPORT jint JNICALL Java_com_quendal_javapos_readersetupkit_ReaderSetupKit_FlashScannerFile(
    JNIEnv* env, jclass, jstring text1, jint value1, jint value2, jint value3, jint value4,
    jint value5, jint value6, jstring text2) {
    return CallConfigFunction(ConfigFunction::kFlash, env,
                              {text1, value1, value2, value3, value4, value5, value6, text2},
                              SystemModules());
}

JNIEXPORT jint JNICALL Java_com_quendal_javapos_readersetupkit_ReaderSetupKit_UploadConfigFile(
    JNIEnv* env, jclass, jstring text1, jint value1, jint value2, jint value3, jint value4,
    jint value5, jint value6, jstring text2) {
    return CallConfigFunction(ConfigFunction::kUpload, env,
                              {text1, value1, value2, value3, value4, value5, value6, text2},
                              SystemModules());
}

}  // extern "C"
