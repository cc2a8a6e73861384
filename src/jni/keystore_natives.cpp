// QDIECAKeyStore's natives: the certificates of named system stores.
#include "com_quendrilax_browser_keystore_QDIECAKeyStore.h"

#include "javahost/java_host.h"
#include "jni/native_guard.h"
#include "keyops/system_stores.h"

namespace {

using javahost::clearPendingException;
using javahost::JavaBytes;
using javahost::JavaChars;
using javahost::newJavaBytes;
using javahost::ScopedLocalRef;
using keyops::CertificateList;

// The class of byte[], taken from a new byte[1] as the library has always named it.
jclass byteArrayClass(JNIEnv* env) {
    ScopedLocalRef<jbyteArray> sample(env, env->NewByteArray(1));
    if (sample.get() == nullptr) {
        clearPendingException(env);
        return nullptr;
    }
    return env->GetObjectClass(sample.get());
}

// byte[][] of the list, in its order; null (exception cleared) when the virtual machine runs out
// of memory.
jobjectArray toJavaArray(JNIEnv* env, const CertificateList& list) {
    ScopedLocalRef<jclass> type(env, byteArrayClass(env));
    if (type.get() == nullptr) return nullptr;
    jobjectArray array = env->NewObjectArray(static_cast<jsize>(list.size()), type.get(), nullptr);
    if (array == nullptr) {
        clearPendingException(env);
        return nullptr;
    }
    for (size_t i = 0; i < list.size(); ++i) {
        // One local reference per certificate would pile up in a large store.
        ScopedLocalRef<jbyteArray> element(env, newJavaBytes(env, list[i].data(), list[i].size()));
        if (element.get() == nullptr) {
            env->DeleteLocalRef(array);
            return nullptr;
        }
        env->SetObjectArrayElement(array, static_cast<jsize>(i), element.get());
    }
    return array;
}

jobjectArray listStore(JNIEnv* env, jstring storeName) {
    JavaChars name(env, storeName);
    CertificateList list;
    if (name.valid()) {
        keyops::CallContext context(diagnostics::LogSink::none());
        list = keyops::listCertificates(context, name.get());
        keyops::recordInStatusWords(context.outcome);
    }
    return toJavaArray(env, list);
}

// The two changes record only a store that cannot be opened; their own results are not examined.
// Like the listing, they write no log line.
template <typename Change>
void changeStore(JNIEnv* env, jstring storeName, jbyteArray certificate, Change change) {
    JavaChars name(env, storeName);
    JavaBytes bytes(env, certificate);
    if (!name.valid() || !bytes.valid()) return;
    keyops::CallContext context(diagnostics::LogSink::none());
    static_cast<void>(change(context, name.get(), bytes.data(), bytes.size()));
    keyops::recordInStatusWords(context.outcome);
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
    guardNative(env, [&] { changeStore(env, storeName, certificate, keyops::addCertificate); });
}

JNIEXPORT void JNICALL
Java_com_quendrilax_browser_keystore_QDIECAKeyStore_deleteCertificateInIESystemStore(
    JNIEnv* env, jclass, jstring storeName, jbyteArray certificate) {
    guardNative(env, [&] { changeStore(env, storeName, certificate, keyops::deleteCertificate); });
}

}  // extern "C"
