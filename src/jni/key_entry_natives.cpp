// The provider's natives that put keys into a store and take them out: a key imported with its
// chain, a key generated inside, a held key bound to a new chain, a key entry deleted with its
// container. Each returns its result or throws the NativeFailure of its own call.
#include <utility>
#include <vector>

#include "com_quendrilax_browser_keystore_provider_spi_ProviderNatives.h"
#include "common/secure_bytes.h"
#include "diagnostics/log_forward.h"
#include "javahost/java_host.h"
#include "jni/java_pin.h"
#include "jni/provider_failures.h"
#include "jni/provider_handles.h"
#include "keyops/key_creation.h"
#include "keyops/key_entries.h"

namespace {

using common::SecureBytes;
using javahost::JavaBytes;
using javahost::JavaChars;
using javahost::ScopedLocalRef;
using provider_natives::guardProviderNative;
using provider_natives::handleOf;
using provider_natives::heldKey;
using provider_natives::locationOf;
using provider_natives::throwArgumentUnavailable;
using provider_natives::throwFailure;
using provider_natives::throwIllegalArgument;

const size_t kRsaComponents = 8;
const size_t kEcComponents = 3;

// Each byte[] of a byte[][] handed to `take` as its bytes and length; false when an element is
// null or the virtual machine cannot give it (nothing pending then).
template <typename Take>
bool forEachByteArray(JNIEnv* env, jobjectArray arrays, Take take) {
    if (arrays == nullptr) return false;
    jsize count = env->GetArrayLength(arrays);
    for (jsize i = 0; i < count; ++i) {
        ScopedLocalRef<jbyteArray> element(
            env, static_cast<jbyteArray>(env->GetObjectArrayElement(arrays, i)));
        if (element.get() == nullptr) {
            javahost::clearPendingException(env);
            return false;
        }
        JavaBytes bytes(env, element.get());
        if (!bytes.valid()) return false;
        take(bytes.data(), bytes.size());
    }
    return true;
}

// A key's numbers, in memory that is wiped when it goes.
bool takeKeyNumbers(JNIEnv* env, jobjectArray arrays, std::vector<SecureBytes>& numbers) {
    return forEachByteArray(env, arrays, [&](const BYTE* bytes, size_t length) {
        numbers.emplace_back(bytes, length);
    });
}

bool takeCertificates(JNIEnv* env, jobjectArray arrays, keyops::CertificateList& certificates) {
    return forEachByteArray(env, arrays, [&](const BYTE* bytes, size_t length) {
        certificates.emplace_back(bytes, bytes + length);
    });
}

std::vector<BYTE> copyOf(const JavaBytes& bytes) {
    return std::vector<BYTE>(bytes.data(), bytes.data() + bytes.size());
}

std::vector<BYTE> plain(const SecureBytes& bytes) {
    return std::vector<BYTE>(bytes.data(), bytes.data() + bytes.size());
}

keyops::KeyHome homeOf(jboolean keyStorageProvider) {
    return keyStorageProvider ? keyops::KeyHome::KeyStorageProvider : keyops::KeyHome::Csp;
}

void installKeyEntry(JNIEnv* env, jboolean localMachine, jstring container,
                     jboolean keyStorageProvider, jint curveBits, jobjectArray components,
                     jbyteArray pin, jbyteArray certificate, jobjectArray issuers) {
    JavaChars name(env, container);
    if (!name.valid()) return throwArgumentUnavailable(env, container, "container");
    std::vector<SecureBytes> parts;
    if (!takeKeyNumbers(env, components, parts))
        return throwArgumentUnavailable(env, components, "components");
    if (parts.size() != (curveBits == 0 ? kRsaComponents : kEcComponents))
        return throwIllegalArgument(env, "components: 8 of an RSA key, 3 of an EC key");
    SecureBytes pinBytes;
    if (!takePin(env, pin, pinBytes)) return throwArgumentUnavailable(env, pin, "pin");
    JavaBytes certificateBytes(env, certificate);
    if (!certificateBytes.valid())
        return throwArgumentUnavailable(env, certificate, "certificate");
    keyops::CertificateList issuerList;
    if (!takeCertificates(env, issuers, issuerList))
        return throwArgumentUnavailable(env, issuers, "issuers");

    const std::vector<BYTE> leaf = copyOf(certificateBytes);
    diagnostics::JavaCallLog log(env);
    keyops::CallContext context(log.sink());
    keyops::ContainerKey made;
    bool installed = false;
    if (curveBits == 0) {
        keyops::RsaPrivateKey key;
        key.modulus = plain(parts[0]);
        key.publicExponent = plain(parts[1]);
        key.privateExponent = std::move(parts[2]);
        key.prime1 = std::move(parts[3]);
        key.prime2 = std::move(parts[4]);
        key.exponent1 = std::move(parts[5]);
        key.exponent2 = std::move(parts[6]);
        key.coefficient = std::move(parts[7]);
        installed = keyops::installKeyEntry(context, locationOf(localMachine), name.get(),
                                            homeOf(keyStorageProvider), key, pinBytes, leaf,
                                            issuerList, made);
    } else {
        keyops::EcPrivateKey key;
        key.curveBits = static_cast<DWORD>(curveBits);
        key.x = plain(parts[0]);
        key.y = plain(parts[1]);
        key.d = std::move(parts[2]);
        installed = keyops::installKeyEntry(context, locationOf(localMachine), name.get(), key,
                                            pinBytes, leaf, issuerList, made);
    }
    if (!installed) throwFailure(env, context.outcome);
}

jbyteArray generateKey(JNIEnv* env, jboolean localMachine, jstring container,
                       jboolean keyStorageProvider, jboolean ec, jint bits, jbyteArray pin) {
    JavaChars name(env, container);
    if (!name.valid()) return throwArgumentUnavailable(env, container, "container"), nullptr;
    SecureBytes pinBytes;
    if (!takePin(env, pin, pinBytes)) return throwArgumentUnavailable(env, pin, "pin"), nullptr;
    diagnostics::JavaCallLog log(env);
    keyops::CallContext context(log.sink());
    keyops::ContainerKey made;
    std::vector<BYTE> publicKeyInfo;
    if (!keyops::generateKey(context, locationOf(localMachine), name.get(),
                             homeOf(keyStorageProvider), ec != JNI_FALSE,
                             static_cast<DWORD>(bits), pinBytes, made, publicKeyInfo))
        return throwFailure(env, context.outcome), nullptr;
    jbyteArray result = javahost::newJavaBytes(env, publicKeyInfo.data(), publicKeyInfo.size());
    if (result == nullptr) provider_natives::throwOutOfMemory(env);
    return result;
}

jlong newContainerKeyHandle(JNIEnv* env, jboolean localMachine, jstring container,
                            jboolean keyStorageProvider, jbyteArray publicKeyInfo,
                            jstring keyAlgorithm, jbyteArray pin) {
    JavaChars name(env, container);
    if (!name.valid()) return throwArgumentUnavailable(env, container, "container"), 0;
    JavaBytes info(env, publicKeyInfo);
    if (!info.valid()) return throwArgumentUnavailable(env, publicKeyInfo, "publicKeyInfo"), 0;
    JavaChars algorithm(env, keyAlgorithm);
    if (!algorithm.valid()) return throwArgumentUnavailable(env, keyAlgorithm, "keyAlgorithm"), 0;
    SecureBytes pinBytes;
    if (!takePin(env, pin, pinBytes)) return throwArgumentUnavailable(env, pin, "pin"), 0;
    keyops::ContainerKey key =
        keyops::newContainerKey(locationOf(localMachine), name.get(), homeOf(keyStorageProvider));
    auto* held = new keyops::HeldKey(std::move(key),
                                     copyOf(info),
                                     algorithm.get(), std::move(pinBytes));
    return handleOf(held);
}

void bindCertificate(JNIEnv* env, jlong key, jbyteArray certificate, jobjectArray issuers) {
    JavaBytes certificateBytes(env, certificate);
    if (!certificateBytes.valid())
        return throwArgumentUnavailable(env, certificate, "certificate");
    keyops::CertificateList issuerList;
    if (!takeCertificates(env, issuers, issuerList))
        return throwArgumentUnavailable(env, issuers, "issuers");
    diagnostics::JavaCallLog log(env);
    keyops::CallContext context(log.sink());
    if (!heldKey(key)->bindCertificate(context, copyOf(certificateBytes), issuerList))
        throwFailure(env, context.outcome);
}

void deleteKeyEntry(JNIEnv* env, jboolean localMachine, jbyteArray certificate) {
    JavaBytes certificateBytes(env, certificate);
    if (!certificateBytes.valid())
        return throwArgumentUnavailable(env, certificate, "certificate");
    diagnostics::JavaCallLog log(env);
    keyops::CallContext context(log.sink());
    if (!keyops::deleteKeyEntry(context, locationOf(localMachine), copyOf(certificateBytes)))
        throwFailure(env, context.outcome);
}

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_installKeyEntry(
    JNIEnv* env, jclass, jboolean localMachine, jstring container, jboolean keyStorageProvider,
    jint curveBits, jobjectArray components, jbyteArray pin, jbyteArray certificate,
    jobjectArray issuers) {
    guardProviderNative(env, [&] {
        installKeyEntry(env, localMachine, container, keyStorageProvider, curveBits, components,
                        pin, certificate, issuers);
    });
}

JNIEXPORT jbyteArray JNICALL Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_generateKey(
    JNIEnv* env, jclass, jboolean localMachine, jstring container, jboolean keyStorageProvider,
    jboolean ec, jint bits, jbyteArray pin) {
    return guardProviderNative(env, [&] {
        return generateKey(env, localMachine, container, keyStorageProvider, ec, bits, pin);
    });
}

JNIEXPORT jlong JNICALL
Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_newContainerKeyHandle(
    JNIEnv* env, jclass, jboolean localMachine, jstring container, jboolean keyStorageProvider,
    jbyteArray publicKeyInfo, jstring keyAlgorithm, jbyteArray pin) {
    return guardProviderNative(env, [&] {
        return newContainerKeyHandle(env, localMachine, container, keyStorageProvider,
                                     publicKeyInfo, keyAlgorithm, pin);
    });
}

JNIEXPORT void JNICALL Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_bindCertificate(
    JNIEnv* env, jclass, jlong key, jbyteArray certificate, jobjectArray issuers) {
    guardProviderNative(env, [&] { bindCertificate(env, key, certificate, issuers); });
}

JNIEXPORT void JNICALL Java_com_quendrilax_browser_keystore_provider_spi_ProviderNatives_deleteKeyEntry(
    JNIEnv* env, jclass, jboolean localMachine, jbyteArray certificate) {
    guardProviderNative(env, [&] { deleteKeyEntry(env, localMachine, certificate); });
}

}  // extern "C"
