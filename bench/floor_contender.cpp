// The floor: the least any implementation of the library's behaviour can do for one call. A
// signing must walk "My" to the certificate, compose the log file's path and open the file for
// each of its lines (writing the line and handing it to Java when the file opened), sign, and
// verify what it signed against the certificate's key; a decryption the same with one private-key operation and both unpaddings
// (a PKCS #1 v1.5 success is confirmed with OAEP). This does exactly that with OpenSSL and
// nothing more, called from Java as the library is, so that the library's own cost shows.
#define OPENSSL_SUPPRESS_DEPRECATED  // the padding checks alone, on a block decrypted once
#include <fcntl.h>
#include <jni.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "softcapi/admin/admin.h"
#include "softcapi/wintypes.h"

namespace {

using Bytes = std::vector<unsigned char>;

const char kReceiverClass[] = "com/quendrilax/browser/keystore/provider/QDBrowserProvider";
const char kLine[] = "a log line of the length the library's lines have";

// The certificates of a store in its order, and what a walk over them sees: one CERT_CONTEXT each,
// the least CryptoAPI hands out per certificate.
struct FloorStore {
    std::vector<Bytes> encodings;
    std::vector<CERT_CONTEXT> contexts;
};

// The bytes of a Java array for the length of the call, as the library takes them.
class ArrayBytes {
public:
    ArrayBytes(JNIEnv* env, jbyteArray array)
        : env_(env), array_(array), length_(env->GetArrayLength(array)),
          bytes_(env->GetByteArrayElements(array, nullptr)) {}
    ~ArrayBytes() { env_->ReleaseByteArrayElements(array_, bytes_, JNI_ABORT); }
    ArrayBytes(const ArrayBytes&) = delete;
    ArrayBytes& operator=(const ArrayBytes&) = delete;

    const unsigned char* data() const { return reinterpret_cast<const unsigned char*>(bytes_); }
    size_t size() const { return static_cast<size_t>(length_); }

private:
    JNIEnv* env_;
    jbyteArray array_;
    jsize length_;
    jbyte* bytes_;
};

bool walkTo(const FloorStore& store, const ArrayBytes& certificate) {
    for (const CERT_CONTEXT& context : store.contexts) {
        if (context.cbCertEncoded == certificate.size() &&
            std::memcmp(context.pbCertEncoded, certificate.data(), certificate.size()) == 0)
            return true;
    }
    return false;
}

// One line: the file opened for appending, the dated line written in one write, the file closed,
// and the line handed to QDBrowserProvider.logJNI when the file opened.
void logLine(JNIEnv* env) {
    // The path is composed for each line, from the profile as the environment names it then.
    char path[260];
    const char* profile = std::getenv("userprofile");
    if (profile == nullptr) return;
    std::snprintf(path, sizeof(path), "%s/.quendrilax/jni.log", profile);
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;
    // The date and the time are two readings of the clock.
    time_t now = std::time(nullptr);
    struct tm date = {};
    localtime_r(&now, &date);
    now = std::time(nullptr);
    struct tm time = {};
    localtime_r(&now, &time);
    char line[600];
    int length = std::snprintf(line, sizeof(line), "%02d/%02d/%02d %02d:%02d:%02d - %s\n",
                               date.tm_mon + 1, date.tm_mday, date.tm_year % 100, time.tm_hour,
                               time.tm_min, time.tm_sec, kLine);
    if (write(fd, line, static_cast<size_t>(length)) < 0) {
        // A failure of the log is silent.
    }
    close(fd);
    jclass receiver = env->FindClass(kReceiverClass);
    jmethodID method = env->GetStaticMethodID(receiver, "logJNI", "(Ljava/lang/String;)V");
    jstring text = env->NewStringUTF(kLine);
    env->CallStaticVoidMethod(receiver, method, text);
    env->DeleteLocalRef(text);
    env->DeleteLocalRef(receiver);
}

void logLines(JNIEnv* env, jint lines) {
    for (jint i = 0; i < lines; ++i) logLine(env);
}

// What both floors do before their cryptography: the walk to the certificate, then the lines.
bool walkAndLog(JNIEnv* env, jlong store, const ArrayBytes& certificate, jint lines) {
    if (!walkTo(*reinterpret_cast<const FloorStore*>(store), certificate)) return false;
    logLines(env, lines);
    return true;
}

jbyteArray javaBytes(JNIEnv* env, const unsigned char* bytes, size_t length) {
    jbyteArray array = env->NewByteArray(static_cast<jsize>(length));
    env->SetByteArrayRegion(array, 0, static_cast<jsize>(length),
                            reinterpret_cast<const jbyte*>(bytes));
    return array;
}

}  // namespace

