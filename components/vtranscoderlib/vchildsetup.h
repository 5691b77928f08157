#pragma once
// CVChildSetup: what a freshly forked helper does before it runs anything else, the same for a
// helper started on its own (before exec) and for a job child of the warm helper: it follows
// its parent into death, starts from default signal handling and finds exactly the
// descriptors it was handed at their agreed numbers, with every other one above them closed.
//
// Only async-signal-safe calls, so that a child of a threaded process may use it between fork
// and exec. Stateless.

#include <sys/types.h>

#include <cstddef>

// A descriptor of the parent that the child finds at `target`.
struct SVHandedDescriptor {
    int fd;
    int target;
};

class CVChildSetup {
public:
    // Descriptors at or above this are free while the handed ones are moved into place, so
    // targets must lie below it.
    static constexpr int k_scratchDescriptor = 10;

    // The child is killed (SIGKILL) when the thread that forked it ends. False when `parent`
    // has already gone, so that the child never outlives it.
    static bool FollowParent(pid_t parent);
    // Unblocks every signal and gives each its default action.
    static void ResetSignals();
    // Puts each descriptor at its target (the entries' fds are changed on the way), then closes
    // every descriptor above the highest target. False when a descriptor could not be moved.
    static bool PlaceDescriptors(SVHandedDescriptor* entries, size_t count);
};
