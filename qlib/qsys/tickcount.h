#pragma once
// The system tick count: milliseconds since an arbitrary fixed point (CLOCK_MONOTONIC, so it
// never jumps with the wall clock).
//
// Stateless; safe to call from any thread.

#include <cstdint>

namespace qsys {

// The count cut to 32 bits: it wraps after about 49.7 days, so compare two readings only by
// their unsigned difference.
uint32_t GetTickCount();
// The whole count.
uint64_t GetTickCount64();

}  // namespace qsys
