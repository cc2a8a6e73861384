// The provider's natives that put keys into a store, in QDIEProvider.dll over Wine's CRYPT32 and
// RSAENH: a key generated in a new container signs before any certificate, is bound to its
// certificate and deleted with its container; a key's numbers imported with their certificate
// make an entry whose key cannot be exported. (Wine keeps no persisted key storage provider keys,
// so the key storage provider's paths are proven on the software CryptoAPI alone.)
#include <windows.h>

#include <algorithm>
#include <string>

#include "support/capi_handles.h"
#include "support/host.h"
#include "windows/dll_test.h"

namespace {

const jint kSha1 = 2;
const DWORD kBits = 1024;
const Bytes kData = {'i', 'n', 's', 't', 'a', 'l', 'l', 'e', 'd'};
// SHA-1 of kData.
const Bytes kDataSha1 = {0x85, 0x84, 0x1a, 0xbd, 0xdb, 0x12, 0xdc, 0x35, 0x91, 0xa5,
                         0x99, 0x0c, 0x65, 0x27, 0xdf, 0x65, 0xa5, 0xe6, 0x3c, 0x87};

std::string uniqueName(const char* stem) {
    static int counter = 0;
    return std::string(stem) + "-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(GetTickCount64()) + "-" + std::to_string(++counter);
}

// A self-signed certificate of the container's key-exchange key in the AES CSP, with no
// property: what an authority's reply stands for here.
Bytes selfSigned(const std::string& container, const char* subject) {
    std::wstring wideContainer(container.begin(), container.end());
    std::string provider = kAesProvider;
    std::wstring wideProvider(provider.begin(), provider.end());
    CRYPT_KEY_PROV_INFO signer = {};
    signer.pwszContainerName = wideContainer.data();
    signer.pwszProvName = wideProvider.data();
    signer.dwProvType = PROV_RSA_AES;
    signer.dwKeySpec = AT_KEYEXCHANGE;
    BYTE name[256];
    DWORD nameSize = sizeof(name);
    if (!CertStrToNameA(X509_ASN_ENCODING, subject, CERT_X500_NAME_STR, nullptr, name, &nameSize,
                        nullptr))
        return {};
    CERT_NAME_BLOB nameBlob = {nameSize, name};
    PCCERT_CONTEXT made = CertCreateSelfSignCertificate(0, &nameBlob, 0, &signer, nullptr,
                                                        nullptr, nullptr, nullptr);
    if (made == nullptr) return {};
    Bytes encoding(made->pbCertEncoded, made->pbCertEncoded + made->cbCertEncoded);
    CertFreeCertificateContext(made);
    return encoding;
}

bool containerExists(const std::string& container) {
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextA(&provider, container.c_str(), kAesProvider, PROV_RSA_AES, 0))
        return false;
    CryptReleaseContext(provider, 0);
    return true;
}

// The numbers of an exportable key made in a scratch container, as Java gives an RSA private
// key's: modulus, public and private exponents, primes, prime exponents and coefficient,
// most significant byte first.
std::vector<Bytes> exportableKeyNumbers(const std::string& container) {
    capi::Provider provider;
    capi::Key key;
    if (!CryptAcquireContextA(provider.put(), container.c_str(), kAesProvider, PROV_RSA_AES,
                              CRYPT_NEWKEYSET) ||
        !CryptGenKey(provider.get(), AT_KEYEXCHANGE, (kBits << 16) | CRYPT_EXPORTABLE, key.put()))
        return {};
    DWORD size = 0;
    CryptExportKey(key.get(), 0, PRIVATEKEYBLOB, 0, nullptr, &size);
    Bytes blob(size);
    if (!CryptExportKey(key.get(), 0, PRIVATEKEYBLOB, 0, blob.data(), &size)) return {};
    const size_t whole = kBits / 8, half = kBits / 16;
    const BYTE* at = blob.data() + sizeof(BLOBHEADER) + sizeof(RSAPUBKEY);
    auto take = [&](size_t length) {
        Bytes number(at, at + length);
        at += length;
        std::reverse(number.begin(), number.end());
        return number;
    };
    DWORD exponent = reinterpret_cast<const RSAPUBKEY*>(blob.data() + sizeof(BLOBHEADER))->pubexp;
    Bytes publicExponent = {static_cast<BYTE>(exponent >> 16), static_cast<BYTE>(exponent >> 8),
                            static_cast<BYTE>(exponent)};
    Bytes modulus = take(whole), prime1 = take(half), prime2 = take(half),
          exponent1 = take(half), exponent2 = take(half), coefficient = take(half),
          privateExponent = take(whole);
    SecureZeroMemory(blob.data(), blob.size());
    return {modulus, publicExponent, privateExponent, prime1, prime2, exponent1, exponent2,
            coefficient};
}

class DllKeyEntries : public DllTest {
protected:
    const ProviderExports& provider() const { return providerDll().exports(); }

    void SetUp() override {
        DllTest::SetUp();
        ASSERT_EQ(providerDll().problem(), "") << providerDll().path();
    }

    void expectNothingThrown() {
        std::optional<FakeJniEnv::Thrown> thrown = jni_.catchThrown();
        EXPECT_FALSE(thrown.has_value())
            << (thrown ? thrown->className + " " + thrown->step + " " +
                             std::to_string(thrown->status) + " " + thrown->message
                       : "");
    }

    Bytes signWith(jlong key) {
        Bytes signature;
        read(jni_.call(provider().signHash, key, kSha1, javaBytes(kDataSha1)), signature);
        expectNothingThrown();
        return signature;
    }

