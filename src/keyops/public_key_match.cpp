#include "keyops/public_key_match.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "keyops/handles.h"

namespace keyops {

namespace {

const char kExportKey[] = "CryptExportKey";
const char kNcryptExportKey[] = "NCryptExportKey";
const char kBcryptExportKey[] = "BCryptExportKey";
const char kImportPublicKey[] = "CryptImportPublicKeyInfo";
const char kImportPublicKeyEx2[] = "CryptImportPublicKeyInfoEx2";
const char kExportError[] = "CryptExportKey error: %x";
const char kNcryptExportError[] = "NCryptExportKey error: %x";
const char kBcryptExportError[] = "BCryptExportKey error: %x";
const char kImportError[] = "CryptImportPublicKeyInfo error: %x";
const char kImportEx2Error[] = "CryptImportPublicKeyInfoEx2 error: %x";
const char kSameKey[] = "Public key is the certificate's";
const char kOtherKey[] = "Public key is not the certificate's: %x";

// The magics of the public blobs: "RSA1" in both formats, "DSS1" for a CSP's DSA key, and the
// ECDSA and ECDH ones of P-256, P-384 and P-521, which name a curve by its coordinates' size.
const DWORD kRsaMagic = 0x31415352;
const DWORD kDssMagic = 0x31535344;
const DWORD kCngEcMagics[] = {0x31534345, 0x33534345, 0x35534345,
                              0x314B4345, 0x334B4345, 0x354B4345};
// Beyond any key a provider makes: a larger size is a damaged blob.
const DWORD kMaxBits = 65536;

DWORD readWord(const std::vector<BYTE>& blob, size_t at) {
    DWORD word = 0;
    std::memcpy(&word, blob.data() + at, sizeof(word));
    return word;
}

// Exports a public blob by the two-call protocol: `exportTo(buffer, size, &written)` answers
// with a Windows error.
template <typename Export>
DWORD exportBlob(Export exportTo, std::vector<BYTE>& blob) {
    DWORD size = 0;
    DWORD error = exportTo(nullptr, 0, &size);
    if (error != ERROR_SUCCESS) return error;
    try {
        blob.resize(size);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    error = exportTo(blob.data(), size, &size);
    if (error == ERROR_SUCCESS) blob.resize(std::min<size_t>(size, blob.size()));
    return error;
}

// What makes a CSP's public key the key it is, from its PUBLICKEYBLOB: the magic and size, then
// RSA's exponent and modulus or DSA's p, q, g and y (not the seed, which an imported key lacks).
// Empty for a blob that is not whole.
std::vector<BYTE> capiKeyNumbers(const std::vector<BYTE>& blob) {
    const size_t keyAt = sizeof(BLOBHEADER);
    if (blob.size() < keyAt + 2 * sizeof(DWORD)) return {};
    DWORD magic = readWord(blob, keyAt);
    DWORD bits = readWord(blob, keyAt + sizeof(DWORD));
    if (bits == 0 || bits > kMaxBits) return {};
    size_t bytes = (bits + 7) / 8;
    size_t length = 2 * sizeof(DWORD);
    if (magic == kRsaMagic)
        length += sizeof(DWORD) + bytes;  // the exponent, then the modulus
    else if (magic == kDssMagic)
        length += 3 * bytes + 20;  // p, q of 160 bits, g and y
    else
        return {};
    if (blob.size() < keyAt + length) return {};
    return std::vector<BYTE>(blob.begin() + keyAt, blob.begin() + keyAt + length);
}

void appendNumber(std::vector<BYTE>& numbers, const BYTE* bytes, size_t length) {
    while (length > 0 && *bytes == 0) {
        ++bytes;
        --length;
    }
    const auto size = static_cast<DWORD>(length);
    const auto* sizeBytes = reinterpret_cast<const BYTE*>(&size);
    numbers.insert(numbers.end(), sizeBytes, sizeBytes + sizeof(size));
    numbers.insert(numbers.end(), bytes, bytes + length);
}

// The same for CNG's BCRYPT_PUBLIC_KEY_BLOB: RSA's exponent and modulus without leading zeros, or
// an EC key's coordinate size and point, whichever of ECDSA and ECDH its magic names.
bool cngKeyNumbers(const std::vector<BYTE>& blob, std::vector<BYTE>& numbers, CngGroup& group) {
    if (blob.size() < 2 * sizeof(DWORD)) return false;
    DWORD magic = readWord(blob, 0);
    if (magic == kRsaMagic) {
        const size_t dataAt = sizeof(BCRYPT_RSAKEY_BLOB);
        if (blob.size() < dataAt) return false;
        size_t exponent = readWord(blob, 2 * sizeof(DWORD));
        size_t modulus = readWord(blob, 3 * sizeof(DWORD));
        if (exponent > kMaxBits / 8 || modulus > kMaxBits / 8 ||
            blob.size() < dataAt + exponent + modulus)
            return false;
        numbers.assign(1, 'R');
        appendNumber(numbers, blob.data() + dataAt, exponent);
        appendNumber(numbers, blob.data() + dataAt + exponent, modulus);
        group = CngGroup::Rsa;
        return true;
    }
    const DWORD* const ecEnd = std::end(kCngEcMagics);
    if (std::find(std::begin(kCngEcMagics), ecEnd, magic) == ecEnd) return false;
    size_t coordinate = readWord(blob, sizeof(DWORD));
    const size_t pointAt = sizeof(BCRYPT_ECCKEY_BLOB);
    if (coordinate > kMaxBits / 8 || blob.size() < pointAt + 2 * coordinate) return false;
    numbers.assign(blob.begin() + sizeof(DWORD), blob.begin() + pointAt + 2 * coordinate);
    group = CngGroup::Ecdsa;
    return true;
}

// CryptoAPI's imports take the structure by a pointer they only read through.
PCERT_PUBLIC_KEY_INFO writable(const CERT_PUBLIC_KEY_INFO& info) {
    return const_cast<PCERT_PUBLIC_KEY_INFO>(&info);
}

}  // namespace

bool cspKeyMatches(CallContext& context, HCRYPTPROV provider, HCRYPTKEY key,
                   const CERT_PUBLIC_KEY_INFO& expected, uint32_t status) {
    const CryptoPlatform& platform = context.platform;
    auto exporterOf = [&platform](HCRYPTKEY exported) {
        return [&platform, exported](BYTE* blob, DWORD size, DWORD* written) -> DWORD {
            *written = size;
            return platform.CryptExportKey(exported, 0, PUBLICKEYBLOB, 0, blob, written)
                       ? ERROR_SUCCESS
                       : platform.GetLastError();
        };
    };
    const Step exportStep = {kExportKey, nullptr, kExportError, status};
    std::vector<BYTE> keyBlob;
    DWORD error = exportBlob(exporterOf(key), keyBlob);
    if (!finishStep(context, exportStep, error == ERROR_SUCCESS, error)) return false;

    ScopedKey certificateKey;
    if (!runStep(context, {kImportPublicKey, nullptr, kImportError, status}, [&] {
            return platform.CryptImportPublicKeyInfo(provider, X509_ASN_ENCODING,
                                                     writable(expected),
                                                     certificateKey.put()) != FALSE;
        }))
        return false;
    std::vector<BYTE> certificateBlob;
    error = exportBlob(exporterOf(certificateKey.get()), certificateBlob);
    if (!finishStep(context, exportStep, error == ERROR_SUCCESS, error)) return false;

    std::vector<BYTE> numbers = capiKeyNumbers(keyBlob);
    bool same = !numbers.empty() && numbers == capiKeyNumbers(certificateBlob);
    return finishStep(context, {kExportKey, kSameKey, kOtherKey, status}, same,
                      static_cast<DWORD>(NTE_BAD_PUBLIC_KEY));
}

bool cngKeyMatches(CallContext& context, NCRYPT_KEY_HANDLE key,
                   const CERT_PUBLIC_KEY_INFO& expected, uint32_t status, CngGroup& group) {
    const CryptoPlatform& platform = context.platform;
    std::vector<BYTE> keyBlob;
    DWORD error = exportBlob(
        [&](BYTE* blob, DWORD size, DWORD* written) {
            return static_cast<DWORD>(platform.NCryptExportKey(
                key, 0, BCRYPT_PUBLIC_KEY_BLOB, nullptr, blob, size, written, 0));
        },
        keyBlob);
    if (!finishStep(context, {kNcryptExportKey, nullptr, kNcryptExportError, status},
                    error == ERROR_SUCCESS, error))
        return false;

    ScopedBcryptKey certificateKey;
    if (!runStep(context, {kImportPublicKeyEx2, nullptr, kImportEx2Error, status}, [&] {
            return platform.CryptImportPublicKeyInfoEx2(X509_ASN_ENCODING, writable(expected), 0,
                                                        nullptr, certificateKey.put()) != FALSE;
        }))
        return false;
    std::vector<BYTE> certificateBlob;
    error = exportBlob(
        [&](BYTE* blob, DWORD size, DWORD* written) {
            ULONG result = 0;
            NTSTATUS answer = platform.BCryptExportKey(
                certificateKey.get(), nullptr, BCRYPT_PUBLIC_KEY_BLOB, blob, size, &result, 0);
            *written = result;
            return static_cast<DWORD>(answer);
        },
        certificateBlob);
    if (!finishStep(context, {kBcryptExportKey, nullptr, kBcryptExportError, status},
                    error == ERROR_SUCCESS, error))
        return false;

    std::vector<BYTE> keyNumbers;
    std::vector<BYTE> certificateNumbers;
    CngGroup certificateGroup = CngGroup::Rsa;
    bool same = cngKeyNumbers(keyBlob, keyNumbers, group) &&
                cngKeyNumbers(certificateBlob, certificateNumbers, certificateGroup) &&
                keyNumbers == certificateNumbers;
    return finishStep(context, {kNcryptExportKey, kSameKey, kOtherKey, status}, same,
                      static_cast<DWORD>(NTE_BAD_PUBLIC_KEY));
}

}  // namespace keyops
