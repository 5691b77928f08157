#pragma once
// CVHelperLimits: the bounds a helper process runs within, so that a hostile source costs at
// most a bounded share of the machine: a cap on its address space and on its open files, no
// gain of privileges through exec (PR_SET_NO_NEW_PRIVS), the out-of-memory killer's first
// choice, and a budget of pixels per picture that decoders refuse to exceed before they
// allocate (a small compressed file may declare a picture of gigabytes).
//
// Apply is called once, early, in every process that runs a request (a helper started alone
// or a child of the warm helper). Sanitizer builds, which reserve terabytes of address space,
// keep the address space unlimited. Stateless.

#include <cstdint>

class CVHelperLimits {
public:
    static constexpr int64_t k_maxPixels = int64_t{8192} * 8192;
    static constexpr uint64_t k_addressSpace = uint64_t{4} << 30;
    static constexpr uint64_t k_openFiles = 64;

    // Applies the process limits to the calling process. Failures are ignored: the limits are
    // a second line of defence behind the pixel budget and the parent's watchdog.
    static void Apply();
};
