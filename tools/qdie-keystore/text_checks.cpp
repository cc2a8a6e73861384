#include "text_checks.h"

#include <algorithm>
#include <string>

namespace qdie_tool {

void refuseControlCharacters(const Arguments& arguments, std::initializer_list<const char*> options) {
    for (const char* option : options) {
        std::string value = arguments.value(option);
        if (std::any_of(value.begin(), value.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
            throw UsageError(std::string("option ") + option +
                             " holds a control character (below U+0020, or U+007F), which would "
                             "break the lines of logs and listings");
    }
}

void refuseNamesBeyondLatin1(const Arguments& arguments, std::initializer_list<const char*> options) {
    if (arguments.has(kAllowUnusableNamesFlag)) return;
    for (const char* option : options) {
        std::string value = arguments.value(option);
        // In UTF-8 every character beyond U+00FF, and nothing else, starts with a byte from 0xC4.
        if (std::any_of(value.begin(), value.end(),
                        [](char c) { return static_cast<unsigned char>(c) >= 0xC4; }))
            throw UsageError(std::string("option ") + option +
                             " names a character beyond Latin-1 (U+00FF), which the library "
                             "cannot open: no signing or decryption would work with this key");
    }
}

}  // namespace qdie_tool
