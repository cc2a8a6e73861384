#include "diagnostics/profile.h"

#include <windows.h>

std::string userProfileFolder() {
    char folder[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("userprofile", folder, sizeof(folder));
    if (length == 0 || length >= sizeof(folder)) return "";
    return std::string(folder, length);
}
