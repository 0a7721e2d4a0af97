/* Machine-dependent JNI types for Windows, x86 and x64. The JDK's jni.h includes this file; cross
 * builds use it in place of a Windows JDK's own. The types match what a Windows JVM passes:
 * jint is `long` as in the Windows JDK (32 bits on both Windows targets), so code that mixes jint
 * and int without care fails here as it would in an MSVC build. On x86, JNICALL is __stdcall: the
 * called function removes its arguments, and a function compiled with another convention would
 * unbalance the JVM's stack. */
#ifndef _JAVASOFT_JNI_MD_H_
#define _JAVASOFT_JNI_MD_H_

#ifndef JNIEXPORT
#define JNIEXPORT __declspec(dllexport)
#endif
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
#if defined(_MSC_VER)
typedef __int64 jlong;
#else
typedef long long jlong;
#endif
typedef signed char jbyte;

#endif /* !_JAVASOFT_JNI_MD_H_ */
