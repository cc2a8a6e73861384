// Just enough DER to find a certificate's subject public key without parsing the certificate,
// and to write a SubjectPublicKeyInfo back from CryptoAPI's pieces of it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "softcapi/wintypes.h"

namespace softcapi {

const BYTE kDerInteger = 0x02;
const BYTE kDerBitString = 0x03;
const BYTE kDerObjectId = 0x06;
const BYTE kDerSequence = 0x30;
const BYTE kDerVersionTag = 0xA0;  // [0] EXPLICIT, as a certificate's version

struct DerElement {
    BYTE tag = 0;
    const BYTE* start = nullptr;    // the tag
    const BYTE* content = nullptr;
    size_t contentLength = 0;
    size_t totalLength = 0;         // tag, length and content
};

// Reads the elements of a DER buffer one after the other, definite lengths only.
class DerReader {
public:
    DerReader(const BYTE* data, size_t size) : next_(data), end_(data + size) {}
    explicit DerReader(const DerElement& constructed)
        : DerReader(constructed.content, constructed.contentLength) {}

    // False at the end or at an element that does not fit what is left.
    bool read(DerElement& element);
    // Reads the next element and checks its tag.
    bool read(BYTE tag, DerElement& element) { return read(element) && element.tag == tag; }

private:
    const BYTE* next_;
    const BYTE* end_;
};

// "1.2.840.113549.1.1.1" from the content octets of an OBJECT IDENTIFIER; empty when malformed.
std::string objectIdText(const BYTE* content, size_t length);
// The content octets back from the dotted text; empty when it is not an object identifier.
std::vector<BYTE> objectIdContent(const std::string& text);

// An element of `tag` around `content`.
void appendDer(std::vector<BYTE>& out, BYTE tag, const std::vector<BYTE>& content);

}  // namespace softcapi
