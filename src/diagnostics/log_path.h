// Where the diagnostic log lives: the user's profile folder followed by .quendrilax/jni.log,
// composed in a buffer of the Windows path limit.
#pragma once

#include <cstddef>

namespace diagnostics {

constexpr size_t kLogPathCapacity = 260;

// Writes the log file path into path. False when no profile folder is known or the path would
// not fit the buffer (a profile of more than 239 characters); there is no log then.
bool composeLogPath(char (&path)[kLogPathCapacity]);

}  // namespace diagnostics
