#include "common/profile.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>

extern char** environ;

namespace common {

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

const char* profileFolder() {
    const char* folder = findUserProfile();
    return folder != nullptr ? folder : std::getenv("HOME");
}

}  // namespace

std::string userProfileFolder() {
    const char* folder = profileFolder();
    return folder != nullptr ? folder : "";
}

bool copyUserProfileFolder(char* folder, size_t capacity) {
    const char* found = profileFolder();
    if (found == nullptr) return false;
    const size_t length = std::strlen(found);
    if (length >= capacity) return false;
    std::memcpy(folder, found, length + 1);
    return true;
}

}  // namespace common
