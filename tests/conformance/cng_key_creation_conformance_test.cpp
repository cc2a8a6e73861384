// Keys of the key storage provider made through CNG: created and finalized with their
// properties, imported from RSA full private and ECDSA private blobs (finalized at once, or
// after their PIN with NCRYPT_DO_NOT_FINALIZE_FLAG), found again by name and deleted; in both
// key sets.
#include <cstring>

#include "conformance/key_creation_test_support.h"

namespace {

using ScopedNcryptObject = keyops::ScopedNcryptObject;

// RFC 6979's P-256 test key (A.2.5): the point, then the private number.
const char kP256X[] = "60FED4BA255A9D31C961EB74C6356D68C049B8923B61FA6CE669622E60F29FB6";
const char kP256Y[] = "7903FE1008B8BC99A41AE9E95628BC64F2F1B20C2D7E9F5177A3C294D4462299";
const char kP256D[] = "C9AFA9D845BA75166B5C215767B1D6934E50C3DB36E89B127B8A622B120F6721";

void appendHex(std::vector<BYTE>& out, const char* hex) {
    for (size_t i = 0; hex[i] != '\0'; i += 2)
        out.push_back(static_cast<BYTE>(std::stoi(std::string(hex + i, 2), nullptr, 16)));
}

std::vector<BYTE> p256PrivateBlob() {
    std::vector<BYTE> blob(sizeof(BCRYPT_ECCKEY_BLOB));
    const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PRIVATE_P256_MAGIC, 32};
    std::memcpy(blob.data(), &header, sizeof(header));
    for (const char* part : {kP256X, kP256Y, kP256D}) appendHex(blob, part);
    return blob;
}

// A BCRYPT_RSAFULLPRIVATE_BLOB of the key of a CSP's PRIVATEKEYBLOB: the same numbers, most
// significant byte first, the exponent first.
std::vector<BYTE> rsaFullPrivateBlob(const std::vector<BYTE>& capi) {
    RSAPUBKEY rsa;
    std::memcpy(&rsa, capi.data() + sizeof(BLOBHEADER), sizeof(rsa));
    const size_t half = rsa.bitlen / 16;
    std::vector<BYTE> exponent;
    for (DWORD value = rsa.pubexp; value != 0; value >>= 8)
        exponent.insert(exponent.begin(), static_cast<BYTE>(value & 0xff));
    const BCRYPT_RSAKEY_BLOB header{BCRYPT_RSAFULLPRIVATE_MAGIC, rsa.bitlen,
                                    static_cast<ULONG>(exponent.size()), static_cast<ULONG>(2 * half),
                                    static_cast<ULONG>(half), static_cast<ULONG>(half)};
    std::vector<BYTE> blob(sizeof(header));
    std::memcpy(blob.data(), &header, sizeof(header));
    blob.insert(blob.end(), exponent.begin(), exponent.end());
    const BYTE* at = capi.data() + sizeof(BLOBHEADER) + sizeof(RSAPUBKEY);
    for (size_t size : {2 * half, half, half, half, half, half, 2 * half}) {
        blob.insert(blob.end(), std::reverse_iterator<const BYTE*>(at + size),
                    std::reverse_iterator<const BYTE*>(at));
        at += size;
    }
    return blob;
}

// A PRIVATEKEYBLOB of a fresh exportable 2048-bit key of a CSP.
std::vector<BYTE> freshCapiBlob() {
    const std::string name = uniqueName("QdieCngBlob");
    ContainerCleanup cleanup(name, 0);
    ScopedProvider provider;
    ScopedKey key;
    DWORD size = 0;
    if (!CryptAcquireContextA(provider.put(), name.c_str(), kAesProvider, PROV_RSA_AES, CRYPT_NEWKEYSET) ||
        !CryptGenKey(provider.get(), AT_KEYEXCHANGE, (2048u << 16) | CRYPT_EXPORTABLE, key.put()) ||
        !CryptExportKey(key.get(), 0, PRIVATEKEYBLOB, 0, nullptr, &size))
        return {};
    std::vector<BYTE> blob(size);
    if (!CryptExportKey(key.get(), 0, PRIVATEKEYBLOB, 0, blob.data(), &size)) return {};
    return blob;
}

class CngKeyCreation : public ConformanceTest {
protected:
    void SetUp() override {
        ConformanceTest::SetUp();
        if (runningUnderWine())
            GTEST_SKIP() << "Wine's NCRYPT keeps no persisted keys; Windows' key storage provider does";
        ASSERT_EQ(NCryptOpenStorageProvider(provider_.put(), MS_KEY_STORAGE_PROVIDER, 0), ERROR_SUCCESS);
    }

