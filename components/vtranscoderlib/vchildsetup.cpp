#include "components/vtranscoderlib/vchildsetup.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

bool CVChildSetup::FollowParent(pid_t parent) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    return getppid() == parent;
}

void CVChildSetup::ResetSignals() {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) {
        sigaction(signal, &defaultAction, nullptr);
    }
}

bool CVChildSetup::PlaceDescriptors(SVHandedDescriptor* entries, size_t count) {
    // First out of the way of every target, then into place.
    int highest = 0;
    for (size_t i = 0; i < count; ++i) {
        entries[i].fd = fcntl(entries[i].fd, F_DUPFD, k_scratchDescriptor);
        if (entries[i].fd < 0 || entries[i].target >= k_scratchDescriptor) {
            return false;
        }
    }
    for (size_t i = 0; i < count; ++i) {
        if (dup2(entries[i].fd, entries[i].target) < 0) {
            return false;
        }
        highest = entries[i].target > highest ? entries[i].target : highest;
    }
    close_range(static_cast<unsigned>(highest) + 1, ~0u, 0);
    return true;
}
