#include "support/temp_profile.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include <strings.h>

extern char** environ;

namespace {

std::optional<std::string> readVariable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

}  // namespace

TempProfile::TempProfile() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qdie-profile-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    std::vector<std::string> names = {"HOME", "XDG_DATA_HOME"};
    // The profile variable is found whatever its case, so every spelling of it goes.
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string name(*entry, std::string(*entry).find('='));
        if (strcasecmp(name.c_str(), "userprofile") == 0) names.push_back(name);
    }
    for (const std::string& name : names) saved_.push_back({name, readVariable(name.c_str())});
    for (const SavedVariable& variable : saved_) unsetenv(variable.name.c_str());
    setenv("HOME", path_.c_str(), 1);
}

TempProfile::~TempProfile() {
    for (const SavedVariable& variable : saved_) {
        if (variable.value)
            setenv(variable.name.c_str(), variable.value->c_str(), 1);
        else
            unsetenv(variable.name.c_str());
    }
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempProfile::keystorePath() const {
    return path_ + "/.local/share/qdie-keystore/keystore.db";
}
