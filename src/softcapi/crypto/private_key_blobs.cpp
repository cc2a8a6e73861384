#include "softcapi/crypto/private_key_blobs.h"

#include <openssl/core_names.h>
#include <openssl/param_build.h>

#include <cstring>
#include <string>

#include "softcapi/keystore/key_container.h"

namespace softcapi {

namespace {

const DWORD kRsaPrivateMagic = 0x32415352;  // "RSA2"

using BignumPtr = OpenSslPtr<BIGNUM>;
using ParamBuildPtr = std::unique_ptr<OSSL_PARAM_BLD, decltype(&OSSL_PARAM_BLD_free)>;
using ParamsPtr = std::unique_ptr<OSSL_PARAM, decltype(&OSSL_PARAM_free)>;

enum class ByteOrder { LeastFirst, MostFirst };

// Reads the numbers of a blob one after the other, each of a known size.
class BlobReader {
public:
    BlobReader(const BYTE* at, const BYTE* end, ByteOrder order) : at_(at), end_(end), order_(order) {}

    // Null when the blob is too short or OpenSSL fails.
    BignumPtr number(size_t size) {
        if (static_cast<size_t>(end_ - at_) < size) return nullptr;
        const int length = static_cast<int>(size);
        BIGNUM* value = order_ == ByteOrder::LeastFirst ? BN_lebin2bn(at_, length, nullptr)
                                                        : BN_bin2bn(at_, length, nullptr);
        at_ += size;
        return BignumPtr(value);
    }

    // The point's coordinates as they stand, for the uncompressed encoding.
    bool bytes(size_t size, std::string& out) {
        if (static_cast<size_t>(end_ - at_) < size) return false;
        out.append(reinterpret_cast<const char*>(at_), size);
        at_ += size;
        return true;
    }

private:
    const BYTE* at_;
    const BYTE* end_;
    ByteOrder order_;
};

// The key made of OpenSSL's parameters; null when they are not one key pair, which signs what
// its public half verifies.
PkeyPtr keyFromParameters(const char* type, OSSL_PARAM_BLD* build) {
    ParamsPtr params(OSSL_PARAM_BLD_to_param(build), OSSL_PARAM_free);
    PkeyCtxPtr context(EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr));
    EVP_PKEY* made = nullptr;
    if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
        EVP_PKEY_fromdata(context.get(), &made, EVP_PKEY_KEYPAIR, params.get()) != 1)
        return nullptr;
    PkeyPtr key(made);
    if (!keyPairMatches(key.get(), key.get())) return nullptr;
    return key;
}

struct RsaSizes {
    size_t modulus;
    size_t prime1;
    size_t prime2;
};

// The exponent given, then n, p, q, dP, dQ, qInv and d in the order both blobs share.
PkeyPtr rsaFromBlob(BlobReader& reader, const RsaSizes& sizes, const BIGNUM* exponent) {
    BignumPtr modulus = reader.number(sizes.modulus);
    const struct {
        const char* name;
        size_t size;
    } kPrivate[] = {{OSSL_PKEY_PARAM_RSA_FACTOR1, sizes.prime1},
                    {OSSL_PKEY_PARAM_RSA_FACTOR2, sizes.prime2},
                    {OSSL_PKEY_PARAM_RSA_EXPONENT1, sizes.prime1},
                    {OSSL_PKEY_PARAM_RSA_EXPONENT2, sizes.prime2},
                    {OSSL_PKEY_PARAM_RSA_COEFFICIENT1, sizes.prime1},
                    {OSSL_PKEY_PARAM_RSA_D, sizes.modulus}};
    ParamBuildPtr build(OSSL_PARAM_BLD_new(), OSSL_PARAM_BLD_free);
    if (!modulus || !build || OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_N, modulus.get()) != 1 ||
        OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_E, exponent) != 1)
        return nullptr;
    std::vector<BignumPtr> numbers;
    for (const auto& part : kPrivate) {
        numbers.push_back(reader.number(part.size));
        if (!numbers.back()) return nullptr;
        BN_set_flags(numbers.back().get(), BN_FLG_CONSTTIME);
        if (OSSL_PARAM_BLD_push_BN(build.get(), part.name, numbers.back().get()) != 1) return nullptr;
    }
    PkeyPtr key = keyFromParameters("RSA", build.get());
    for (BignumPtr& number : numbers) BN_clear(number.get());
    return key;
}

