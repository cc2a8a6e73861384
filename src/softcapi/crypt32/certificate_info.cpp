#include "softcapi/crypt32/certificate_info.h"

#include <cstring>

#include "softcapi/crypto/der.h"

namespace softcapi {

namespace {

// tbsCertificate: [0] version (optional), serialNumber, signature, issuer, validity, subject,
// subjectPublicKeyInfo, ...
bool findPublicKeyInfo(const std::vector<BYTE>& encoded, DerElement& publicKeyInfo) {
    DerElement certificate;
    DerElement toBeSigned;
    if (!DerReader(encoded.data(), encoded.size()).read(kDerSequence, certificate) ||
        !DerReader(certificate).read(kDerSequence, toBeSigned))
        return false;
    DerReader fields(toBeSigned);
    DerElement field;
    if (!fields.read(field)) return false;
    if (field.tag == kDerVersionTag && !fields.read(field)) return false;
    if (field.tag != kDerInteger) return false;
    for (int skipped = 0; skipped < 4; ++skipped) {
        if (!fields.read(kDerSequence, field)) return false;
    }
    return fields.read(kDerSequence, publicKeyInfo);
}

}  // namespace

LPSTR ObjectIdTexts::textOf(const BYTE* content, size_t length) {
    std::string key(reinterpret_cast<const char*>(content), length);
    auto found = texts_.find(key);
    if (found == texts_.end()) {
        std::string text = objectIdText(content, length);
        if (text.empty()) return nullptr;
        found = texts_.emplace(std::move(key), std::move(text)).first;
    }
    return found->second.data();
}

namespace {

bool splitPublicKeyInfo(const DerElement& publicKeyInfo, PublicKeyInfoParts& parts) {
    DerReader pieces(publicKeyInfo);
    DerElement algorithm;
    DerElement key;
    if (!pieces.read(kDerSequence, algorithm) || !pieces.read(kDerBitString, key) ||
        key.contentLength == 0)
        return false;
    DerReader algorithmParts(algorithm);
    DerElement objectId;
    if (!algorithmParts.read(kDerObjectId, objectId)) return false;
    parts = PublicKeyInfoParts{};
    parts.objectId = objectId.content;
    parts.objectIdSize = objectId.contentLength;
    DerElement parameters;
    if (algorithmParts.read(parameters)) {
        parts.parameters = parameters.start;
        parts.parametersSize = parameters.totalLength;
    }
    parts.unusedBits = key.content[0];
    parts.key = key.content + 1;
    parts.keySize = key.contentLength - 1;
    return true;
}

}  // namespace

bool splitPublicKeyInfo(const BYTE* der, size_t size, PublicKeyInfoParts& parts) {
    DerReader reader(der, size);
    DerElement publicKeyInfo;
    DerElement trailing;
    return reader.read(kDerSequence, publicKeyInfo) && !reader.read(trailing) &&
           splitPublicKeyInfo(publicKeyInfo, parts);
}

void describeCertificate(const std::vector<BYTE>& encoded, CERT_INFO& info, ObjectIdTexts& ids) {
    std::memset(&info, 0, sizeof(info));
    DerElement publicKeyInfo;
    PublicKeyInfoParts parts;
    if (!findPublicKeyInfo(encoded, publicKeyInfo) || !splitPublicKeyInfo(publicKeyInfo, parts))
        return;
    LPSTR text = ids.textOf(parts.objectId, parts.objectIdSize);
    if (text == nullptr) return;

    CERT_PUBLIC_KEY_INFO& out = info.SubjectPublicKeyInfo;
    out.Algorithm.pszObjId = text;
    out.Algorithm.Parameters.pbData = const_cast<BYTE*>(parts.parameters);
    out.Algorithm.Parameters.cbData = static_cast<DWORD>(parts.parametersSize);
    out.PublicKey.cUnusedBits = parts.unusedBits;
    out.PublicKey.pbData = const_cast<BYTE*>(parts.key);
    out.PublicKey.cbData = static_cast<DWORD>(parts.keySize);
}

std::vector<BYTE> encodePublicKeyInfo(const CERT_PUBLIC_KEY_INFO& info) {
    if (info.Algorithm.pszObjId == nullptr || info.PublicKey.cUnusedBits > 7 ||
        (info.PublicKey.cbData != 0 && info.PublicKey.pbData == nullptr) ||
        (info.Algorithm.Parameters.cbData != 0 && info.Algorithm.Parameters.pbData == nullptr))
        return {};
    std::vector<BYTE> objectId = objectIdContent(info.Algorithm.pszObjId);
    if (objectId.empty()) return {};
    std::vector<BYTE> algorithm;
    appendDer(algorithm, kDerObjectId, objectId);
    const BYTE* parameters = info.Algorithm.Parameters.pbData;
    algorithm.insert(algorithm.end(), parameters, parameters + info.Algorithm.Parameters.cbData);

    std::vector<BYTE> bits(1 + size_t{info.PublicKey.cbData});
    bits[0] = static_cast<BYTE>(info.PublicKey.cUnusedBits);
    if (info.PublicKey.cbData != 0)
        std::memcpy(bits.data() + 1, info.PublicKey.pbData, info.PublicKey.cbData);
    std::vector<BYTE> content;
    appendDer(content, kDerSequence, algorithm);
    appendDer(content, kDerBitString, bits);
    std::vector<BYTE> der;
    appendDer(der, kDerSequence, content);
    return der;
}

}  // namespace softcapi
