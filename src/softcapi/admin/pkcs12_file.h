// The key and certificate of a PKCS#12 file, read as import-pfx reads them: every key
// derivation the file asks for is weighed against the limits before it is made.
#pragma once

#include <string>
#include <vector>

#include "softcapi/crypto/openssl_util.h"

namespace softcapi::admin {

struct Pkcs12Identity {
    PkeyPtr key;           // the first key of the file
    X509Ptr certificate;   // a certificate of the file that matches it
};

// Throws AdminError when the file is not PKCS#12, its MAC refuses the password, it asks for
// more work than the limits allow, or it holds no key with a certificate that matches it.
// The older encryption Windows exports is read too. Without a MAC, the password is proven by
// the decryption alone.
Pkcs12Identity readPkcs12(const std::vector<BYTE>& file, const std::string& password);

}  // namespace softcapi::admin
