#include "softcapi/crypto/der.h"

#include <cstdint>

namespace softcapi {

namespace {

// Long lengths of more than four octets describe more than a key store ever holds.
const BYTE kLongestLength = 4;

}  // namespace

bool DerReader::read(DerElement& element) {
    const BYTE* at = next_;
    if (end_ - at < 2) return false;
    element.start = at;
    element.tag = *at++;
    size_t length = *at++;
    if (length >= 0x80) {
        BYTE octets = static_cast<BYTE>(length & 0x7F);
        if (octets == 0 || octets > kLongestLength || end_ - at < octets) return false;
        length = 0;
        for (BYTE i = 0; i < octets; ++i) length = (length << 8) | *at++;
    }
    if (static_cast<size_t>(end_ - at) < length) return false;
    element.content = at;
    element.contentLength = length;
    element.totalLength = static_cast<size_t>(at - element.start) + length;
    next_ = at + length;
    return true;
}

std::string objectIdText(const BYTE* content, size_t length) {
    std::string text;
    uint64_t arc = 0;
    bool first = true;
    for (size_t i = 0; i < length; ++i) {
        if (arc > (UINT64_MAX >> 7)) return {};
        arc = (arc << 7) | (content[i] & 0x7F);
        if ((content[i] & 0x80) != 0) continue;
        if (first) {
            uint64_t top = arc < 40 ? 0 : arc < 80 ? 1 : 2;
            text = std::to_string(top) + "." + std::to_string(arc - 40 * top);
            first = false;
        } else {
            text += "." + std::to_string(arc);
        }
        arc = 0;
    }
    // An arc left open at the end is malformed.
    if (length == 0 || (content[length - 1] & 0x80) != 0) return {};
    return text;
}

std::vector<BYTE> objectIdContent(const std::string& text) {
    std::vector<uint64_t> arcs;
    uint64_t arc = 0;
    bool digits = false;
    for (char c : text) {
        if (c == '.') {
            if (!digits) return {};
            arcs.push_back(arc);
            arc = 0;
            digits = false;
        } else if (c >= '0' && c <= '9' && arc <= (UINT64_MAX - 9) / 10) {
            arc = arc * 10 + static_cast<uint64_t>(c - '0');
            digits = true;
        } else {
            return {};
        }
    }
    if (!digits) return {};
    arcs.push_back(arc);
    if (arcs.size() < 2 || arcs[0] > 2 || (arcs[0] < 2 && arcs[1] >= 40) ||
        arcs[1] > UINT64_MAX - 80)
        return {};
    std::vector<BYTE> content;
    arcs[1] += 40 * arcs[0];
    for (size_t i = 1; i < arcs.size(); ++i) {
        BYTE groups[10];
        int count = 0;
        uint64_t value = arcs[i];
        do {
            groups[count++] = static_cast<BYTE>(value & 0x7F);
            value >>= 7;
        } while (value != 0);
        while (count > 1) content.push_back(static_cast<BYTE>(groups[--count] | 0x80));
        content.push_back(groups[0]);
    }
    return content;
}

void appendDer(std::vector<BYTE>& out, BYTE tag, const std::vector<BYTE>& content) {
    out.push_back(tag);
    size_t length = content.size();
    if (length < 0x80) {
        out.push_back(static_cast<BYTE>(length));
    } else {
        BYTE octets[sizeof(size_t)];
        int count = 0;
        for (size_t rest = length; rest != 0; rest >>= 8) octets[count++] = static_cast<BYTE>(rest);
        out.push_back(static_cast<BYTE>(0x80 | count));
        while (count > 0) out.push_back(octets[--count]);
    }
    out.insert(out.end(), content.begin(), content.end());
}

}  // namespace softcapi
