// Where the current user's profile lives: the value of `userprofile`, as Windows names it
// (found case-insensitively, as Windows does), else HOME. Empty when neither is set.
#pragma once

#include <string>

std::string userProfileFolder();
