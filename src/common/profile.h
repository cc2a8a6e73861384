// Where the current user's profile lives: the value of `userprofile`, as Windows names it
// (found case-insensitively, as Windows does), else HOME. Empty when neither is set.
#pragma once

#include <cstddef>
#include <string>

namespace common {

std::string userProfileFolder();

// The same folder written into `folder` with its terminating zero; false when there is none or
// it needs `capacity` bytes or more. Allocates nothing, so that the log, which never fails
// towards its caller, finds its file when memory has run out too.
bool copyUserProfileFolder(char* folder, size_t capacity);

}  // namespace common
