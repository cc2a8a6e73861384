#include "softcapi/shim/text_encoding.h"

namespace softcapi {

namespace {

const size_t kMaxStoreNameLength = 255;

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Decodes one UTF-8 sequence at `i`, advancing it; malformed input gives U+FFFD.
char32_t nextUtf8(const std::string& s, size_t& i) {
    unsigned char lead = static_cast<unsigned char>(s[i++]);
    if (lead < 0x80) return lead;
    int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
    if (extra < 0 || lead > 0xF4) return 0xFFFD;
    char32_t c = lead & (0x3F >> extra);
    for (int k = 0; k < extra; ++k) {
        if (i >= s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 0xFFFD;
        c = (c << 6) | (static_cast<unsigned char>(s[i++]) & 0x3F);
    }
    return c;
}

bool printable(char32_t c) {
    return c >= 0x20 && c != 0x7F && !(c >= 0x80 && c <= 0x9F) && c != '/' && c != '\\' &&
           !(c >= 0xD800 && c <= 0xDFFF) && c <= 0x10FFFF;
}

}  // namespace

std::string latin1ToUtf8(const std::string& latin1) {
    std::string out;
    for (unsigned char c : latin1) appendUtf8(out, c);
    return out;
}

std::string utf8ToLatin1(const std::string& utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        char32_t c = nextUtf8(utf8, i);
        out += c <= 0xFF ? static_cast<char>(c) : '?';
    }
    return out;
}

std::u16string utf8ToUtf16(const std::string& utf8) {
    std::u16string out;
    for (size_t i = 0; i < utf8.size();) {
        char32_t c = nextUtf8(utf8, i);
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 | (c >> 10));
            out += static_cast<char16_t>(0xDC00 | (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

std::string utf16ToUtf8(const std::u16string& utf16) {
    std::string out;
    for (size_t i = 0; i < utf16.size(); ++i) {
        char32_t c = utf16[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (utf16[++i] - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        appendUtf8(out, c);
    }
    return out;
}

bool storeNameFromAnsi(const char* name, std::string& utf8) {
    if (name == nullptr) return false;
    std::string latin1;
    for (size_t i = 0; name[i] != '\0'; ++i) {
        if (i == kMaxStoreNameLength || !printable(static_cast<unsigned char>(name[i])))
            return false;
        latin1 += name[i];
    }
    if (latin1.empty()) return false;
    utf8 = latin1ToUtf8(latin1);
    return true;
}

bool storeNameFromWide(const WCHAR* name, std::string& utf8) {
    if (name == nullptr) return false;
    std::u16string wide;
    size_t characters = 0;
    for (size_t i = 0; name[i] != 0; ++i) {
        char32_t c = name[i];
        if (c >= 0xD800 && c <= 0xDBFF && name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF) {
            wide += name[i++];
            c = 0x10000 + ((c - 0xD800) << 10) + (name[i] - 0xDC00);
        }
        if (++characters > kMaxStoreNameLength || !printable(c)) return false;
        wide += name[i];
    }
    if (wide.empty()) return false;
    utf8 = utf16ToUtf8(wide);
    return true;
}

bool isValidStoreName(const std::string& utf8) {
    size_t characters = 0;
    for (size_t i = 0; i < utf8.size();) {
        if (++characters > kMaxStoreNameLength || !printable(nextUtf8(utf8, i))) return false;
    }
    return characters != 0;
}

std::string foldAsciiCase(const std::string& name) {
    std::string folded = name;
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return folded;
}

}  // namespace softcapi
