#pragma once
// The calling thread's system identity: its id (the kernel's thread id, gettid(), which is
// what log lines print and what PostThreadMessage-style calls address) and its name as
// debuggers, top and /proc show it.
//
// Each function acts on the calling thread only; safe from any thread.

#include <cstdint>
#include <string>
#include <string_view>

namespace qsys {

// The kernel's id of the calling thread (equal to the process id on the main thread).
uint32_t GetCurrentThreadId();

// Names the calling thread. The system keeps at most 15 bytes of UTF-8, so a longer name is
// cut there (never inside a character). Returns false when the system refused the name.
bool SetCurrentThreadName(std::wstring_view name);

// The calling thread's name as the system keeps it.
std::wstring GetCurrentThreadName();

}  // namespace qsys
