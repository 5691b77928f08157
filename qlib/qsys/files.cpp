#include "qlib/qsys/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "qlib/qsys/systemerror.h"
#include "qlib/qsys/uniquefd.h"

namespace qsys {
namespace {

void WriteAll(int fd, std::string_view data, const std::string& path) {
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            ThrowLastError("write " + path);
        }
        data.remove_prefix(static_cast<size_t>(written));
    }
}

// Writes the data, fsyncs the file and closes it; close failures are reported too (a network
// file system may report a failed write only there).
void WriteSyncClose(UniqueFd fd, std::string_view data, const std::string& path) {
    WriteAll(fd.Get(), data, path);
    if (::fsync(fd.Get()) != 0) {
        ThrowLastError("fsync " + path);
    }
    if (::close(fd.Release()) != 0) {
        ThrowLastError("close " + path);
    }
}

mode_t ModeToKeep(const std::string& path, mode_t newFileMode) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : newFileMode;
}

// Removes the temporary file unless the rename has consumed it.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string path) : m_path(std::move(path)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (!m_path.empty()) {
            ::unlink(m_path.c_str());
        }
    }
    const std::string& Path() const { return m_path; }
    void Consumed() { m_path.clear(); }

private:
    std::string m_path;
};

}  // namespace

std::optional<std::string> ReadFileIfExists(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.IsValid()) {
        if (errno == ENOENT) {
            return std::nullopt;
        }
        ThrowLastError("open " + path);
    }
    std::string contents;
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::read(fd.Get(), buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            ThrowLastError("read " + path);
        }
        if (count == 0) {
            return contents;
        }
        if (contents.size() + static_cast<size_t>(count) > k_maxWholeFileSize) {
            ThrowSystemError(EFBIG, "read " + path);
        }
        contents.append(buffer, static_cast<size_t>(count));
    }
}

void WriteFileAtomically(const std::string& path, std::string_view contents, mode_t newFileMode) {
    std::string pattern = ParentFolder(path) + "/.qtmp-XXXXXX";
    UniqueFd fd(::mkostemp(pattern.data(), O_CLOEXEC));
    if (!fd.IsValid()) {
        ThrowLastError("create temporary file for " + path);
    }
    TemporaryFile temporary(pattern);
    if (::fchmod(fd.Get(), ModeToKeep(path, newFileMode)) != 0) {
        ThrowLastError("chmod " + temporary.Path());
    }
    WriteSyncClose(std::move(fd), contents, temporary.Path());
    if (::rename(temporary.Path().c_str(), path.c_str()) != 0) {
        ThrowLastError("rename " + temporary.Path() + " to " + path);
    }
    temporary.Consumed();
    SyncFolder(ParentFolder(path));
}

void WriteFileDurably(const std::string& path, std::string_view contents, mode_t newFileMode) {
    UniqueFd fd(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, newFileMode));
    if (!fd.IsValid()) {
        ThrowLastError("open " + path);
    }
    WriteSyncClose(std::move(fd), contents, path);
}

void SyncFolder(const std::string& folder) {
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.IsValid() || ::fsync(fd.Get()) != 0) {
        ThrowLastError("fsync folder " + folder);
    }
}

void CreateDirectories(const std::string& path, mode_t mode) {
    for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string prefix = path.substr(0, end);
        if (!prefix.empty() && ::mkdir(prefix.c_str(), mode) != 0 && errno != EEXIST) {
            ThrowLastError("create folder " + prefix);
        }
        if (end == std::string::npos) {
            break;
        }
    }
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        ThrowLastError("create folder " + path);
    }
    if (!S_ISDIR(status.st_mode)) {
        ThrowSystemError(ENOTDIR, "create folder " + path);
    }
}

std::string ParentFolder(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace qsys
