// The JNI floor of the JVM benchmarks: native methods that do no more than any bridge call must,
// so that each bridge figure can be given as a multiple of what the JVM itself costs. read makes
// and fills a 64-char array, write copies 64 chars out of one (writeSized asks the array's length
// first), readAt first blocks on a bare condition variable until a given moment (the floor of a
// blocked read's wake-up).
#include <jni.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

constexpr jsize kChars = 64;

struct Report {
    jchar chars[kChars] = {};
    Report() {
        chars[1] = kChars - 1;
        for (jsize i = 6; i < kChars; ++i) {
            chars[i] = 'A';
        }
    }
};

const Report report;

jcharArray MakeReportChars(JNIEnv* env) {
    jcharArray array = env->NewCharArray(kChars);
    if (array != nullptr) {
        env->SetCharArrayRegion(array, 0, kChars, report.chars);
    }
    return array;
}

// Nothing ever notifies it: a wait on it ends at its time, as a bus read waiting for a report's
// arrival does.
std::mutex mutex;
std::condition_variable neverNotified;

}  // namespace

extern "C" {

JNIEXPORT jcharArray JNICALL Java_com_quendal_bench_JniFloor_read(JNIEnv* env, jobject) {
    return MakeReportChars(env);
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

// dueNanos is a System.nanoTime value: on Linux both it and the steady clock read
// CLOCK_MONOTONIC.
JNIEXPORT jcharArray JNICALL Java_com_quendal_bench_JniFloor_readAt(JNIEnv* env, jobject,
                                                                    jlong dueNanos) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point due(
        std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(dueNanos)));
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (Clock::now() < due) {
            neverNotified.wait_until(lock, due);
        }
    }
    return MakeReportChars(env);
}

}  // extern "C"
