// PKCS#12 files from outside, imported as qdie-keystore import-pfx imports them. A file is
// refused with AdminError or imported whole: its certificate listed in the store, bound to a
// container whose key signs what the certificate verifies and decrypts what it encrypts.
#include <unistd.h>

#include <algorithm>
#include <cstdint>

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

void requireImported(const softcapi::admin::Identity& identity) {
    std::vector<WalkedCertificate> walked = walkStore(kStore);
    require(walked.size() == 1 && walked[0].encoded == identity.certificate,
            "the imported certificate is the store's only one");
    require(walked[0].binding && walked[0].binding->container == kContainer &&
                walked[0].binding->provider == identity.binding.provider &&
                walked[0].binding->keySpec == identity.binding.keySpec,
            "the imported certificate is bound to its container");
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
