// What the Java benchmark needs beyond the library: a profile to work in, stores filled with
// certificates, an identity imported from PKCS#12, and OpenSSL alone doing the same RSA and ECDSA
// operations with the same key, timed inside native code so that no JNI cost is counted.
#include <jni.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/filler_certificates.h"
#include "softcapi/admin/admin.h"

namespace {

using Bytes = std::vector<BYTE>;
using Clock = std::chrono::steady_clock;

Bytes bytesOf(JNIEnv* env, jbyteArray array) {
    Bytes bytes(env->GetArrayLength(array));
    env->GetByteArrayRegion(array, 0, static_cast<jsize>(bytes.size()),
                            reinterpret_cast<jbyte*>(bytes.data()));
    return bytes;
}

std::string textOf(JNIEnv* env, jstring string) {
    const char* chars = env->GetStringUTFChars(string, nullptr);
    std::string text(chars);
    env->ReleaseStringUTFChars(string, chars);
    return text;
}

void fail(JNIEnv* env, const std::string& message) {
    env->ThrowNew(env->FindClass("java/lang/IllegalStateException"), message.c_str());
}

EVP_PKEY* privateKeyOf(JNIEnv* env, jbyteArray pkcs8) {
    Bytes der = bytesOf(env, pkcs8);
    const unsigned char* in = der.data();
    EVP_PKEY* key = d2i_AutoPrivateKey(nullptr, &in, static_cast<long>(der.size()));
    if (key == nullptr) fail(env, "OpenSSL cannot read the PKCS#8 key");
    return key;
}

void importIdentity(JNIEnv* env, jbyteArray pkcs12, jstring password,
                    const softcapi::admin::KeyPlacement& placement) {
    try {
        softcapi::admin::importPkcs12(bytesOf(env, pkcs12), textOf(env, password), placement);
    } catch (const std::exception& error) {
        fail(env, error.what());
    }
}

// The nanoseconds since `start`; a failed operation would make them no figure, so it throws.
jlong elapsedUnlessFailed(JNIEnv* env, Clock::time_point start, bool succeeded) {
    auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start);
    if (!succeeded) fail(env, "an OpenSSL operation failed");
    return elapsed.count();
}

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_com_quendrilax_bench_BenchSupport_useProfile(JNIEnv* env, jclass,
                                                                         jstring folder) {
    setenv("userprofile", textOf(env, folder).c_str(), 1);
    unsetenv("XDG_DATA_HOME");
}

JNIEXPORT void JNICALL Java_com_quendrilax_bench_BenchSupport_fillStore(JNIEnv* env, jclass,
                                                                        jstring store, jint count) {
    try {
        softcapi::admin::addCertificates(textOf(env, store), fillerCertificates(count));
    } catch (const std::exception& error) {
        fail(env, error.what());
    }
}

JNIEXPORT void JNICALL Java_com_quendrilax_bench_BenchSupport_importIdentity(
    JNIEnv* env, jclass, jbyteArray pkcs12, jstring password) {
    importIdentity(env, pkcs12, password, {});
}

JNIEXPORT void JNICALL Java_com_quendrilax_bench_BenchSupport_importIdentityInProvider(
    JNIEnv* env, jclass, jbyteArray pkcs12, jstring password, jstring provider) {
    softcapi::admin::KeyPlacement placement;
    placement.provider = textOf(env, provider);
    importIdentity(env, pkcs12, password, placement);
}

// A private key parsed once, held for the timed calls below.
JNIEXPORT jlong JNICALL Java_com_quendrilax_bench_BenchSupport_loadKey(JNIEnv* env, jclass,
                                                                      jbyteArray pkcs8) {
    return reinterpret_cast<jlong>(privateKeyOf(env, pkcs8));
}

JNIEXPORT void JNICALL Java_com_quendrilax_bench_BenchSupport_freeKey(JNIEnv*, jclass, jlong key) {
    EVP_PKEY_free(reinterpret_cast<EVP_PKEY*>(key));
}

// Nanoseconds for `iterations` signings of `data` with the named digest ("SHA256", "SHA384"), each
// as a caller of OpenSSL would make it: a fresh context, the digest, the signature. RSA keys sign
// PKCS #1 v1.5 or RSASSA-PSS, EC keys ECDSA.
JNIEXPORT jlong JNICALL Java_com_quendrilax_bench_BenchSupport_opensslSign(
    JNIEnv* env, jclass, jlong handle, jstring digestName, jbyteArray data, jboolean pss,
    jint iterations) {
    auto* key = reinterpret_cast<EVP_PKEY*>(handle);
    const EVP_MD* digest = EVP_get_digestbyname(textOf(env, digestName).c_str());
    if (digest == nullptr) {
        fail(env, "OpenSSL knows no such digest");
        return 0;
    }
    Bytes message = bytesOf(env, data);
    std::vector<unsigned char> signature(EVP_PKEY_get_size(key));
    bool signed_ = true;
    auto start = Clock::now();
    for (int i = 0; i < iterations; ++i) {
        EVP_MD_CTX* context = EVP_MD_CTX_new();
        size_t length = signature.size();
        EVP_PKEY_CTX* padding = nullptr;
        bool ok = EVP_DigestSignInit(context, &padding, digest, nullptr, key) == 1;
        if (pss == JNI_TRUE) {
            // MGF1 over the signature's digest (OpenSSL's default for PSS), a salt as long as the
            // digest: TLS 1.3's parameters with SHA-256.
            ok = ok && EVP_PKEY_CTX_set_rsa_padding(padding, RSA_PKCS1_PSS_PADDING) == 1 &&
                 EVP_PKEY_CTX_set_rsa_pss_saltlen(padding, RSA_PSS_SALTLEN_DIGEST) == 1;
        }
        ok = ok && EVP_DigestSign(context, signature.data(), &length, message.data(),
                                  message.size()) == 1;
        EVP_MD_CTX_free(context);
        signed_ = signed_ && ok;
    }
    return elapsedUnlessFailed(env, start, signed_);
}

// Nanoseconds for `iterations` decryptions of `cipherText`, PKCS #1 v1.5 or OAEP (SHA-1).
JNIEXPORT jlong JNICALL Java_com_quendrilax_bench_BenchSupport_opensslDecrypt(
    JNIEnv* env, jclass, jlong handle, jbyteArray cipherText, jboolean oaep, jint iterations) {
    auto* key = reinterpret_cast<EVP_PKEY*>(handle);
    Bytes input = bytesOf(env, cipherText);
    std::vector<unsigned char> plainText(EVP_PKEY_get_size(key));
    bool decrypted = true;
    auto start = Clock::now();
    for (int i = 0; i < iterations; ++i) {
        EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(key, nullptr);
        size_t length = plainText.size();
        bool ok = EVP_PKEY_decrypt_init(context) == 1 &&
                  EVP_PKEY_CTX_set_rsa_padding(
                      context, oaep ? RSA_PKCS1_OAEP_PADDING : RSA_PKCS1_PADDING) == 1 &&
                  EVP_PKEY_decrypt(context, plainText.data(), &length, input.data(),
                                   input.size()) == 1;
        EVP_PKEY_CTX_free(context);
        decrypted = decrypted && ok;
    }
    return elapsedUnlessFailed(env, start, decrypted);
}

}  // extern "C"