extern "C" {

JNIEXPORT jlong JNICALL Java_com_quendrilax_bench_BenchSupport_loadFloorStore(JNIEnv*, jclass) {
    auto* store = new FloorStore();
    for (softcapi::admin::CertificateEntry& entry : softcapi::admin::storeContents("My"))
        store->encodings.push_back(std::move(entry.encoded));
    for (Bytes& encoding : store->encodings) {
        CERT_CONTEXT context{};
        context.pbCertEncoded = encoding.data();
        context.cbCertEncoded = static_cast<DWORD>(encoding.size());
        store->contexts.push_back(context);
    }
    return reinterpret_cast<jlong>(store);
}

JNIEXPORT void JNICALL Java_com_quendrilax_bench_BenchSupport_freeFloorStore(JNIEnv*, jclass,
                                                                            jlong store) {
    delete reinterpret_cast<FloorStore*>(store);
}

// SHA-256 over the data, signed and then verified with the key's public half.
JNIEXPORT jbyteArray JNICALL Java_com_quendrilax_bench_BenchSupport_floorSign(
    JNIEnv* env, jclass, jlong key, jlong store, jbyteArray certificate, jbyteArray data,
    jint lines) {
    ArrayBytes message(env, data);
    if (!walkAndLog(env, store, ArrayBytes(env, certificate), lines)) return nullptr;
    auto* privateKey = reinterpret_cast<EVP_PKEY*>(key);
    Bytes signature(EVP_PKEY_get_size(privateKey));
    size_t length = signature.size();
    EVP_MD_CTX* signing = EVP_MD_CTX_new();
    EVP_MD_CTX* verifying = EVP_MD_CTX_new();
    bool ok = EVP_DigestSignInit(signing, nullptr, EVP_sha256(), nullptr, privateKey) == 1 &&
              EVP_DigestSign(signing, signature.data(), &length, message.data(), message.size()) == 1 &&
              EVP_DigestVerifyInit(verifying, nullptr, EVP_sha256(), nullptr, privateKey) == 1 &&
              EVP_DigestVerify(verifying, signature.data(), length, message.data(), message.size()) == 1;
    EVP_MD_CTX_free(signing);
    EVP_MD_CTX_free(verifying);
    return ok ? javaBytes(env, signature.data(), length) : nullptr;
}

// One private-key operation, then PKCS #1 v1.5 unpadding and OAEP (SHA-1) unpadding of the block.
JNIEXPORT jbyteArray JNICALL Java_com_quendrilax_bench_BenchSupport_floorDecrypt(
    JNIEnv* env, jclass, jlong key, jlong store, jbyteArray certificate, jbyteArray cipherText,
    jint lines) {
    ArrayBytes input(env, cipherText);
    if (!walkAndLog(env, store, ArrayBytes(env, certificate), lines)) return nullptr;
    auto* privateKey = reinterpret_cast<EVP_PKEY*>(key);
    const int size = EVP_PKEY_get_size(privateKey);
    Bytes block(size);
    size_t length = block.size();
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(privateKey, nullptr);
    bool ok = EVP_PKEY_decrypt_init(context) == 1 &&
              EVP_PKEY_CTX_set_rsa_padding(context, RSA_NO_PADDING) == 1 &&
              EVP_PKEY_decrypt(context, block.data(), &length, input.data(), input.size()) == 1;
    EVP_PKEY_CTX_free(context);
    if (!ok) return nullptr;
    Bytes pkcs1(size);
    Bytes oaep(size);
    // The leading zero byte is not part of what the checks take.
    int pkcs1Length = RSA_padding_check_PKCS1_type_2(pkcs1.data(), size, block.data() + 1,
                                                     size - 1, size);
    int oaepLength = RSA_padding_check_PKCS1_OAEP(oaep.data(), size, block.data() + 1, size - 1,
                                                  size, nullptr, 0);
    if (oaepLength >= 0) return javaBytes(env, oaep.data(), static_cast<size_t>(oaepLength));
    if (pkcs1Length >= 0) return javaBytes(env, pkcs1.data(), static_cast<size_t>(pkcs1Length));
    return nullptr;
}

}  // extern "C"
