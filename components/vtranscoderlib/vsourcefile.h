#pragma once
// CVSourceFile: a media source opened as what it must be, a plain local file, by its exact
// name. Nothing in the name is interpreted: a colon or a percent sign is part of the file
// name, not a protocol or a pattern. FIFOs, devices, sockets and folders are refused at once
// (opening does not wait for a writer), so that neither a probe nor a conversion can be made
// to block on them or to read something other than a file.
//
// The server opens the source and hands the descriptor to the helper process; a helper run by
// hand opens it itself the same way. Owns its descriptor; used by one thread at a time.

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "qlib/qsys/uniquefd.h"

class CVSourceFile {
public:
    // Opens the file for reading. Raises CVTranscodeError (InputUnreadable) when it is missing,
    // unreadable or not a regular file.
    static CVSourceFile Open(const std::string& path);
    // Takes over a descriptor opened elsewhere (the helper's inherited one) with the same
    // checks.
    static CVSourceFile Adopt(qsys::UniqueFd fd, const std::string& path);

    int Descriptor() const { return m_fd.Get(); }
    const std::string& Path() const { return m_path; }
    int64_t Size() const { return m_size; }

    // True when `path` names this very file (same device and inode), through whatever links.
    bool IsSameFileAs(const std::string& path) const;

    // Hands the descriptor over; the object is empty afterwards.
    qsys::UniqueFd Release() { return std::move(m_fd); }

private:
    CVSourceFile(qsys::UniqueFd fd, std::string path);

    qsys::UniqueFd m_fd;
    std::string m_path;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    int64_t m_size = 0;
};
