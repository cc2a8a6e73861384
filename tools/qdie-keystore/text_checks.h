// What the tool refuses to write into the key store, before anything is opened: texts a log
// line or a terminal would take for something else, and names the library can never use.
#pragma once

#include <initializer_list>

#include "arguments.h"

namespace qdie_tool {

// The flag that lets a container or provider name beyond Latin-1 through, for tests of the
// library's refusal of such a binding.
inline constexpr char kAllowUnusableNamesFlag[] = "--allow-names-beyond-latin-1";

// UsageError for a value with a character below U+0020 or U+007F; the value is not quoted (it
// may be a PIN or a password).
void refuseControlCharacters(const Arguments& arguments, std::initializer_list<const char*> options);

// UsageError for a name with a character beyond U+00FF, unless the flag above was given: the
// library narrows a binding's names to Latin-1 and refuses one that does not fit.
void refuseNamesBeyondLatin1(const Arguments& arguments, std::initializer_list<const char*> options);

}  // namespace qdie_tool
