#include "components/vtranscoderlib/vsourcefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "components/vtranscoderlib/vtranscodeerror.h"
#include "qlib/qsys/textcodec.h"

namespace {

[[noreturn]] void RaiseUnreadable(const std::string& path, const std::string& why) {
    throw CVTranscodeError(
        EVTranscodeResult_InputUnreadable,
        L"The source " + qsys::FromUtf8(path) + L" " + qsys::FromUtf8(why) + L".");
}

const char* KindOf(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "is a folder, not a file";
    }
    if (S_ISFIFO(mode)) {
        return "is a pipe, not a file";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "is a device, not a file";
    }
    if (S_ISSOCK(mode)) {
        return "is a socket, not a file";
    }
    return "is not a plain file";
}

}  // namespace

CVSourceFile::CVSourceFile(qsys::UniqueFd fd, std::string path)
    : m_fd(std::move(fd)), m_path(std::move(path)) {
    struct stat info {};
    if (fstat(m_fd.Get(), &info) != 0) {
        RaiseUnreadable(m_path, "cannot be examined: " + std::generic_category().message(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        RaiseUnreadable(m_path, KindOf(info.st_mode));
    }
    m_device = info.st_dev;
    m_inode = info.st_ino;
    m_size = info.st_size;
}

CVSourceFile CVSourceFile::Open(const std::string& path) {
    if (path.empty()) {
        RaiseUnreadable(path, "has no name");
    }
    // O_NONBLOCK: opening a FIFO must not wait for a writer; the type is checked right after.
    qsys::UniqueFd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.IsValid()) {
        RaiseUnreadable(path, "cannot be opened: " + std::generic_category().message(errno));
    }
    CVSourceFile file(std::move(fd), path);
    // A regular file reads the same either way; blocking reads keep the descriptor ordinary.
    fcntl(file.m_fd.Get(), F_SETFL, fcntl(file.m_fd.Get(), F_GETFL) & ~O_NONBLOCK);
    return file;
}

CVSourceFile CVSourceFile::Adopt(qsys::UniqueFd fd, const std::string& path) {
    return CVSourceFile(std::move(fd), path);
}

bool CVSourceFile::IsSameFileAs(const std::string& path) const {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && info.st_dev == m_device && info.st_ino == m_inode;
}
