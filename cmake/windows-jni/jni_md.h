/* The machine-dependent part of jni.h for 64-bit Windows, where the JDK's own jni.h is used from
 * a Linux JDK: exports are dllexport, the calling convention is __stdcall (ignored on x86-64),
 * and jint is a long, 32 bits under Windows' LLP64 model. */
#ifndef QDIE_WINDOWS_JNI_MD_H
#define QDIE_WINDOWS_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef __int64 jlong;
typedef signed char jbyte;

#endif
