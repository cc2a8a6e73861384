#include "support/temp_profile.h"

#include <stdlib.h>
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

extern char** environ;

namespace {

const char kProfileVariable[] = "userprofile";

// Every spelling of `userprofile`, HOME and XDG_DATA_HOME now set in the environment.
std::vector<std::string> profileVariablesSet() {
    std::vector<std::string> names;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        if (equals == nullptr) continue;
        std::string name(*entry, equals - *entry);
        if (strcasecmp(name.c_str(), kProfileVariable) == 0 || name == "HOME" ||
            name == "XDG_DATA_HOME")
            names.push_back(name);
    }
    return names;
}

}  // namespace

ScopedProfileEnvironment::ScopedProfileEnvironment() {
    for (const std::string& name : profileVariablesSet()) {
        saved_.emplace_back(name, getenv(name.c_str()));
        unsetenv(name.c_str());
    }
}

ScopedProfileEnvironment::~ScopedProfileEnvironment() {
    // Tests may have set other spellings; clear them before putting the saved ones back.
    for (const std::string& name : profileVariablesSet()) unsetenv(name.c_str());
    for (const auto& variable : saved_) setenv(variable.first.c_str(), variable.second.c_str(), 1);
}

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qdie-log-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a temporary folder");
    path_ = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string makeFolderOfLength(const std::string& base, size_t length) {
    constexpr size_t kLongestComponent = 100;
    if (length < base.size() + 2) throw std::invalid_argument("folder length too short for its base");
    std::string path = base;
    while (path.size() < length) {
        size_t component = std::min(length - path.size() - 1, kLongestComponent);
        // Never leave room for a separator alone.
        if (length - path.size() - 1 - component == 1) --component;
        path += '/';
        path.append(component, 'p');
    }
    std::filesystem::create_directories(path);
    return path;
}

std::string logFolderOf(const std::string& profile) { return profile + "/.quendrilax"; }

std::string logPathOf(const std::string& profile) { return logFolderOf(profile) + "/jni.log"; }

std::string readWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool fileExists(const std::string& path) { return std::filesystem::exists(path); }

TempProfile::TempProfile(LogFolder logFolder) {
    setenv(kProfileVariable, folder_.path().c_str(), 1);
    if (logFolder == LogFolder::Present) std::filesystem::create_directory(logFolderOf(folder_.path()));
}

std::string TempProfile::keystorePath() const {
    return folder() + "/.local/share/qdie-keystore/keystore.db";
}
