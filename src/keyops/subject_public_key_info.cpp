#include "keyops/subject_public_key_info.h"

#include <cstdint>
#include <cstring>
#include <optional>

namespace keyops {

namespace {

const BYTE kSequence = 0x30;
const BYTE kObjectId = 0x06;
const BYTE kBitString = 0x03;

// One DER value within a span: its tag, where its contents start and how long they are.
struct Value {
    BYTE tag;
    size_t contents;
    size_t length;
    size_t end() const { return contents + length; }
};

// The value at `at`, within `end`: a one-byte tag, a definite length in its shortest form.
std::optional<Value> readValue(const std::vector<BYTE>& der, size_t at, size_t end) {
    if (end - at < 2) return std::nullopt;
    const BYTE tag = der[at];
    // A multi-byte tag is no part of a SubjectPublicKeyInfo.
    if ((tag & 0x1F) == 0x1F) return std::nullopt;
    size_t length = der[at + 1];
    size_t contents = at + 2;
    if (length & 0x80) {
        const size_t count = length & 0x7F;
        if (count == 0 || count > sizeof(uint32_t) || end - contents < count) return std::nullopt;
        length = 0;
        for (size_t i = 0; i < count; ++i) length = (length << 8) | der[contents + i];
        contents += count;
        // DER: the long form only where the short cannot say it, without leading zeros.
        if (length < 0x80 || der[at + 2] == 0) return std::nullopt;
    }
    if (end - contents < length) return std::nullopt;
    return Value{tag, contents, length};
}

// The dotted text of an object identifier's contents; empty when they are not one.
std::string dottedObjectId(const BYTE* bytes, size_t length) {
    std::string text;
    uint64_t arc = 0;
    bool first = true;
    for (size_t i = 0; i < length; ++i) {
        // A leading 0x80 pads an arc, which DER forbids; 2^32 is beyond any arc CryptoAPI names.
        if (arc == 0 && bytes[i] == 0x80) return {};
        arc = (arc << 7) | (bytes[i] & 0x7F);
        if (arc > UINT32_MAX) return {};
        if (bytes[i] & 0x80) continue;
        if (first) {
            const uint64_t top = arc < 80 ? arc / 40 : 2;
            text = std::to_string(top) + "." + std::to_string(arc - 40 * top);
            first = false;
        } else {
            text += "." + std::to_string(arc);
        }
        arc = 0;
    }
    // The last byte must end an arc.
    if (length == 0 || (bytes[length - 1] & 0x80)) return {};
    return text;
}

void appendLength(std::vector<BYTE>& der, size_t length) {
    if (length < 0x80) {
        der.push_back(static_cast<BYTE>(length));
        return;
    }
    BYTE bytes[sizeof(size_t)];
    size_t count = 0;
    for (size_t rest = length; rest != 0; rest >>= 8) bytes[count++] = static_cast<BYTE>(rest);
    der.push_back(static_cast<BYTE>(0x80 | count));
    while (count > 0) der.push_back(bytes[--count]);
}

void appendValue(std::vector<BYTE>& der, BYTE tag, const std::vector<BYTE>& contents) {
    der.push_back(tag);
    appendLength(der, contents.size());
    der.insert(der.end(), contents.begin(), contents.end());
}

void appendArc(std::vector<BYTE>& der, uint64_t arc) {
    BYTE groups[10];
    size_t count = 0;
    do {
        groups[count++] = static_cast<BYTE>(arc & 0x7F);
        arc >>= 7;
    } while (arc != 0);
    while (count > 1) der.push_back(static_cast<BYTE>(groups[--count] | 0x80));
    der.push_back(groups[0]);
}

// The contents of an object identifier from its dotted text; false when it is not one.
bool objectIdContents(const char* dotted, std::vector<BYTE>& contents) {
    std::vector<uint64_t> arcs;
    const char* at = dotted;
    while (true) {
        if (*at < '0' || *at > '9') return false;
        uint64_t arc = 0;
        for (; *at >= '0' && *at <= '9'; ++at) {
            arc = arc * 10 + static_cast<uint64_t>(*at - '0');
            if (arc > UINT32_MAX) return false;
        }
        arcs.push_back(arc);
        if (*at == 0) break;
        if (*at++ != '.') return false;
    }
    if (arcs.size() < 2 || arcs[0] > 2 || (arcs[0] < 2 && arcs[1] >= 40)) return false;
    appendArc(contents, arcs[0] * 40 + arcs[1]);
    for (size_t i = 2; i < arcs.size(); ++i) appendArc(contents, arcs[i]);
    return true;
}

}  // namespace

bool PublicKeyInfo::decode(const std::vector<BYTE>& der) {
    der_ = der;
    info_ = {};
    const std::optional<Value> outer = readValue(der_, 0, der_.size());
    if (!outer || outer->tag != kSequence || outer->end() != der_.size()) return false;
    const std::optional<Value> algorithm = readValue(der_, outer->contents, outer->end());
    if (!algorithm || algorithm->tag != kSequence) return false;
    const std::optional<Value> objectId =
        readValue(der_, algorithm->contents, algorithm->end());
    if (!objectId || objectId->tag != kObjectId) return false;
    objectId_ = dottedObjectId(der_.data() + objectId->contents, objectId->length);
    if (objectId_.empty()) return false;
    // The parameters, when there are any, are one value, kept encoded as CryptoAPI keeps them.
    const size_t parameters = objectId->end();
    if (parameters != algorithm->end()) {
        const std::optional<Value> value = readValue(der_, parameters, algorithm->end());
        if (!value || value->end() != algorithm->end()) return false;
    }
    const std::optional<Value> key = readValue(der_, algorithm->end(), outer->end());
    if (!key || key->tag != kBitString || key->end() != outer->end() || key->length == 0 ||
        der_[key->contents] > 7)
        return false;

    info_.Algorithm.pszObjId = objectId_.data();
    info_.Algorithm.Parameters.cbData = static_cast<DWORD>(algorithm->end() - parameters);
    info_.Algorithm.Parameters.pbData =
        info_.Algorithm.Parameters.cbData == 0 ? nullptr : der_.data() + parameters;
    info_.PublicKey.cbData = static_cast<DWORD>(key->length - 1);
    info_.PublicKey.pbData = info_.PublicKey.cbData == 0 ? nullptr : der_.data() + key->contents + 1;
    info_.PublicKey.cUnusedBits = der_[key->contents];
    return true;
}

bool encodePublicKeyInfo(const CERT_PUBLIC_KEY_INFO& info, std::vector<BYTE>& der) {
    std::vector<BYTE> objectId;
    if (info.Algorithm.pszObjId == nullptr || !objectIdContents(info.Algorithm.pszObjId, objectId))
        return false;
    std::vector<BYTE> algorithm;
    appendValue(algorithm, kObjectId, objectId);
    const CRYPT_OBJID_BLOB& parameters = info.Algorithm.Parameters;
    if (parameters.cbData != 0) {
        const std::vector<BYTE> encoded(parameters.pbData, parameters.pbData + parameters.cbData);
        const std::optional<Value> value = readValue(encoded, 0, encoded.size());
        if (!value || value->end() != encoded.size()) return false;
        algorithm.insert(algorithm.end(), encoded.begin(), encoded.end());
    }
    // A bit string's contents: the count of unused bits, then the bits.
    std::vector<BYTE> key(info.PublicKey.cbData + size_t{1});
    key[0] = static_cast<BYTE>(info.PublicKey.cUnusedBits);
    if (info.PublicKey.cbData != 0)
        std::memcpy(key.data() + 1, info.PublicKey.pbData, info.PublicKey.cbData);
    std::vector<BYTE> contents;
    appendValue(contents, kSequence, algorithm);
    appendValue(contents, kBitString, key);
    der.clear();
    appendValue(der, kSequence, contents);
    return true;
}

}  // namespace keyops
