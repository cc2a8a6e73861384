#include "support/child_process.h"

#include <grp.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Empties the effective, permitted and inheritable sets: root keeps its identity but loses the
// power to override file modes.
bool dropCapabilities() {
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    return syscall(SYS_capset, &header, data) == 0;
}

// Another user altogether: the groups first, while root may still change them.
bool becomeNobody() {
    return setgroups(0, nullptr) == 0 && setresgid(kNobodyId, kNobodyId, kNobodyId) == 0 &&
           setresuid(kNobodyId, kNobodyId, kNobodyId) == 0;
}

bool takePrivileges(ChildPrivileges privileges) {
    switch (privileges) {
        case ChildPrivileges::Inherited: return true;
        case ChildPrivileges::Dropped: return dropCapabilities();
        case ChildPrivileges::Nobody: return becomeNobody();
    }
    return false;
}

}  // namespace

int runInChild(const std::function<int()>& body, ChildPrivileges privileges, unsigned seconds) {
    pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        alarm(seconds);
        if (!takePrivileges(privileges)) _exit(255);
        // Whatever happens, the child never returns into the test program.
        try {
            _exit(body() & 0xff);
        } catch (...) {
            _exit(254);
        }
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}