PkeyPtr rsaFromCngBlob(const BYTE* blob, DWORD size) {
    BCRYPT_RSAKEY_BLOB header;
    if (size < sizeof(header)) return nullptr;
    std::memcpy(&header, blob, sizeof(header));
    if (header.Magic != BCRYPT_RSAFULLPRIVATE_MAGIC || header.cbModulus == 0 ||
        header.cbPublicExp == 0 || header.cbPrime1 == 0 || header.cbPrime2 == 0)
        return nullptr;
    BlobReader reader(blob + sizeof(header), blob + size, ByteOrder::MostFirst);
    BignumPtr exponent = reader.number(header.cbPublicExp);
    if (!exponent) return nullptr;
    return rsaFromBlob(reader, {header.cbModulus, header.cbPrime1, header.cbPrime2}, exponent.get());
}

PkeyPtr ecFromCngBlob(const BYTE* blob, DWORD size, DWORD& error) {
    BCRYPT_ECCKEY_BLOB header;
    if (size < sizeof(header)) return nullptr;
    std::memcpy(&header, blob, sizeof(header));
    const char* curve = nullptr;
    size_t keyBytes = 0;
    switch (header.dwMagic) {
        case BCRYPT_ECDSA_PRIVATE_P256_MAGIC: curve = "P-256"; keyBytes = 32; break;
        case BCRYPT_ECDSA_PRIVATE_P384_MAGIC: curve = "P-384"; keyBytes = 48; break;
        case BCRYPT_ECDSA_PRIVATE_P521_MAGIC: curve = "P-521"; keyBytes = 66; break;
        default:
            error = NTE_NOT_SUPPORTED;
            return nullptr;
    }
    if (header.cbKey != keyBytes) return nullptr;
    BlobReader reader(blob + sizeof(header), blob + size, ByteOrder::MostFirst);
    std::string point(1, '\x04');
    if (!reader.bytes(keyBytes, point) || !reader.bytes(keyBytes, point)) return nullptr;
    BignumPtr secret = reader.number(keyBytes);
    ParamBuildPtr build(OSSL_PARAM_BLD_new(), OSSL_PARAM_BLD_free);
    if (!secret || !build ||
        OSSL_PARAM_BLD_push_utf8_string(build.get(), OSSL_PKEY_PARAM_GROUP_NAME, curve, 0) != 1 ||
        OSSL_PARAM_BLD_push_octet_string(build.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(),
                                         point.size()) != 1 ||
        OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_PRIV_KEY, secret.get()) != 1)
        return nullptr;
    PkeyPtr key = keyFromParameters("EC", build.get());
    BN_clear(secret.get());
    return key;
}

// `value` into exactly `size` bytes at `out`, least significant first; false when it needs more.
bool writeLeastFirst(EVP_PKEY* key, const char* name, BYTE* out, size_t size) {
    BIGNUM* value = nullptr;
    if (EVP_PKEY_get_bn_param(key, name, &value) != 1) return false;
    const bool written = BN_bn2lebinpad(value, out, static_cast<int>(size)) == static_cast<int>(size);
    BN_clear_free(value);
    return written;
}

}  // namespace

