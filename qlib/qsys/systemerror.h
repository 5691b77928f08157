#pragma once
// The one place where this layer turns a failed system call into an exception: a
// std::system_error in the generic (errno) category whose text names what was being done.
// Callers above translate the errno into their own error model.
//
// Stateless; safe to call from any thread.

#include <string>

namespace qsys {

// Throws std::system_error(error, generic_category, what).
[[noreturn]] void ThrowSystemError(int error, const std::string& what);

// Throws with the calling thread's current errno.
[[noreturn]] void ThrowLastError(const std::string& what);

}  // namespace qsys
