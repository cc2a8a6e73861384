#include "common/profile.h"

#include <windows.h>

namespace common {

bool copyUserProfileFolder(char* folder, size_t capacity) {
    DWORD length = GetEnvironmentVariableA("userprofile", folder, static_cast<DWORD>(capacity));
    return length != 0 && length < capacity;
}

std::string userProfileFolder() {
    char folder[MAX_PATH];
    return copyUserProfileFolder(folder, sizeof(folder)) ? folder : "";
}

}  // namespace common