    NCRYPT_KEY_HANDLE open(const WideString& name, DWORD flags, SECURITY_STATUS& status) {
        NCRYPT_KEY_HANDLE key = 0;
        status = NCryptOpenKey(provider_.get(), &key, name.c_str(), 0, flags);
        return key;
    }

    // Whether the key signs a SHA-256 hash that its exported public key info verifies.
    static bool signsForItsPublicKeyInfo(NCRYPT_KEY_HANDLE key, bool rsa) {
        const std::vector<BYTE> info = exportPublicKeyInfo(key, CERT_NCRYPT_KEY_SPEC);
        BYTE hash[32] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
        BCRYPT_PKCS1_PADDING_INFO pkcs1{BCRYPT_SHA256_ALGORITHM};
        void* padding = rsa ? &pkcs1 : nullptr;
        const DWORD flags = rsa ? BCRYPT_PAD_PKCS1 : 0;
        DWORD size = 0;
        if (info.empty() ||
            NCryptSignHash(key, padding, hash, sizeof(hash), nullptr, 0, &size, flags) != ERROR_SUCCESS)
            return false;
        std::vector<BYTE> signature(size);
        if (NCryptSignHash(key, padding, hash, sizeof(hash), signature.data(), size, &size, flags) !=
            ERROR_SUCCESS)
            return false;
        keyops::ScopedBcryptKey publicKey;
        return CryptImportPublicKeyInfoEx2(X509_ASN_ENCODING,
                                           const_cast<PCERT_PUBLIC_KEY_INFO>(asPublicKeyInfo(info)),
                                           0, nullptr, publicKey.put()) &&
               BCRYPT_SUCCESS(BCryptVerifySignature(publicKey.get(), padding, hash, sizeof(hash),
                                                    signature.data(), size, flags));
    }

    // NCryptDeleteKey frees the handle when it succeeds only.
    static bool deleteKey(ScopedNcryptObject& key, DWORD flags) {
        if (NCryptDeleteKey(key.get(), flags) != ERROR_SUCCESS) return false;
        static_cast<void>(key.detach());
        return true;
    }

    ScopedNcryptObject provider_;
};

TEST_F(CngKeyCreation, ACreatedKeyIsPersistedByFinalizeAndGoneAfterDelete) {
    for (DWORD keySet : {DWORD{0}, DWORD{NCRYPT_MACHINE_KEY_FLAG}}) {
        for (LPCWSTR algorithm : {NCRYPT_RSA_ALGORITHM, NCRYPT_ECDSA_P256_ALGORITHM}) {
            const WideString name = wide(uniqueName("QdieCng"));
            ScopedNcryptObject key;
            ASSERT_EQ(NCryptCreatePersistedKey(provider_.get(), key.put(), algorithm, name.c_str(),
                                               0, keySet),
                      ERROR_SUCCESS);
            const bool rsa = WideString(algorithm) == NCRYPT_RSA_ALGORITHM;
            if (rsa) {
                DWORD bits = 3072;
                EXPECT_EQ(NCryptSetProperty(key.get(), NCRYPT_LENGTH_PROPERTY,
                                            reinterpret_cast<PBYTE>(&bits), sizeof(bits), 0),
                          ERROR_SUCCESS);
            }
            DWORD policy = 0;
            EXPECT_EQ(NCryptSetProperty(key.get(), NCRYPT_EXPORT_POLICY_PROPERTY,
                                        reinterpret_cast<PBYTE>(&policy), sizeof(policy), 0),
                      ERROR_SUCCESS);
            SECURITY_STATUS status = 0;
            EXPECT_EQ(open(name, keySet, status), 0u);
            EXPECT_EQ(status, NTE_BAD_KEYSET) << "nothing is persisted before finalizing";
            ASSERT_EQ(NCryptFinalizeKey(key.get(), NCRYPT_SILENT_FLAG), ERROR_SUCCESS);
            EXPECT_TRUE(signsForItsPublicKeyInfo(key.get(), rsa));
            DWORD bits = 0;
            DWORD size = 0;
            EXPECT_EQ(NCryptGetProperty(key.get(), NCRYPT_LENGTH_PROPERTY, reinterpret_cast<PBYTE>(&bits),
                                        sizeof(bits), &size, 0),
                      ERROR_SUCCESS);
            EXPECT_EQ(bits, rsa ? 3072u : 256u);

            ScopedNcryptObject twin;
            EXPECT_EQ(NCryptCreatePersistedKey(provider_.get(), twin.put(), algorithm, name.c_str(),
                                               0, keySet),
                      NTE_EXISTS);
            EXPECT_EQ(NCryptCreatePersistedKey(provider_.get(), twin.put(), algorithm, name.c_str(),
                                               0, keySet | NCRYPT_OVERWRITE_KEY_FLAG),
                      ERROR_SUCCESS);

            ScopedNcryptObject opened{open(name, keySet, status)};
            ASSERT_EQ(status, ERROR_SUCCESS);
            EXPECT_TRUE(signsForItsPublicKeyInfo(opened.get(), rsa));
            ASSERT_TRUE(deleteKey(opened, 0));
            EXPECT_EQ(open(name, keySet, status), 0u);
            EXPECT_EQ(status, NTE_BAD_KEYSET);
        }
    }
}

