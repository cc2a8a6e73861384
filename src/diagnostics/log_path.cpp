#include "diagnostics/log_path.h"

#include <cstring>

#include "diagnostics/log_host.h"
#include "common/profile.h"

namespace diagnostics {

bool composeLogPath(char (&path)[kLogPathCapacity]) {
    // Composed in place, allocating nothing: the log works when memory has run out as well.
    if (!common::copyUserProfileFolder(path, kLogPathCapacity)) return false;
    const size_t profileLength = std::strlen(path);
    const size_t suffixLength = std::strlen(kLogPathSuffix);
    // An empty profile would put the log at the root of the file system.
    if (profileLength == 0 || profileLength + suffixLength >= kLogPathCapacity) return false;
    std::memcpy(path + profileLength, kLogPathSuffix, suffixLength + 1);
    return true;
}

}  // namespace diagnostics
