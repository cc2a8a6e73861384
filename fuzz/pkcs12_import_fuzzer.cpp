// PKCS#12 files from outside, imported as qdie-keystore import-pfx imports them. A file is
// refused with AdminError or imported whole: its certificate listed in the store, bound to a
// container whose key signs what the certificate verifies and decrypts what it encrypts (an EC
// key, in the key storage provider, signs).
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "softcapi/admin/admin.h"
#include "store_walk.h"
#include "support/openssl_check.h"
#include "support/temp_profile.h"

namespace {

// The seeds are made with this password (make_seeds.sh).
const char kPassword[] = "fuzz";
const char kStore[] = "Imported";
const char kContainer[] = "fuzz-import";

TempProfile& profile() {
    static TempProfile scratch(TempProfile::LogFolder::Absent);
    return scratch;
}

void requireSigns(HCRYPTPROV provider, const softcapi::admin::Identity& identity) {
    const std::vector<BYTE> message = {'f', 'u', 'z', 'z'};
    HCRYPTHASH hash = 0;
    require(CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash) != FALSE &&
                CryptHashData(hash, message.data(), static_cast<DWORD>(message.size()), 0) != FALSE,
            "the container hashes");
    DWORD size = 0;
    require(CryptSignHashA(hash, identity.binding.keySpec, nullptr, 0, nullptr, &size) != FALSE,
            "the container tells the signature's size");
    std::vector<BYTE> signature(size);
    require(CryptSignHashA(hash, identity.binding.keySpec, nullptr, 0, signature.data(), &size) !=
                    FALSE &&
                CryptDestroyHash(hash) != FALSE,
            "the imported key signs");
    require(opensslVerifies(identity.certificate, CALG_SHA1, message, signature),
            "the certificate verifies what the imported key signed");
}

void requireDecrypts(HCRYPTPROV provider, const softcapi::admin::Identity& identity) {
    const std::vector<BYTE> plainText = {'s', 'e', 'c', 'r', 'e', 't'};
    std::vector<BYTE> cipherText = opensslEncrypt(identity.certificate, plainText, false);
    std::reverse(cipherText.begin(), cipherText.end());
    HCRYPTKEY key = 0;
    require(CryptGetUserKey(provider, AT_KEYEXCHANGE, &key) != FALSE, "the exchange key opens");
    DWORD length = static_cast<DWORD>(cipherText.size());
    require(CryptDecrypt(key, 0, TRUE, 0, cipherText.data(), &length) != FALSE &&
                std::vector<BYTE>(cipherText.begin(), cipherText.begin() + length) == plainText,
            "the imported key decrypts what the certificate encrypted");
    require(CryptDestroyKey(key) != FALSE, "the key is released");
}

// A key of the key storage provider, through CNG as the library opens it.
void requireKeyStorageKeyWorks(const softcapi::admin::Identity& identity) {
    NCRYPT_PROV_HANDLE storage = 0;
    NCRYPT_KEY_HANDLE key = 0;
    require(NCryptOpenStorageProvider(&storage, MS_KEY_STORAGE_PROVIDER, 0) == ERROR_SUCCESS &&
                NCryptOpenKey(storage, &key, u"fuzz-import", 0, 0) == ERROR_SUCCESS,
            "the key storage provider opens the imported key");
    std::vector<BYTE> hash = opensslDigest(CALG_SHA_256, {'f', 'u', 'z', 'z'});
    DWORD size = 0;
    BCRYPT_PKCS1_PADDING_INFO pkcs1{BCRYPT_SHA256_ALGORITHM};
    BYTE group[16] = {};
    require(NCryptGetProperty(key, NCRYPT_ALGORITHM_GROUP_PROPERTY, group, sizeof(group), &size, 0) ==
                ERROR_SUCCESS,
            "the imported key tells its group");
    const bool ec = std::u16string(reinterpret_cast<const char16_t*>(group)) == NCRYPT_ECDSA_ALGORITHM_GROUP;
    void* padding = ec ? nullptr : &pkcs1;
    DWORD scheme = ec ? 0 : BCRYPT_PAD_PKCS1;
    require(NCryptSignHash(key, padding, hash.data(), static_cast<DWORD>(hash.size()), nullptr, 0,
                           &size, scheme) == ERROR_SUCCESS,
            "the imported key tells its signature's size");
    std::vector<BYTE> signature(size);
    require(NCryptSignHash(key, padding, hash.data(), static_cast<DWORD>(hash.size()),
                           signature.data(), size, &size, scheme) == ERROR_SUCCESS,
            "the imported key signs through CNG");
    require(opensslVerifiesCng(identity.certificate, CALG_SHA_256, hash, signature, scheme),
            "the certificate verifies what the imported key signed through CNG");
    require(NCryptFreeObject(key) == ERROR_SUCCESS && NCryptFreeObject(storage) == ERROR_SUCCESS,
            "the CNG objects are released");
}

void requireImported(const softcapi::admin::Identity& identity) {
    std::vector<WalkedCertificate> walked = walkStore(kStore);
    require(walked.size() == 1 && walked[0].encoded == identity.certificate,
            "the imported certificate is the store's only one");
    require(walked[0].binding && walked[0].binding->container == kContainer &&
                walked[0].binding->provider == identity.binding.provider &&
                walked[0].binding->keySpec == identity.binding.keySpec,
            "the imported certificate is bound to its container");
    if (identity.binding.providerType == 0) return requireKeyStorageKeyWorks(identity);
    HCRYPTPROV provider = 0;
    require(CryptAcquireContextA(&provider, kContainer, identity.binding.provider.c_str(),
                                 identity.binding.providerType, 0) != FALSE,
            "the container of an import opens");
    requireSigns(provider, identity);
    if (identity.binding.keySpec == AT_KEYEXCHANGE) requireDecrypts(provider, identity);
    require(CryptReleaseContext(provider, 0) != FALSE, "the container is released");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    profile();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    softcapi::admin::KeyPlacement placement;
    placement.container = kContainer;
    placement.store = kStore;
    try {
        requireImported(softcapi::admin::importPkcs12(std::vector<BYTE>(data, data + size),
                                                      kPassword, placement));
    } catch (const softcapi::admin::AdminError&) {
        require(walkStore(kStore).empty(), "a refused file leaves nothing behind");
    }
    // Every input starts from an empty key store.
    unlink(profile().keystorePath().c_str());
    return 0;
}
