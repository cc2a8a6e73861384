// The software key storage provider as CNG callers meet it: its keys opened by name, their
// properties, the two-call protocol of signing and decryption, and the refusals Windows
// documents; CryptAcquireCertificatePrivateKey and NCryptTranslateHandle over the same keys.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "softcapi/admin/admin.h"
#include "softcapi/advapi32/providers.h"
#include "softcapi/wincapi.h"
#include "support/openssl_check.h"
#include "support/temp_profile.h"

namespace {

using Bytes = std::vector<BYTE>;
namespace admin = softcapi::admin;

const Bytes kMessage = {'n', 'c', 'r', 'y', 'p', 't'};

admin::Identity identity(admin::KeyType type, const char* container, const char* provider) {
    admin::IdentityOptions options;
    options.subject = "CN=Cng";
    options.keyType = type;
    options.placement.container = container;
    options.placement.provider = provider;
    return admin::createIdentity(options);
}

class KeyStorageProvider : public ::testing::Test {
protected:
    void SetUp() override {
        ec_ = identity(admin::KeyType::EcP256, "ec-key", softcapi::kKeyStorageProviderName);
        ASSERT_EQ(NCryptOpenStorageProvider(&provider_, MS_KEY_STORAGE_PROVIDER, 0), ERROR_SUCCESS);
    }
    void TearDown() override {
        if (key_ != 0) EXPECT_EQ(NCryptFreeObject(key_), ERROR_SUCCESS);
        EXPECT_EQ(NCryptFreeObject(provider_), ERROR_SUCCESS);
    }

    std::u16string property(NCRYPT_HANDLE object, LPCWSTR name) {
        DWORD size = 0;
        EXPECT_EQ(NCryptGetProperty(object, name, nullptr, 0, &size, 0), ERROR_SUCCESS);
        std::u16string text(size / sizeof(char16_t), u'\0');
        EXPECT_EQ(NCryptGetProperty(object, name, reinterpret_cast<PBYTE>(text.data()), size,
                                    &size, 0),
                  ERROR_SUCCESS);
        text.pop_back();
        return text;
    }

