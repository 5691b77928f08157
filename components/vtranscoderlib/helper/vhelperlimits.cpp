#include "components/vtranscoderlib/helper/vhelperlimits.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool k_limitAddressSpace = false;
#else
constexpr bool k_limitAddressSpace = true;
#endif

void Limit(int resource, uint64_t value) {
    rlimit limit{value, value};
    rlimit current{};
    // Never raise a limit the parent set lower.
    if (getrlimit(resource, &current) == 0 && current.rlim_max != RLIM_INFINITY &&
        current.rlim_max < value) {
        limit.rlim_cur = limit.rlim_max = current.rlim_max;
    }
    setrlimit(resource, &limit);
}

// Makes the kernel's out-of-memory killer pick a runaway conversion before the server.
void PreferToBeKilled() {
    int fd = open("/proc/self/oom_score_adj", O_WRONLY | O_CLOEXEC);
    if (fd >= 0) {
        ssize_t ignored = write(fd, "500", 3);
        (void)ignored;
        close(fd);
    }
}

}  // namespace

void CVHelperLimits::Apply() {
    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    if (k_limitAddressSpace) {
        Limit(RLIMIT_AS, k_addressSpace);
    }
    Limit(RLIMIT_NOFILE, k_openFiles);
    PreferToBeKilled();
}
