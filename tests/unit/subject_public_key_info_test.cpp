// The SubjectPublicKeyInfo a container's key is checked against arrives from Java as DER: what
// OpenSSL encodes decodes and encodes back to the same bytes, and anything but one whole, strict
// DER value is refused before anything reads past it.
#include <gtest/gtest.h>

#include "keyops/subject_public_key_info.h"
#include "unit/openssl_keys.h"

using keyops::PublicKeyInfo;

namespace {

TEST(SubjectPublicKeyInfo, DecodesAndEncodesWhatOpenSslEncodes) {
    for (const char* type : {"rsa-2048", "ec-256", "ec-521"}) {
        SCOPED_TRACE(type);
        const Bytes der = OpenSslKey(type).publicKeyInfo();
        PublicKeyInfo info;
        ASSERT_TRUE(info.decode(der));
        EXPECT_STREQ(info.get().Algorithm.pszObjId,
                     std::string(type) == "rsa-2048" ? "1.2.840.113549.1.1.1" : "1.2.840.10045.2.1");
        Bytes encoded;
        ASSERT_TRUE(keyops::encodePublicKeyInfo(info.get(), encoded));
        EXPECT_EQ(encoded, der);
    }
}

TEST(SubjectPublicKeyInfo, RefusesAnythingButOneWholeStrictValue) {
    const Bytes der = OpenSslKey("ec-384").publicKeyInfo();
    PublicKeyInfo info;
    for (size_t length = 0; length < der.size(); ++length)
        EXPECT_FALSE(info.decode(Bytes(der.begin(), der.begin() + length))) << length;
    Bytes trailing = der;
    trailing.push_back(0);
    EXPECT_FALSE(info.decode(trailing));
    // The outer length in a longer form than it needs.
    Bytes padded = {0x30, 0x82, 0x00, der[1]};
    padded.insert(padded.end(), der.begin() + 2, der.end());
    EXPECT_FALSE(info.decode(padded));
    // Unused bits beyond seven.
    Bytes unused = der;
    unused[der.size() - 98] = 8;
    ASSERT_EQ(der[der.size() - 99], 0x62);  // the bit string's length: 97 bytes and its count
    EXPECT_FALSE(info.decode(unused));
    EXPECT_TRUE(info.decode(der));
}

}  // namespace