    TempProfile profile_;
    admin::Identity ec_;
    NCRYPT_PROV_HANDLE provider_ = 0;
    NCRYPT_KEY_HANDLE key_ = 0;
};

TEST_F(KeyStorageProvider, KeysOpenByNameIgnoringCaseAndTellTheirProperties) {
    ASSERT_EQ(NCryptOpenKey(provider_, &key_, u"EC-KEY", 0, NCRYPT_SILENT_FLAG), ERROR_SUCCESS);
    EXPECT_EQ(property(key_, NCRYPT_ALGORITHM_GROUP_PROPERTY), u"ECDSA");
    EXPECT_EQ(property(key_, NCRYPT_ALGORITHM_PROPERTY), u"ECDSA_P256");
    EXPECT_EQ(property(key_, NCRYPT_NAME_PROPERTY), u"ec-key");
    EXPECT_EQ(property(provider_, NCRYPT_NAME_PROPERTY), MS_KEY_STORAGE_PROVIDER);
    DWORD bits = 0;
    DWORD size = 0;
    EXPECT_EQ(NCryptGetProperty(key_, NCRYPT_LENGTH_PROPERTY, reinterpret_cast<PBYTE>(&bits),
                                sizeof(bits), &size, 0),
              ERROR_SUCCESS);
    EXPECT_EQ(bits, 256u);
    EXPECT_EQ(NCryptGetProperty(key_, NCRYPT_ALGORITHM_GROUP_PROPERTY, reinterpret_cast<PBYTE>(&bits),
                                2, &size, 0),
              NTE_BUFFER_TOO_SMALL);
    EXPECT_EQ(NCryptGetProperty(key_, u"Export Policy", reinterpret_cast<PBYTE>(&bits),
                                sizeof(bits), &size, 0),
              NTE_NOT_SUPPORTED);

    NCRYPT_KEY_HANDLE none = 0;
    EXPECT_EQ(NCryptOpenKey(provider_, &none, u"no-such-key", 0, 0), NTE_BAD_KEYSET);
    EXPECT_EQ(NCryptOpenKey(provider_, &none, u"ec-key", 0, NCRYPT_MACHINE_KEY_FLAG), NTE_BAD_KEYSET);
    EXPECT_EQ(NCryptOpenKey(key_, &none, u"ec-key", 0, 0), NTE_INVALID_HANDLE);
    NCRYPT_PROV_HANDLE other = 0;
    EXPECT_EQ(NCryptOpenStorageProvider(&other, u"Microsoft Smart Card Key Storage Provider", 0),
              NTE_KEYSET_NOT_DEF);
    // A CSP's containers are not the key storage provider's keys.
    identity(admin::KeyType::Rsa1024, "csp-key", "");
    EXPECT_EQ(NCryptOpenKey(provider_, &none, u"csp-key", 0, 0), NTE_BAD_KEYSET);
}

TEST_F(KeyStorageProvider, EcdsaSignsAnyHashAsRThenSWithTheTwoCallProtocol) {
    ASSERT_EQ(NCryptOpenKey(provider_, &key_, u"ec-key", 0, 0), ERROR_SUCCESS);
    for (ALG_ID algorithm : {CALG_SHA1, CALG_SHA_256, CALG_SHA_512}) {
        Bytes hash = opensslDigest(algorithm, kMessage);
        DWORD size = 0;
        ASSERT_EQ(NCryptSignHash(key_, nullptr, hash.data(), static_cast<DWORD>(hash.size()),
                                 nullptr, 0, &size, 0),
                  ERROR_SUCCESS);
        ASSERT_EQ(size, 64u);
        Bytes signature(size);
        EXPECT_EQ(NCryptSignHash(key_, nullptr, hash.data(), static_cast<DWORD>(hash.size()),
                                 signature.data(), 63, &size, 0),
                  NTE_BUFFER_TOO_SMALL);
        ASSERT_EQ(NCryptSignHash(key_, nullptr, hash.data(), static_cast<DWORD>(hash.size()),
                                 signature.data(), size, &size, 0),
                  ERROR_SUCCESS);
        EXPECT_TRUE(opensslVerifiesCng(ec_.certificate, algorithm, hash, signature, 0));
    }
    // ECDSA takes no padding, and decrypts nothing.
    Bytes hash = opensslDigest(CALG_SHA_256, kMessage);
    BCRYPT_PKCS1_PADDING_INFO pkcs1{BCRYPT_SHA256_ALGORITHM};
    Bytes signature(64);
    DWORD size = 0;
    EXPECT_EQ(NCryptSignHash(key_, &pkcs1, hash.data(), 32, signature.data(), 64, &size,
                             BCRYPT_PAD_PKCS1),
              NTE_INVALID_PARAMETER);
    EXPECT_EQ(NCryptDecrypt(key_, signature.data(), 64, nullptr, signature.data(), 64, &size,
                            NCRYPT_PAD_PKCS1_FLAG),
              NTE_NOT_SUPPORTED);
}

// A PIN-protected key answers as a smart card's: it signs nothing before NCRYPT_PIN_PROPERTY has
// given it its PIN, refuses a wrong one, and a key without a PIN takes none.
TEST_F(KeyStorageProvider, PinProtectedKeyWaitsForItsPin) {
    admin::IdentityOptions options;
    options.subject = "CN=Pinned";
    options.keyType = admin::KeyType::EcP384;
    options.placement.container = "pinned";
    options.placement.provider = softcapi::kKeyStorageProviderName;
    options.placement.pin = "kl\xc3\xbcssel";
    admin::Identity pinned = admin::createIdentity(options);
    ASSERT_EQ(NCryptOpenKey(provider_, &key_, u"pinned", 0, 0), ERROR_SUCCESS);
    Bytes hash = opensslDigest(CALG_SHA_384, kMessage);
    Bytes signature(96);
    DWORD size = 0;
    auto sign = [&] {
        return NCryptSignHash(key_, nullptr, hash.data(), static_cast<DWORD>(hash.size()),
                              signature.data(), 96, &size, 0);
    };
    auto setPin = [&](NCRYPT_KEY_HANDLE key, std::u16string pin) {
        return NCryptSetProperty(key, NCRYPT_PIN_PROPERTY, reinterpret_cast<PBYTE>(pin.data()),
                                 static_cast<DWORD>((pin.size() + 1) * sizeof(char16_t)), 0);
    };
    EXPECT_EQ(sign(), SCARD_W_CARD_NOT_AUTHENTICATED);
    EXPECT_EQ(setPin(key_, u"klussel"), SCARD_W_WRONG_CHV);
    EXPECT_EQ(sign(), SCARD_W_CARD_NOT_AUTHENTICATED);
    ASSERT_EQ(setPin(key_, u"kl\u00fcssel"), ERROR_SUCCESS);
    ASSERT_EQ(sign(), ERROR_SUCCESS);
    EXPECT_TRUE(opensslVerifiesCng(pinned.certificate, CALG_SHA_384, hash, signature, 0));

    NCRYPT_KEY_HANDLE open = 0;
    ASSERT_EQ(NCryptOpenKey(provider_, &open, u"ec-key", 0, 0), ERROR_SUCCESS);
    EXPECT_EQ(setPin(open, u"1234"), NTE_NOT_SUPPORTED);
    EXPECT_EQ(NCryptSetProperty(open, u"Export Policy", nullptr, 0, 0), NTE_NOT_SUPPORTED);
    EXPECT_EQ(NCryptFreeObject(open), ERROR_SUCCESS);
}

TEST_F(KeyStorageProvider, RsaSignsPkcs1AndPssAndDecryptsOaepOfItsDigest) {
    admin::Identity rsa = identity(admin::KeyType::Rsa2048, "rsa-key", softcapi::kKeyStorageProviderName);
    ASSERT_EQ(NCryptOpenKey(provider_, &key_, u"rsa-key", AT_KEYEXCHANGE, 0), ERROR_SUCCESS);
    Bytes hash = opensslDigest(CALG_SHA_256, kMessage);
    Bytes signature(256);
    DWORD size = 0;
    BCRYPT_PKCS1_PADDING_INFO pkcs1{BCRYPT_SHA256_ALGORITHM};
    ASSERT_EQ(NCryptSignHash(key_, &pkcs1, hash.data(), 32, signature.data(), 256, &size,
                             BCRYPT_PAD_PKCS1),
              ERROR_SUCCESS);
    EXPECT_TRUE(opensslVerifiesCng(rsa.certificate, CALG_SHA_256, hash, signature, BCRYPT_PAD_PKCS1));
    BCRYPT_PSS_PADDING_INFO pss{BCRYPT_SHA256_ALGORITHM, 32};
    ASSERT_EQ(NCryptSignHash(key_, &pss, hash.data(), 32, signature.data(), 256, &size,
                             BCRYPT_PAD_PSS),
              ERROR_SUCCESS);
    EXPECT_TRUE(opensslVerifiesCng(rsa.certificate, CALG_SHA_256, hash, signature, BCRYPT_PAD_PSS, 32));
    // The salt must fit: 2048 bits hold a SHA-256 hash and at most 222 bytes of salt.
    pss.cbSalt = 223;
    EXPECT_EQ(NCryptSignHash(key_, &pss, hash.data(), 32, signature.data(), 256, &size,
                             BCRYPT_PAD_PSS),
              NTE_INVALID_PARAMETER);
    // A hash of another length than its algorithm's is refused.
    EXPECT_EQ(NCryptSignHash(key_, &pkcs1, hash.data(), 20, signature.data(), 256, &size,
                             BCRYPT_PAD_PKCS1),
              NTE_INVALID_PARAMETER);

    Bytes cipherText = opensslEncrypt(rsa.certificate, kMessage, true);
    BCRYPT_OAEP_PADDING_INFO oaep{BCRYPT_SHA1_ALGORITHM, nullptr, 0};
    Bytes plainText(256);
    ASSERT_EQ(NCryptDecrypt(key_, cipherText.data(), 256, &oaep, plainText.data(), 256, &size,
                            NCRYPT_PAD_OAEP_FLAG),
              ERROR_SUCCESS);
    EXPECT_EQ(Bytes(plainText.begin(), plainText.begin() + size), kMessage);
    // The same ciphertext under OAEP with SHA-256, or PKCS #1 v1.5, is bad data.
    oaep.pszAlgId = BCRYPT_SHA256_ALGORITHM;
    EXPECT_EQ(NCryptDecrypt(key_, cipherText.data(), 256, &oaep, plainText.data(), 256, &size,
                            NCRYPT_PAD_OAEP_FLAG),
              NTE_BAD_DATA);
    EXPECT_EQ(NCryptDecrypt(key_, cipherText.data(), 255, &oaep, plainText.data(), 256, &size,
                            NCRYPT_PAD_OAEP_FLAG),
              NTE_BAD_DATA);
    EXPECT_EQ(NCryptFreeObject(key_), ERROR_SUCCESS);
    EXPECT_EQ(NCryptFreeObject(key_), NTE_INVALID_HANDLE);
    key_ = 0;
}

// A certificate's public key checks CNG's signatures: a good one, none that is altered, cut or
// of another padding.
TEST_F(KeyStorageProvider, CertificateKeysCheckCngSignatures) {
    ASSERT_EQ(NCryptOpenKey(provider_, &key_, u"ec-key", 0, 0), ERROR_SUCCESS);
    Bytes hash = opensslDigest(CALG_SHA_384, kMessage);
    Bytes signature(64);
    DWORD size = 0;
    ASSERT_EQ(NCryptSignHash(key_, nullptr, hash.data(), 48, signature.data(), 64, &size, 0),
              ERROR_SUCCESS);
    HCERTSTORE store = CertOpenSystemStoreA(0, "My");
    ASSERT_NE(store, nullptr);
    PCCERT_CONTEXT context = CertEnumCertificatesInStore(store, nullptr);
    ASSERT_NE(context, nullptr);
    BCRYPT_KEY_HANDLE publicKey = nullptr;
    ASSERT_TRUE(CryptImportPublicKeyInfoEx2(X509_ASN_ENCODING, &context->pCertInfo->SubjectPublicKeyInfo,
                                            0, nullptr, &publicKey));
    EXPECT_EQ(BCryptVerifySignature(publicKey, nullptr, hash.data(), 48, signature.data(), 64, 0),
              STATUS_SUCCESS);
    EXPECT_EQ(BCryptVerifySignature(publicKey, nullptr, hash.data(), 48, signature.data(), 63, 0),
              STATUS_INVALID_SIGNATURE);
    BCRYPT_PKCS1_PADDING_INFO pkcs1{BCRYPT_SHA384_ALGORITHM};
    EXPECT_EQ(BCryptVerifySignature(publicKey, &pkcs1, hash.data(), 48, signature.data(), 64,
                                    BCRYPT_PAD_PKCS1),
              STATUS_INVALID_PARAMETER);
    signature[10] ^= 1;
    EXPECT_EQ(BCryptVerifySignature(publicKey, nullptr, hash.data(), 48, signature.data(), 64, 0),
              STATUS_INVALID_SIGNATURE);
    EXPECT_EQ(BCryptDestroyKey(publicKey), STATUS_SUCCESS);
    EXPECT_EQ(BCryptDestroyKey(publicKey), STATUS_INVALID_HANDLE);
    CertFreeCertificateContext(context);
    CertCloseStore(store, 0);
}

TEST_F(KeyStorageProvider, CertificatesGiveTheirKeyAsCngOrCspAsTheFlagsAsk) {
    admin::Identity csp = identity(admin::KeyType::Rsa1024, "csp-key", "");
    HCERTSTORE store = CertOpenSystemStoreA(0, "My");
    ASSERT_NE(store, nullptr);
    PCCERT_CONTEXT ecContext = nullptr;
    PCCERT_CONTEXT cspContext = nullptr;
    for (PCCERT_CONTEXT context = nullptr;
         (context = CertEnumCertificatesInStore(store, context)) != nullptr;) {
        Bytes encoding(context->pbCertEncoded, context->pbCertEncoded + context->cbCertEncoded);
        if (encoding == ec_.certificate) ecContext = CertDuplicateCertificateContext(context);
        if (encoding == csp.certificate) cspContext = CertDuplicateCertificateContext(context);
    }
    ASSERT_NE(ecContext, nullptr);
    ASSERT_NE(cspContext, nullptr);

    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE handle = 0;
    DWORD keySpec = 0;
    BOOL callerFrees = FALSE;
    // Without the NCrypt flags a CNG key cannot be had.
    EXPECT_FALSE(CryptAcquireCertificatePrivateKey(ecContext, 0, nullptr, &handle, &keySpec,
                                                   &callerFrees));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_PROV_TYPE_NOT_DEF));
    ASSERT_TRUE(CryptAcquireCertificatePrivateKey(
        ecContext, CRYPT_ACQUIRE_ALLOW_NCRYPT_KEY_FLAG | CRYPT_ACQUIRE_COMPARE_KEY_FLAG, nullptr,
        &handle, &keySpec, &callerFrees));
    EXPECT_EQ(keySpec, CERT_NCRYPT_KEY_SPEC);
    EXPECT_TRUE(callerFrees);
    EXPECT_EQ(property(handle, NCRYPT_ALGORITHM_GROUP_PROPERTY), u"ECDSA");
    EXPECT_EQ(NCryptFreeObject(handle), ERROR_SUCCESS);

    // A CSP's key comes as its context, or, when CNG is preferred, as its CNG view.
    ASSERT_TRUE(CryptAcquireCertificatePrivateKey(cspContext, CRYPT_ACQUIRE_ALLOW_NCRYPT_KEY_FLAG,
                                                  nullptr, &handle, &keySpec, &callerFrees));
    EXPECT_EQ(keySpec, static_cast<DWORD>(AT_KEYEXCHANGE));
    NCRYPT_PROV_HANDLE viewProvider = 0;
    NCRYPT_KEY_HANDLE view = 0;
    ASSERT_EQ(NCryptTranslateHandle(&viewProvider, &view, handle, 0, AT_KEYEXCHANGE, 0), ERROR_SUCCESS);
    EXPECT_EQ(property(view, NCRYPT_ALGORITHM_GROUP_PROPERTY), u"RSA");
    EXPECT_EQ(NCryptTranslateHandle(&viewProvider, &view, handle, 0, AT_SIGNATURE, 0), NTE_NO_KEY);
    EXPECT_EQ(NCryptFreeObject(view), ERROR_SUCCESS);
    EXPECT_EQ(NCryptFreeObject(viewProvider), ERROR_SUCCESS);
    EXPECT_TRUE(CryptReleaseContext(handle, 0));
    ASSERT_TRUE(CryptAcquireCertificatePrivateKey(cspContext, CRYPT_ACQUIRE_PREFER_NCRYPT_KEY_FLAG,
                                                  nullptr, &handle, &keySpec, &callerFrees));
    EXPECT_EQ(keySpec, CERT_NCRYPT_KEY_SPEC);
    EXPECT_EQ(property(handle, NCRYPT_NAME_PROPERTY), u"csp-key");
    EXPECT_EQ(NCryptFreeObject(handle), ERROR_SUCCESS);

    CertFreeCertificateContext(ecContext);
    CertFreeCertificateContext(cspContext);
    CertCloseStore(store, 0);
}

}  // namespace
