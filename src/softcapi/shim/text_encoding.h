// Conversions between the 8-bit strings of the A functions, the UTF-16 strings of CryptoAPI
// records and the UTF-8 kept in the key store. The 8-bit code page here is Latin-1, so a name
// narrowed by keeping the low byte of each UTF-16 unit finds its Latin-1 original again.
#pragma once

#include <string>

#include "softcapi/wintypes.h"

namespace softcapi {

std::string latin1ToUtf8(const std::string& latin1);
// Characters above U+00FF become '?', as a code page conversion would.
std::string utf8ToLatin1(const std::string& utf8);
std::u16string utf8ToUtf16(const std::string& utf8);
std::string utf16ToUtf8(const std::u16string& utf16);

// A system store name checked and in UTF-8: 1 to 255 printable characters, no '/' or '\'.
// False when the name is refused.
bool storeNameFromAnsi(const char* name, std::string& utf8);
bool storeNameFromWide(const WCHAR* name, std::string& utf8);
bool isValidStoreName(const std::string& utf8);

// ASCII letters in lower case, everything else as it is: names compare as the key store's
// NOCASE indexes compare them.
std::string foldAsciiCase(const std::string& name);

}  // namespace softcapi
