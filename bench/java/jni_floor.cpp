// The JNI floor of the JVM benchmarks: native methods that do no more than any bridge call must,
// so that each bridge figure can be given as a multiple of what the JVM itself costs. read makes
// and fills a 64-char array (a scanner report), readBlock a 1024-char one (a scale's block of 16
// records); write copies 64 chars out of an array, writeSized asks the array's length first.
#include <jni.h>

namespace {

constexpr jsize kChars = 64;
constexpr jsize kBlockChars = 16 * kChars;

struct Report {
    jchar chars[kBlockChars] = {};
    Report() {
        for (jsize i = 0; i < kBlockChars; ++i) {
            chars[i] = i % kChars == 1 ? kChars - 1 : i % kChars >= 6 ? 'A' : 0;
        }
    }
};

const Report report;

jcharArray MakeChars(JNIEnv* env, jsize length) {
    jcharArray array = env->NewCharArray(length);
    if (array != nullptr) {
        env->SetCharArrayRegion(array, 0, length, report.chars);
    }
    return array;
}

}  // namespace

extern "C" {

JNIEXPORT jcharArray JNICALL Java_com_quendal_bench_JniFloor_read(JNIEnv* env, jobject) {
    return MakeChars(env, kChars);
}

JNIEXPORT jcharArray JNICALL Java_com_quendal_bench_JniFloor_readBlock(JNIEnv* env, jobject) {
    return MakeChars(env, kBlockChars);
}

JNIEXPORT jboolean JNICALL Java_com_quendal_bench_JniFloor_write(JNIEnv* env, jobject,
                                                                 jcharArray data) {
    jchar chars[kChars];
    env->GetCharArrayRegion(data, 0, kChars, chars);
    return JNI_TRUE;
}

// A write of a Java array of unknown length must ask the length first: this floor does.
JNIEXPORT jboolean JNICALL Java_com_quendal_bench_JniFloor_writeSized(JNIEnv* env, jobject,
                                                                      jcharArray data) {
    jchar chars[kChars];
    const jsize length = env->GetArrayLength(data);
    env->GetCharArrayRegion(data, 0, length < kChars ? length : kChars, chars);
    return JNI_TRUE;
}

}  // extern "C"
