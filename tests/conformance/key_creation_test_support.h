// What the tests of keys made through the API share: wide names, containers removed however a
// test ends, and a signature made and checked through the API alone.
#pragma once

#include <string>

#include "conformance/named_stores.h"

// UTF-16 text as this platform's CryptoAPI spells it.
using WideString = std::basic_string<WCHAR>;
inline WideString wide(const std::string& text) { return WideString(text.begin(), text.end()); }

// The key set flags of a location: the user's, or with CRYPT_MACHINE_KEYSET the machine's.
inline const DWORD kKeySets[] = {0, CRYPT_MACHINE_KEYSET};

// Deletes a container the test made, whatever the test did before it failed.
class ContainerCleanup {
public:
    ContainerCleanup(std::string name, DWORD keySet) : name_(std::move(name)), keySet_(keySet) {}
    ~ContainerCleanup() {
        HCRYPTPROV ignored = 0;
        CryptAcquireContextA(&ignored, name_.c_str(), kAesProvider, PROV_RSA_AES,
                             CRYPT_DELETEKEYSET | keySet_);
    }
    ContainerCleanup(const ContainerCleanup&) = delete;
    ContainerCleanup& operator=(const ContainerCleanup&) = delete;

private:
    std::string name_;
    DWORD keySet_;
};

// The key's SubjectPublicKeyInfo through the two-call protocol, in a buffer of its own.
inline std::vector<BYTE> exportPublicKeyInfo(HCRYPTPROV_OR_NCRYPT_KEY_HANDLE key, DWORD keySpec) {
    DWORD size = 0;
    if (!CryptExportPublicKeyInfo(key, keySpec, X509_ASN_ENCODING, nullptr, &size)) return {};
    std::vector<BYTE> buffer(size);
    if (!CryptExportPublicKeyInfo(key, keySpec, X509_ASN_ENCODING,
                                  reinterpret_cast<PCERT_PUBLIC_KEY_INFO>(buffer.data()), &size))
        return {};
    return buffer;
}

inline const CERT_PUBLIC_KEY_INFO* asPublicKeyInfo(const std::vector<BYTE>& buffer) {
    return reinterpret_cast<const CERT_PUBLIC_KEY_INFO*>(buffer.data());
}

// Whether the container's key signs a SHA-256 hash that the public key info verifies, both
// through CryptoAPI.
inline bool signsForPublicKeyInfo(HCRYPTPROV provider, DWORD keySpec,
                                  const std::vector<BYTE>& publicKeyInfo) {
    static const BYTE kMessage[] = "made through the API";
    ScopedHash hash;
    DWORD size = 0;
    if (!CryptCreateHash(provider, CALG_SHA_256, 0, 0, hash.put()) ||
        !CryptHashData(hash.get(), kMessage, sizeof(kMessage), 0) ||
        !CryptSignHashA(hash.get(), keySpec, nullptr, 0, nullptr, &size))
        return false;
    std::vector<BYTE> signature(size);
    if (!CryptSignHashA(hash.get(), keySpec, nullptr, 0, signature.data(), &size)) return false;
    ScopedProvider verifier;
    ScopedKey publicKey;
    ScopedHash check;
    return CryptAcquireContextA(verifier.put(), nullptr, kAesProvider, PROV_RSA_AES,
                                CRYPT_VERIFYCONTEXT) &&
           CryptImportPublicKeyInfo(verifier.get(), X509_ASN_ENCODING,
                                    const_cast<PCERT_PUBLIC_KEY_INFO>(asPublicKeyInfo(publicKeyInfo)),
                                    publicKey.put()) &&
           CryptCreateHash(verifier.get(), CALG_SHA_256, 0, 0, check.put()) &&
           CryptHashData(check.get(), kMessage, sizeof(kMessage), 0) &&
           CryptVerifySignatureA(check.get(), signature.data(), size, publicKey.get(), nullptr, 0);
}
