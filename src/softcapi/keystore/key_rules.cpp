#include "softcapi/keystore/key_rules.h"

#include <openssl/core_names.h>

#include "softcapi/advapi32/providers.h"

namespace softcapi {

namespace {

// Which curves Java and CNG agree on, by OpenSSL's names: NIST's P-256, P-384 and P-521, named.
bool isNamedNistCurve(EVP_PKEY* key) {
    char name[64] = {};
    size_t length = 0;
    if (EVP_PKEY_get_group_name(key, name, sizeof(name), &length) != 1) return false;
    char encoding[32] = {};
    if (EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_EC_ENCODING, encoding,
                                       sizeof(encoding), &length) == 1 &&
        std::string(encoding) != OSSL_PKEY_EC_ENCODING_GROUP)
        return false;
    const std::string curve(name);
    return curve == "prime256v1" || curve == "secp384r1" || curve == "secp521r1";
}

}  // namespace

int leastRsaBits(KeyFamily family) {
    return family == KeyFamily::Ksp ? 2048 : 1024;
}

std::string keyRefusal(EVP_PKEY* publicKey, KeyFamily family) {
    if (EVP_PKEY_is_a(publicKey, "EC")) {
        return isNamedNistCurve(publicKey)
                   ? ""
                   : "EC keys are taken on the named curves P-256, P-384 and P-521 only";
    }
    if (!EVP_PKEY_is_a(publicKey, "RSA")) return "";
    const int bits = EVP_PKEY_get_bits(publicKey);
    const int least = leastRsaBits(family);
    if (bits >= least && bits <= kMostRsaBits) return "";
    return std::string("the ") + (family == KeyFamily::Ksp ? kKeyStorageProviderName : "CSPs") +
           " take RSA keys of " + std::to_string(least) + " to " + std::to_string(kMostRsaBits) +
           " bits, not " + std::to_string(bits);
}

}  // namespace softcapi
