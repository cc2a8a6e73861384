#include "diagnostics/log_path.h"

#include <cstring>
#include <string>

#include "diagnostics/log_host.h"
#include "diagnostics/profile.h"

bool composeLogPath(char (&path)[kLogPathCapacity]) {
    const std::string profile = userProfileFolder();
    const size_t suffixLength = std::strlen(kLogPathSuffix);
    // An empty profile would put the log at the root of the file system.
    if (profile.empty() || profile.size() + suffixLength >= kLogPathCapacity) return false;
    std::memcpy(path, profile.data(), profile.size());
    std::memcpy(path + profile.size(), kLogPathSuffix, suffixLength + 1);
    return true;
}
