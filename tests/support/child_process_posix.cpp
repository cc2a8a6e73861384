#include "support/child_process.h"

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

}  // namespace

int runInChild(const std::function<int()>& body, ChildPrivileges privileges, unsigned seconds) {
    pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        alarm(seconds);
        if (privileges == ChildPrivileges::Dropped && !dropCapabilities()) _exit(255);
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
