// The decoded part of a certificate that its CERT_CONTEXT carries: the subject's public key,
// read out of the encoding in place, without parsing the whole certificate.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "softcapi/wintypes.h"

namespace softcapi {

// Object identifiers as dotted text, each spelled once however many certificates carry it; the
// texts live as long as the table.
class ObjectIdTexts {
public:
    // Null for a malformed identifier.
    LPSTR textOf(const BYTE* content, size_t length);

private:
    std::map<std::string, std::string> texts_;  // by content octets
};

// The pieces of a DER SubjectPublicKeyInfo, pointing into it: the content octets of the
// algorithm's identifier, its parameters as a whole element (none when absent), the key's bits.
struct PublicKeyInfoParts {
    const BYTE* objectId = nullptr;
    size_t objectIdSize = 0;
    const BYTE* parameters = nullptr;
    size_t parametersSize = 0;
    const BYTE* key = nullptr;
    size_t keySize = 0;
    BYTE unusedBits = 0;
};
// False when it is not a SubjectPublicKeyInfo with a key.
bool splitPublicKeyInfo(const BYTE* der, size_t size, PublicKeyInfoParts& parts);

// Zeroes `info` and points its SubjectPublicKeyInfo into `encoded`, which must outlive it. A
// certificate whose public key cannot be found keeps an empty one, which no import accepts.
void describeCertificate(const std::vector<BYTE>& encoded, CERT_INFO& info, ObjectIdTexts& ids);

// The DER SubjectPublicKeyInfo made of CryptoAPI's pieces of it; empty when they are malformed.
std::vector<BYTE> encodePublicKeyInfo(const CERT_PUBLIC_KEY_INFO& info);

}  // namespace softcapi
