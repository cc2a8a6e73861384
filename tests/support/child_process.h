// A check run in a child process (POSIX only), so that a call that blocks cannot take the test
// program with it, and so that file modes can bind the check even when the tests run as root.
#pragma once

#include <functional>

enum class ChildPrivileges { Inherited, Dropped, Nobody };

// The user and group Nobody runs as.
inline constexpr unsigned kNobodyId = 65534;

// Runs `body` in a forked child and returns what it returned (0 to 255). The child is ended
// after `seconds`; one that was ended or died comes back as -1, one that threw as 254. Dropped: the child first
// gives up every capability, so that root, too, is refused what the file modes refuse. Nobody:
// the child (of a parent that is root) becomes user and group 65534 with no other groups, a user
// who owns nothing of root's.
int runInChild(const std::function<int()>& body,
               ChildPrivileges privileges = ChildPrivileges::Inherited, unsigned seconds = 10);
