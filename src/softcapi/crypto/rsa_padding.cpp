// OpenSSL's constant-time padding checks are deprecated as public functions but are the ones its
// own RSA decryption uses; they are taken here so that one private-key operation can serve both
// paddings.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "softcapi/crypto/rsa_padding.h"

#include <openssl/evp.h>
#include <openssl/rsa.h>

#include "softcapi/advapi32/providers.h"

namespace softcapi {

namespace {

template <typename Check>
bool unpad(const common::SecureBytes& block, common::SecureBytes& message, Check check) {
    common::SecureBytes out(block.size());
    int size = static_cast<int>(block.size());
    int length = check(out.data(), size, block.data(), size);
    if (length < 0) return false;
    out.truncate(static_cast<size_t>(length));
    message = std::move(out);
    return true;
}

}  // namespace

bool removePkcs1Padding(const common::SecureBytes& block, common::SecureBytes& message) {
    return unpad(block, message, [](unsigned char* to, int size, const unsigned char* from, int n) {
        return RSA_padding_check_PKCS1_type_2(to, size, from, n, n);
    });
}

bool removeOaepPadding(const common::SecureBytes& block, common::SecureBytes& message) {
    return unpad(block, message, [](unsigned char* to, int size, const unsigned char* from, int n) {
        // The digest fetched once, not looked up under OpenSSL's locks on every decryption.
        const EVP_MD* sha1 = digestFor(CALG_SHA1);
        return RSA_padding_check_PKCS1_OAEP_mgf1(to, size, from, n, n, nullptr, 0, sha1, sha1);
    });
}

}  // namespace softcapi
