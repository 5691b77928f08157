#pragma once
// The processes of this system as /proc shows them: every process id (one per thread group;
// threads are not listed), and for one process its name, its executable and its user.
//
// A process may end at any moment, and another user's process may hide its executable from
// us: ReadProcessEntry never fails for such a process, it leaves the fields it cannot read
// empty. The name is the file name of the executable (not the kernel's "comm", which is cut to
// 15 characters and may be changed by the process itself); an executable that was replaced or
// deleted while the process runs is still named by its original path.
//
// Stateless; safe to call from any thread.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qsys {

struct ProcessEntry {
    uint32_t id = 0;
    // File name of the executable; empty when it cannot be read.
    std::wstring name;
    // Absolute path of the executable; empty when it cannot be read.
    std::wstring executablePath;
    // Real user id; nullopt when it cannot be read.
    std::optional<uid_t> userId;
};

// Every process id in /proc, in ascending order. Throws std::system_error when /proc cannot be
// read at all.
std::vector<uint32_t> ListProcessIds();

// What can be read about the process `id` now; the id is always set.
ProcessEntry ReadProcessEntry(uint32_t id);

}  // namespace qsys
