#include "softcapi/crypto/signature_schemes.h"

#include <openssl/dsa.h>
#include <openssl/rsa.h>

#include "softcapi/advapi32/providers.h"

namespace softcapi {

namespace {

const int kDssHalfSize = kDssSignatureSize / 2;

PkeyCtxPtr initialised(EVP_PKEY* key, bool signing) {
    PkeyCtxPtr context(EVP_PKEY_CTX_new(key, nullptr));
    if (!context) return nullptr;
    int ready = signing ? EVP_PKEY_sign_init(context.get()) : EVP_PKEY_verify_init(context.get());
    return ready == 1 ? std::move(context) : nullptr;
}

}  // namespace

PkeyCtxPtr rsaSignatureContext(EVP_PKEY* key, ALG_ID algorithm, DWORD flags, bool signing) {
    PkeyCtxPtr context = initialised(key, signing);
    if (!context || EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) != 1)
        return nullptr;
    const EVP_MD* digest = (flags & CRYPT_NOHASHOID) != 0 ? nullptr : digestFor(algorithm);
    if (digest != nullptr && EVP_PKEY_CTX_set_signature_md(context.get(), digest) != 1)
        return nullptr;
    return context;
}

PkeyCtxPtr dssSignatureContext(EVP_PKEY* key, bool signing) {
    PkeyCtxPtr context = initialised(key, signing);
    if (!context || EVP_PKEY_CTX_set_signature_md(context.get(), digestFor(CALG_SHA1)) != 1)
        return nullptr;
    return context;
}

bool dssSignatureFromDer(const BYTE* der, size_t length, BYTE (&out)[kDssSignatureSize]) {
    const unsigned char* in = der;
    OpenSslPtr<DSA_SIG> signature(d2i_DSA_SIG(nullptr, &in, static_cast<long>(length)));
    if (!signature) return false;
    const BIGNUM* r = nullptr;
    const BIGNUM* s = nullptr;
    DSA_SIG_get0(signature.get(), &r, &s);
    return BN_bn2lebinpad(r, out, kDssHalfSize) == kDssHalfSize &&
           BN_bn2lebinpad(s, out + kDssHalfSize, kDssHalfSize) == kDssHalfSize;
}

std::vector<BYTE> dssSignatureToDer(const BYTE* signature) {
    OpenSslPtr<DSA_SIG> sig(DSA_SIG_new());
    OpenSslPtr<BIGNUM> r(BN_lebin2bn(signature, kDssHalfSize, nullptr));
    OpenSslPtr<BIGNUM> s(BN_lebin2bn(signature + kDssHalfSize, kDssHalfSize, nullptr));
    // The signature takes r and s over once they are set.
    if (!sig || !r || !s || DSA_SIG_set0(sig.get(), r.get(), s.get()) != 1) return {};
    r.release();
    s.release();
    int size = i2d_DSA_SIG(sig.get(), nullptr);
    if (size <= 0) return {};
    std::vector<BYTE> der(size);
    unsigned char* out = der.data();
    i2d_DSA_SIG(sig.get(), &out);
    return der;
}

}  // namespace softcapi
