#include "qlib/qsys/tickcount.h"

#include <time.h>

namespace qsys {

uint64_t GetTickCount64() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u +
           static_cast<uint64_t>(now.tv_nsec) / 1'000'000u;
}

uint32_t GetTickCount() {
    return static_cast<uint32_t>(GetTickCount64());
}

}  // namespace qsys