    bool listedWithKey(const Bytes& certificate) {
        jobject listing = jni_.call(provider().listStore, jboolean{JNI_FALSE}, jni_.newString("My"));
        std::vector<std::pair<Bytes, bool>> personal = jni_.listingOf(listing);
        return std::find(personal.begin(), personal.end(), std::make_pair(certificate, true)) !=
               personal.end();
    }

    Bytes signWithCertificatesKey(const Bytes& certificate) {
        jlong key = jni_.call(provider().newKeyHandle, jboolean{JNI_FALSE}, javaBytes(certificate),
                              jni_.newString("RSA"), static_cast<jbyteArray>(nullptr));
        Bytes signature = signWith(key);
        jni_.call(provider().freeKeyHandle, key);
        return signature;
    }

    // Deletes the entry: its container goes, and its certificate, which Wine forgets to.
    void expectDeletedWithItsContainer(const Bytes& certificate, const std::string& container) {
        jni_.call(provider().deleteKeyEntry, jboolean{JNI_FALSE}, javaBytes(certificate));
        expectNothingThrown();
        EXPECT_FALSE(containerExists(container));
        if (listedWithKey(certificate) && runningUnderWine())
            GTEST_SKIP() << "Wine: a deletion from a registry store is lost unless the store is "
                            "committed before it is closed; Windows keeps it";
        EXPECT_FALSE(listedWithKey(certificate));
    }
};

TEST_F(DllKeyEntries, AGeneratedKeySignsAtOnceIsBoundAndGoesWithItsContainer) {
    const std::string container = uniqueName("qdie-dll-generated");
    Bytes publicKeyInfo;
    ASSERT_TRUE(read(jni_.call(provider().generateKey, jboolean{JNI_FALSE},
                               jni_.newString(container), jboolean{JNI_FALSE}, jboolean{JNI_FALSE},
                               jint{kBits}, static_cast<jbyteArray>(nullptr)),
                     publicKeyInfo));
    expectNothingThrown();
    jlong key = jni_.call(provider().newContainerKeyHandle, jboolean{JNI_FALSE},
                          jni_.newString(container), jboolean{JNI_FALSE},
                          javaBytes(publicKeyInfo), jni_.newString("RSA"),
                          static_cast<jbyteArray>(nullptr));
    ASSERT_NE(key, 0);
    Bytes signature = signWith(key);

    Bytes certificate = selfSigned(container, "CN=Generated In Wine");
    ASSERT_FALSE(certificate.empty());
    EXPECT_TRUE(verifies(*fixture_, certificate, CALG_SHA1, kData, signature));
    jni_.call(provider().bindCertificate, key, javaBytes(certificate), jni_.newByteArrays({}));
    expectNothingThrown();
    jni_.call(provider().freeKeyHandle, key);
    EXPECT_TRUE(listedWithKey(certificate));
    EXPECT_TRUE(verifies(*fixture_, certificate, CALG_SHA1, kData,
                         signWithCertificatesKey(certificate)));

    expectDeletedWithItsContainer(certificate, container);
}

TEST_F(DllKeyEntries, AnImportedKeyIsInstalledWithItsCertificateAndCannotBeExported) {
    const std::string scratch = uniqueName("qdie-dll-scratch");
    std::vector<Bytes> numbers = exportableKeyNumbers(scratch);
    ASSERT_EQ(numbers.size(), 8u);
    Bytes certificate = selfSigned(scratch, "CN=Imported In Wine");
    ASSERT_FALSE(certificate.empty());
    HCRYPTPROV deleted = 0;
    CryptAcquireContextA(&deleted, scratch.c_str(), kAesProvider, PROV_RSA_AES, CRYPT_DELETEKEYSET);

    const std::string container = uniqueName("qdie-dll-imported");
    jni_.call(provider().installKeyEntry, jboolean{JNI_FALSE}, jni_.newString(container),
              jboolean{JNI_FALSE}, jint{0}, jni_.newByteArrays(numbers),
              static_cast<jbyteArray>(nullptr), javaBytes(certificate), jni_.newByteArrays({}));
    expectNothingThrown();
    EXPECT_TRUE(listedWithKey(certificate));
    EXPECT_TRUE(verifies(*fixture_, certificate, CALG_SHA1, kData,
                         signWithCertificatesKey(certificate)));
    {
        capi::Provider installed;
        capi::Key key;
        ASSERT_TRUE(CryptAcquireContextA(installed.put(), container.c_str(), kAesProvider,
                                         PROV_RSA_AES, 0));
        ASSERT_TRUE(CryptGetUserKey(installed.get(), AT_KEYEXCHANGE, key.put()));
        DWORD size = 0;
        EXPECT_FALSE(CryptExportKey(key.get(), 0, PRIVATEKEYBLOB, 0, nullptr, &size));
    }

    // The same name again changes nothing.
    jni_.call(provider().installKeyEntry, jboolean{JNI_FALSE}, jni_.newString(container),
              jboolean{JNI_FALSE}, jint{0}, jni_.newByteArrays(numbers),
              static_cast<jbyteArray>(nullptr), javaBytes(certificate), jni_.newByteArrays({}));
    std::optional<FakeJniEnv::Thrown> exists = jni_.catchThrown();
    ASSERT_TRUE(exists.has_value());
    EXPECT_EQ(static_cast<DWORD>(exists->windowsError), static_cast<DWORD>(NTE_EXISTS));
    EXPECT_TRUE(listedWithKey(certificate));

    expectDeletedWithItsContainer(certificate, container);
}

}  // namespace
