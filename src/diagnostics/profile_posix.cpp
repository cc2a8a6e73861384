#include "diagnostics/profile.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>

extern char** environ;

namespace {

const char kProfileVariable[] = "userprofile";

// Environment names are case-sensitive here but not on Windows, whose spelling callers copy.
const char* findUserProfile() {
    const size_t nameLength = sizeof(kProfileVariable) - 1;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        if (strncasecmp(*entry, kProfileVariable, nameLength) == 0 && (*entry)[nameLength] == '=')
            return *entry + nameLength + 1;
    }
    return nullptr;
}

}  // namespace

std::string userProfileFolder() {
    const char* folder = findUserProfile();
    if (folder == nullptr) folder = std::getenv("HOME");
    return folder != nullptr ? folder : "";
}
