#include <stdlib.h>
#include <windows.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>

#include "support/host.h"

const char kPathSeparator = '\\';
const char kTextLineEnd[] = "\r\n";

void setEnvironment(const std::string& name, const std::string& value) {
    // _putenv_s updates the C runtime's copy and the process block GetEnvironmentVariableA reads.
    _putenv_s(name.c_str(), value.c_str());
}

void unsetEnvironment(const std::string& name) { _putenv_s(name.c_str(), ""); }

std::vector<std::string> environmentNames() {
    std::vector<std::string> names;
    for (char** entry = _environ; *entry != nullptr; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        // Windows keeps per-drive folders in hidden variables whose names start with '='.
        if (equals != nullptr && equals != *entry) names.emplace_back(*entry, equals - *entry);
    }
    return names;
}

std::string readEnvironment(const std::string& name) {
    char value[32768];
    DWORD length = GetEnvironmentVariableA(name.c_str(), value, sizeof(value));
    return length > 0 && length < sizeof(value) ? std::string(value, length) : "";
}

std::string makeTemporaryFolder(const std::string& prefix) {
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string path = (base / (prefix + std::to_string(random()))).string();
        // Fails when the name is taken, so a folder is never shared with another run.
        if (CreateDirectoryA(path.c_str(), nullptr)) return path;
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    throw std::runtime_error("cannot create a temporary folder");
}

bool runningUnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