TEST_F(CngKeyCreation, ImportedKeysAreFinalizedWithTheirPin) {
    const std::vector<BYTE> capi = freshCapiBlob();
    ASSERT_FALSE(capi.empty());
    const struct {
        LPCWSTR type;
        std::vector<BYTE> blob;
        bool rsa;
    } kImports[] = {{BCRYPT_RSAFULLPRIVATE_BLOB, rsaFullPrivateBlob(capi), true},
                    {BCRYPT_ECCPRIVATE_BLOB, p256PrivateBlob(), false}};
    for (DWORD keySet : {DWORD{0}, DWORD{NCRYPT_MACHINE_KEY_FLAG}}) {
        for (const auto& import : kImports) {
            const WideString name = wide(uniqueName("QdieImport"));
            BCryptBuffer nameBuffer{static_cast<ULONG>((name.size() + 1) * sizeof(WCHAR)),
                                    NCRYPTBUFFER_PKCS_KEY_NAME, const_cast<WCHAR*>(name.c_str())};
            NCryptBufferDesc parameters{NCRYPTBUFFER_VERSION, 1, &nameBuffer};
            std::vector<BYTE> blob = import.blob;
            ScopedNcryptObject key;
            ASSERT_EQ(NCryptImportKey(provider_.get(), 0, import.type, &parameters, key.put(),
                                      blob.data(), static_cast<DWORD>(blob.size()),
                                      keySet | NCRYPT_DO_NOT_FINALIZE_FLAG | NCRYPT_SILENT_FLAG),
                      ERROR_SUCCESS);
            WideString pin = wide("2468");
            ASSERT_EQ(NCryptSetProperty(key.get(), NCRYPT_PIN_PROPERTY, reinterpret_cast<PBYTE>(pin.data()),
                                        static_cast<DWORD>((pin.size() + 1) * sizeof(WCHAR)), 0),
                      ERROR_SUCCESS);
            ASSERT_EQ(NCryptFinalizeKey(key.get(), 0), ERROR_SUCCESS);
            EXPECT_TRUE(signsForItsPublicKeyInfo(key.get(), import.rsa));

            SECURITY_STATUS status = 0;
            ScopedNcryptObject opened{open(name, keySet, status)};
            ASSERT_EQ(status, ERROR_SUCCESS);
            EXPECT_FALSE(signsForItsPublicKeyInfo(opened.get(), import.rsa)) << "not without its PIN";
            EXPECT_EQ(NCryptSetProperty(opened.get(), NCRYPT_PIN_PROPERTY, reinterpret_cast<PBYTE>(pin.data()),
                                        static_cast<DWORD>((pin.size() + 1) * sizeof(WCHAR)), 0),
                      ERROR_SUCCESS);
            EXPECT_TRUE(signsForItsPublicKeyInfo(opened.get(), import.rsa));
            EXPECT_TRUE(deleteKey(opened, NCRYPT_SILENT_FLAG));

            // Without NCRYPT_DO_NOT_FINALIZE_FLAG the key is persisted at once.
            ScopedNcryptObject atOnce;
            ASSERT_EQ(NCryptImportKey(provider_.get(), 0, import.type, &parameters, atOnce.put(),
                                      blob.data(), static_cast<DWORD>(blob.size()), keySet),
                      ERROR_SUCCESS);
            ScopedNcryptObject found{open(name, keySet, status)};
            EXPECT_EQ(status, ERROR_SUCCESS);
            EXPECT_TRUE(signsForItsPublicKeyInfo(found.get(), import.rsa));
            EXPECT_TRUE(deleteKey(atOnce, 0));
        }
    }
}

TEST_F(CngKeyCreation, AnEcBlobWhosePointIsNotItsKeyIsRefused) {
    std::vector<BYTE> blob = p256PrivateBlob();
    blob.back() ^= 1;
    ScopedNcryptObject key;
    EXPECT_EQ(NCryptImportKey(provider_.get(), 0, BCRYPT_ECCPRIVATE_BLOB, nullptr, key.put(),
                              blob.data(), static_cast<DWORD>(blob.size()), 0),
              NTE_BAD_DATA);
}

}  // namespace