PkeyPtr keyFromCapiPrivateBlob(const BYTE* blob, DWORD size, ALG_ID& algorithm, DWORD& error) {
    OpenSslErrorScope scope;
    error = NTE_BAD_DATA;
    BLOBHEADER header;
    RSAPUBKEY rsa;
    if (size < sizeof(header)) return nullptr;
    std::memcpy(&header, blob, sizeof(header));
    if (header.bType != PRIVATEKEYBLOB) {
        error = NTE_BAD_TYPE;
        return nullptr;
    }
    if (header.bVersion != CUR_BLOB_VERSION) {
        error = NTE_BAD_VER;
        return nullptr;
    }
    algorithm = header.aiKeyAlg;
    if (size < sizeof(header) + sizeof(rsa)) return nullptr;
    std::memcpy(&rsa, blob + sizeof(header), sizeof(rsa));
    if (rsa.magic != kRsaPrivateMagic || rsa.bitlen == 0 || rsa.bitlen % 16 != 0 || rsa.pubexp == 0)
        return nullptr;
    const size_t half = rsa.bitlen / 16;
    BignumPtr exponent(BN_new());
    if (!exponent || BN_set_word(exponent.get(), rsa.pubexp) != 1) {
        error = windowsErrorForOpenSsl(NTE_FAIL);
        return nullptr;
    }
    BlobReader reader(blob + sizeof(header) + sizeof(rsa), blob + size, ByteOrder::LeastFirst);
    PkeyPtr key = rsaFromBlob(reader, {2 * half, half, half}, exponent.get());
    if (!key) error = windowsErrorForOpenSsl(NTE_BAD_DATA);
    return key;
}

common::SecureBytes capiPrivateKeyBlob(EVP_PKEY* key, ALG_ID algorithm) {
    OpenSslErrorScope scope;
    BIGNUM* exponent = nullptr;
    const int bits = EVP_PKEY_get_bits(key);
    if (EVP_PKEY_is_a(key, "RSA") != 1 || bits % 16 != 0 ||
        EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &exponent) != 1)
        return {};
    const BignumPtr ownedExponent(exponent);
    if (BN_num_bits(exponent) > 32) return {};
    const size_t half = static_cast<size_t>(bits) / 16;
    common::SecureBytes blob(sizeof(BLOBHEADER) + sizeof(RSAPUBKEY) + 9 * half);
    const BLOBHEADER header{PRIVATEKEYBLOB, CUR_BLOB_VERSION, 0, algorithm};
    const RSAPUBKEY rsa{kRsaPrivateMagic, static_cast<DWORD>(bits),
                        static_cast<DWORD>(BN_get_word(exponent))};
    std::memcpy(blob.data(), &header, sizeof(header));
    std::memcpy(blob.data() + sizeof(header), &rsa, sizeof(rsa));
    BYTE* at = blob.data() + sizeof(header) + sizeof(rsa);
    const struct {
        const char* name;
        size_t size;
    } kNumbers[] = {{OSSL_PKEY_PARAM_RSA_N, 2 * half},          {OSSL_PKEY_PARAM_RSA_FACTOR1, half},
                    {OSSL_PKEY_PARAM_RSA_FACTOR2, half},        {OSSL_PKEY_PARAM_RSA_EXPONENT1, half},
                    {OSSL_PKEY_PARAM_RSA_EXPONENT2, half},      {OSSL_PKEY_PARAM_RSA_COEFFICIENT1, half},
                    {OSSL_PKEY_PARAM_RSA_D, 2 * half}};
    for (const auto& number : kNumbers) {
        if (!writeLeastFirst(key, number.name, at, number.size)) return {};
        at += number.size;
    }
    return blob;
}

PkeyPtr keyFromCngPrivateBlob(LPCWSTR blobType, const BYTE* blob, DWORD size, DWORD& error) {
    OpenSslErrorScope scope;
    const std::u16string type(blobType);
    error = NTE_BAD_DATA;
    PkeyPtr key;
    if (type == BCRYPT_RSAFULLPRIVATE_BLOB) {
        key = rsaFromCngBlob(blob, size);
    } else if (type == BCRYPT_ECCPRIVATE_BLOB) {
        key = ecFromCngBlob(blob, size, error);
    } else {
        error = NTE_BAD_TYPE;
        return nullptr;
    }
    if (!key && error == static_cast<DWORD>(NTE_BAD_DATA)) error = windowsErrorForOpenSsl(NTE_BAD_DATA);
    return key;
}

}  // namespace softcapi
