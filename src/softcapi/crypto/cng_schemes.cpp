#include "softcapi/crypto/cng_schemes.h"

#include <openssl/ec.h>
#include <openssl/rsa.h>

#include "softcapi/advapi32/providers.h"

namespace softcapi {

bool isEcKey(EVP_PKEY* key) {
    return EVP_PKEY_is_a(key, "EC") == 1;
}

DWORD cngSignatureSize(EVP_PKEY* key) {
    if (!isEcKey(key)) return static_cast<DWORD>(EVP_PKEY_get_size(key));
    return 2 * ((static_cast<DWORD>(EVP_PKEY_get_bits(key)) + 7) / 8);
}

const EVP_MD* digestNamed(LPCWSTR name) {
    if (name == nullptr) return nullptr;
    std::u16string text(name);
    if (text == BCRYPT_SHA1_ALGORITHM) return digestFor(CALG_SHA1);
    if (text == BCRYPT_SHA256_ALGORITHM) return digestFor(CALG_SHA_256);
    if (text == BCRYPT_SHA384_ALGORITHM) return digestFor(CALG_SHA_384);
    if (text == BCRYPT_SHA512_ALGORITHM) return digestFor(CALG_SHA_512);
    if (text == BCRYPT_MD5_ALGORITHM) return digestFor(CALG_MD5);
    return nullptr;
}

DWORD cngRsaContext(EVP_PKEY* key, const void* paddingInfo, DWORD padding, DWORD hashSize,
                    bool signing, PkeyCtxPtr& context) {
    if (paddingInfo == nullptr || (padding != BCRYPT_PAD_PKCS1 && padding != BCRYPT_PAD_PSS))
        return NTE_INVALID_PARAMETER;
    context.reset(EVP_PKEY_CTX_new(key, nullptr));
    if (!context ||
        (signing ? EVP_PKEY_sign_init(context.get()) : EVP_PKEY_verify_init(context.get())) != 1)
        return windowsErrorForOpenSsl(NTE_FAIL);
    if (padding == BCRYPT_PAD_PKCS1) {
        auto* info = static_cast<const BCRYPT_PKCS1_PADDING_INFO*>(paddingInfo);
        const EVP_MD* digest = digestNamed(info->pszAlgId);
        if (info->pszAlgId != nullptr && digest == nullptr) return NTE_NOT_SUPPORTED;
        if (digest != nullptr && static_cast<DWORD>(EVP_MD_get_size(digest)) != hashSize)
            return NTE_INVALID_PARAMETER;
        if (EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) != 1 ||
            (digest != nullptr && EVP_PKEY_CTX_set_signature_md(context.get(), digest) != 1))
            return windowsErrorForOpenSsl(NTE_FAIL);
        return ERROR_SUCCESS;
    }
    auto* info = static_cast<const BCRYPT_PSS_PADDING_INFO*>(paddingInfo);
    const EVP_MD* digest = digestNamed(info->pszAlgId);
    if (digest == nullptr) return NTE_NOT_SUPPORTED;
    if (static_cast<DWORD>(EVP_MD_get_size(digest)) != hashSize) return NTE_INVALID_PARAMETER;
    // The largest salt that fits: the encoding (a bit less than the modulus) less the hash and
    // two bytes.
    long room = (static_cast<long>(EVP_PKEY_get_bits(key)) - 2) / 8 - static_cast<long>(hashSize) - 1;
    if (static_cast<long>(info->cbSalt) > room) return NTE_INVALID_PARAMETER;
    if (EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PSS_PADDING) != 1 ||
        EVP_PKEY_CTX_set_signature_md(context.get(), digest) != 1 ||
        EVP_PKEY_CTX_set_rsa_mgf1_md(context.get(), digest) != 1 ||
        EVP_PKEY_CTX_set_rsa_pss_saltlen(context.get(), static_cast<int>(info->cbSalt)) != 1)
        return windowsErrorForOpenSsl(NTE_FAIL);
    return ERROR_SUCCESS;
}

std::vector<BYTE> ecdsaToDer(const BYTE* signature, DWORD size) {
    OpenSslPtr<ECDSA_SIG> sig(ECDSA_SIG_new());
    int half = static_cast<int>(size / 2);
    OpenSslPtr<BIGNUM> r(BN_bin2bn(signature, half, nullptr));
    OpenSslPtr<BIGNUM> s(BN_bin2bn(signature + half, half, nullptr));
    if (!sig || !r || !s || ECDSA_SIG_set0(sig.get(), r.get(), s.get()) != 1) return {};
    static_cast<void>(r.release());
    static_cast<void>(s.release());
    int length = i2d_ECDSA_SIG(sig.get(), nullptr);
    std::vector<BYTE> der(length > 0 ? static_cast<size_t>(length) : 0);
    unsigned char* out = der.data();
    if (length <= 0 || i2d_ECDSA_SIG(sig.get(), &out) != length) return {};
    return der;
}

bool ecdsaFromDer(const BYTE* der, size_t length, BYTE* out, DWORD size) {
    const unsigned char* in = der;
    OpenSslPtr<ECDSA_SIG> signature(d2i_ECDSA_SIG(nullptr, &in, static_cast<long>(length)));
    int half = static_cast<int>(size / 2);
    return signature &&
           BN_bn2binpad(ECDSA_SIG_get0_r(signature.get()), out, half) == half &&
           BN_bn2binpad(ECDSA_SIG_get0_s(signature.get()), out + half, half) == half;
}

}  // namespace softcapi
