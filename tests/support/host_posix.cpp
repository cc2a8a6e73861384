#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "support/host.h"

const char kPathSeparator = '/';
const char kTextLineEnd[] = "\n";

extern char** environ;

void setEnvironment(const std::string& name, const std::string& value) {
    setenv(name.c_str(), value.c_str(), 1);
}

void unsetEnvironment(const std::string& name) { unsetenv(name.c_str()); }

std::vector<std::string> environmentNames() {
    std::vector<std::string> names;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        if (equals != nullptr) names.emplace_back(*entry, equals - *entry);
    }
    return names;
}

std::string readEnvironment(const std::string& name) {
    const char* value = getenv(name.c_str());
    return value != nullptr ? value : "";
}

std::string makeTemporaryFolder(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a temporary folder");
    return pattern;
}

bool runningUnderWine() { return false; }
