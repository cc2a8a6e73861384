#include "support/temp_profile.h"

#include <strings.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "support/host.h"

namespace {

const char kProfileVariable[] = "userprofile";
const char kMachineRootsVariable[] = "QDIE_SYSTEM_ROOTS";
const char kMachineStoreVariable[] = "QDIE_MACHINE_STORE";

// Every spelling of `userprofile`, HOME, XDG_DATA_HOME, the machine roots' bundle and the
// machine's store now set in the environment.
std::vector<std::string> profileVariablesSet() {
    std::vector<std::string> names;
    for (const std::string& name : environmentNames()) {
        if (strcasecmp(name.c_str(), kProfileVariable) == 0 || name == "HOME" ||
            name == "XDG_DATA_HOME" || name == kMachineRootsVariable ||
            name == kMachineStoreVariable)
            names.push_back(name);
    }
    return names;
}

}  // namespace

ScopedProfileEnvironment::ScopedProfileEnvironment() {
    for (const std::string& name : profileVariablesSet()) {
        saved_.emplace_back(name, readEnvironment(name));
        unsetEnvironment(name);
    }
}

ScopedProfileEnvironment::~ScopedProfileEnvironment() {
    // Tests may have set other spellings; clear them before putting the saved ones back.
    for (const std::string& name : profileVariablesSet()) unsetEnvironment(name);
    for (const auto& variable : saved_) setEnvironment(variable.first, variable.second);
}

TempFolder::TempFolder() : path_(makeTemporaryFolder("qdie-log-")) {}

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
        path += kPathSeparator;
        path.append(component, 'p');
    }
    std::filesystem::create_directories(path);
    return path;
}

std::string logFolderOf(const std::string& profile) {
    return profile + kPathSeparator + ".quendrilax";
}

std::string logPathOf(const std::string& profile) {
    return logFolderOf(profile) + kPathSeparator + "jni.log";
}

std::string readWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool fileExists(const std::string& path) { return std::filesystem::exists(path); }

TempProfile::TempProfile(LogFolder logFolder) {
    setEnvironment(kProfileVariable, folder_.path());
    // The machine's roots of this profile alone: none, until a test writes the bundle.
    setEnvironment(kMachineRootsVariable, machineRootsPath());
    // And its machine store: never the host's, absent until a test makes it.
    setEnvironment(kMachineStoreVariable, machineStorePath());
    if (logFolder == LogFolder::Present) std::filesystem::create_directory(logFolderOf(folder_.path()));
}

std::string TempProfile::machineRootsPath() const {
    return folder() + kPathSeparator + "system-roots.pem";
}

std::string TempProfile::machineStorePath() const {
    return folder() + kPathSeparator + "machine";
}

std::string TempProfile::keystorePath() const {
    return folder() + "/.local/share/qdie-keystore/keystore.db";
}
