// QDIECAKeyStore's natives: the certificates of named system stores.
#include "com_quendrilax_browser_keystore_QDIECAKeyStore.h"

#include "jni/java_host.h"
#include "jni/native_guard.h"
#include "keyops/system_stores.h"

namespace {

// The class of byte[], taken from a byte[1] as a native method has no other way to name it.
jclass byteArrayClass(JNIEnv* env) {
    jbyteArray sample = env->NewByteArray(1);
    if (sample == nullptr) {
        clearPendingException(env);
        return nullptr;
    }
    jclass type = env->GetObjectClass(sample);
    env->DeleteLocalRef(sample);
    return type;
}

// byte[][] of the list, in its order; null (exception cleared) when the virtual machine runs out
// of memory.
jobjectArray toJavaArray(JNIEnv* env, const CertificateList& list) {
    jclass type = byteArrayClass(env);
    if (type == nullptr) return nullptr;
    jobjectArray array = env->NewObjectArray(static_cast<jsize>(list.size()), type, nullptr);
    env->DeleteLocalRef(type);
    if (array == nullptr) {
        clearPendingException(env);
        return nullptr;
    }
    for (size_t i = 0; i < list.size(); ++i) {
        jbyteArray element = newJavaBytes(env, list[i].data(), list[i].size());
        if (element == nullptr) {
            env->DeleteLocalRef(array);
            return nullptr;
        }
        env->SetObjectArrayElement(array, static_cast<jsize>(i), element);
        // One local reference per certificate would pile up in a large store.
        env->DeleteLocalRef(element);
    }
    return array;
}

jobjectArray listStore(JNIEnv* env, jstring storeName) {
    JavaChars name(env, storeName);
    CertificateList list;
    if (name.valid()) list = listCertificates(name.get());
    return toJavaArray(env, list);
}

}  // namespace

extern "C" {

JNIEXPORT jobjectArray JNICALL
Java_com_quendrilax_browser_keystore_QDIECAKeyStore_getCertificatesInIESystemStore(
    JNIEnv* env, jclass, jstring storeName) {
    jobjectArray array = guardNative(env, [&] { return listStore(env, storeName); });
    // Never null while the virtual machine can make an empty array: a listing that failed lists
    // nothing.
    return array != nullptr ? array : toJavaArray(env, CertificateList());
}

JNIEXPORT void JNICALL Java_com_quendrilax_browser_keystore_QDIECAKeyStore_addCertificateInIESystemStore(
    JNIEnv* env, jclass, jstring storeName, jbyteArray certificate) {
    guardNative(env, [&] {
        JavaChars name(env, storeName);
        JavaBytes bytes(env, certificate);
        if (name.valid() && bytes.valid()) addCertificate(name.get(), bytes.data(), bytes.size());
    });
}

JNIEXPORT void JNICALL
Java_com_quendrilax_browser_keystore_QDIECAKeyStore_deleteCertificateInIESystemStore(
    JNIEnv* env, jclass, jstring storeName, jbyteArray certificate) {
    guardNative(env, [&] {
        JavaChars name(env, storeName);
        JavaBytes bytes(env, certificate);
        if (name.valid() && bytes.valid())
            deleteCertificate(name.get(), bytes.data(), bytes.size());
    });
}

}  // extern "C"
