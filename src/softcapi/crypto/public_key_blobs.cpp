#include "softcapi/crypto/public_key_blobs.h"

#include <openssl/core_names.h>

#include <cstring>
#include <string_view>

#include "softcapi/crypto/cng_schemes.h"

namespace softcapi {

namespace {

const DWORD kRsaPublicMagic = 0x31415352;  // "RSA1"
const DWORD kDssPublicMagic = 0x31535344;  // "DSS1"
const size_t kDssQBytes = 20;

using BignumPtr = OpenSslPtr<BIGNUM>;

BignumPtr parameter(EVP_PKEY* key, const char* name) {
    BIGNUM* value = nullptr;
    if (EVP_PKEY_get_bn_param(key, name, &value) != 1) return nullptr;
    return BignumPtr(value);
}

size_t bytesOf(int bits) {
    return (static_cast<size_t>(bits) + 7) / 8;
}

template <typename Structure>
void append(std::vector<BYTE>& blob, const Structure& structure) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&structure);
    blob.insert(blob.end(), bytes, bytes + sizeof(structure));
}

enum class ByteOrder { LeastFirst, MostFirst };

// `value` in exactly `size` bytes; false when it needs more.
bool appendNumber(std::vector<BYTE>& blob, const BIGNUM* value, size_t size, ByteOrder order) {
    const size_t at = blob.size();
    blob.resize(at + size);
    const int written = order == ByteOrder::LeastFirst
                            ? BN_bn2lebinpad(value, blob.data() + at, static_cast<int>(size))
                            : BN_bn2binpad(value, blob.data() + at, static_cast<int>(size));
    return written == static_cast<int>(size);
}

std::vector<BYTE> rsaCapiBlob(EVP_PKEY* key, ALG_ID algorithm) {
    BignumPtr modulus = parameter(key, OSSL_PKEY_PARAM_RSA_N);
    BignumPtr exponent = parameter(key, OSSL_PKEY_PARAM_RSA_E);
    // RSAPUBKEY holds the exponent in a DWORD.
    if (!modulus || !exponent || BN_num_bits(exponent.get()) > 32) return {};
    const size_t size = bytesOf(BN_num_bits(modulus.get()));
    std::vector<BYTE> blob;
    append(blob, BLOBHEADER{PUBLICKEYBLOB, CUR_BLOB_VERSION, 0, algorithm});
    append(blob, RSAPUBKEY{kRsaPublicMagic, static_cast<DWORD>(size * 8),
                           static_cast<DWORD>(BN_get_word(exponent.get()))});
    if (!appendNumber(blob, modulus.get(), size, ByteOrder::LeastFirst)) return {};
    return blob;
}

std::vector<BYTE> dssCapiBlob(EVP_PKEY* key, ALG_ID algorithm) {
    BignumPtr p = parameter(key, OSSL_PKEY_PARAM_FFC_P);
    BignumPtr q = parameter(key, OSSL_PKEY_PARAM_FFC_Q);
    BignumPtr g = parameter(key, OSSL_PKEY_PARAM_FFC_G);
    BignumPtr y = parameter(key, OSSL_PKEY_PARAM_PUB_KEY);
    if (!p || !q || !g || !y) return {};
    const size_t size = bytesOf(BN_num_bits(p.get()));
    std::vector<BYTE> blob;
    append(blob, BLOBHEADER{PUBLICKEYBLOB, CUR_BLOB_VERSION, 0, algorithm});
    append(blob, DSSPUBKEY{kDssPublicMagic, static_cast<DWORD>(size * 8)});
    if (!appendNumber(blob, p.get(), size, ByteOrder::LeastFirst) ||
        !appendNumber(blob, q.get(), kDssQBytes, ByteOrder::LeastFirst) ||
        !appendNumber(blob, g.get(), size, ByteOrder::LeastFirst) ||
        !appendNumber(blob, y.get(), size, ByteOrder::LeastFirst))
        return {};
    // The key store keeps no generation seed: a counter of all ones says so.
    DSSSEED unknown;
    std::memset(&unknown, 0xff, sizeof(unknown));
    append(blob, unknown);
    return blob;
}

std::vector<BYTE> rsaCngBlob(EVP_PKEY* key) {
    BignumPtr modulus = parameter(key, OSSL_PKEY_PARAM_RSA_N);
    BignumPtr exponent = parameter(key, OSSL_PKEY_PARAM_RSA_E);
    if (!modulus || !exponent) return {};
    const size_t size = bytesOf(BN_num_bits(modulus.get()));
    const size_t exponentSize = static_cast<size_t>(BN_num_bytes(exponent.get()));
    std::vector<BYTE> blob;
    append(blob, BCRYPT_RSAKEY_BLOB{BCRYPT_RSAPUBLIC_MAGIC, static_cast<ULONG>(BN_num_bits(modulus.get())),
                                    static_cast<ULONG>(exponentSize), static_cast<ULONG>(size), 0, 0});
    if (!appendNumber(blob, exponent.get(), exponentSize, ByteOrder::MostFirst) ||
        !appendNumber(blob, modulus.get(), size, ByteOrder::MostFirst))
        return {};
    return blob;
}

std::vector<BYTE> ecCngBlob(EVP_PKEY* key) {
    ULONG magic = 0;
    switch (EVP_PKEY_get_bits(key)) {
        case 256: magic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC; break;
        case 384: magic = BCRYPT_ECDSA_PUBLIC_P384_MAGIC; break;
        case 521: magic = BCRYPT_ECDSA_PUBLIC_P521_MAGIC; break;
        default: return {};
    }
    BignumPtr x = parameter(key, OSSL_PKEY_PARAM_EC_PUB_X);
    BignumPtr y = parameter(key, OSSL_PKEY_PARAM_EC_PUB_Y);
    if (!x || !y) return {};
    const size_t size = bytesOf(EVP_PKEY_get_bits(key));
    std::vector<BYTE> blob;
    append(blob, BCRYPT_ECCKEY_BLOB{magic, static_cast<ULONG>(size)});
    if (!appendNumber(blob, x.get(), size, ByteOrder::MostFirst) ||
        !appendNumber(blob, y.get(), size, ByteOrder::MostFirst))
        return {};
    return blob;
}

}  // namespace

std::vector<BYTE> capiPublicKeyBlob(EVP_PKEY* key, ALG_ID algorithm) {
    if (EVP_PKEY_is_a(key, "RSA") == 1) return rsaCapiBlob(key, algorithm);
    if (EVP_PKEY_is_a(key, "DSA") == 1) return dssCapiBlob(key, algorithm);
    return {};
}

bool cngPublicBlobFits(EVP_PKEY* key, LPCWSTR blobType) {
    const std::u16string_view type(blobType);
    return type == BCRYPT_PUBLIC_KEY_BLOB ||
           type == (isEcKey(key) ? BCRYPT_ECCPUBLIC_BLOB : BCRYPT_RSAPUBLIC_BLOB);
}

std::vector<BYTE> cngPublicKeyBlob(EVP_PKEY* key) {
    return isEcKey(key) ? ecCngBlob(key) : rsaCngBlob(key);
}

}  // namespace softcapi
