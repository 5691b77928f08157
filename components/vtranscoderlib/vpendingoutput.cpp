#include "components/vtranscoderlib/vpendingoutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <random>
#include <system_error>

#include "components/vtranscoderlib/vtranscodeerror.h"
#include "qlib/qsys/files.h"
#include "qlib/qsys/textcodec.h"

namespace {

constexpr int k_nameAttempts = 8;

[[noreturn]] void RaiseUnwritable(const std::wstring& what, const std::filesystem::path& path,
                                  int error) {
    throw CVTranscodeError(EVTranscodeResult_OutputUnwritable,
                           what + L" " + qsys::FromUtf8(path.string()) + L": " +
                               qsys::FromUtf8(std::generic_category().message(error)) + L".");
}

// A short hidden name, so that a destination name of the longest length still fits beside it.
std::string HiddenName() {
    static thread_local std::mt19937_64 generator{std::random_device{}()};
    char text[32];
    snprintf(text, sizeof text, ".vt-%016llx.part", static_cast<unsigned long long>(generator()));
    return text;
}

// Errors with which a file system says it has no unnamed files.
bool LacksUnnamedFiles(int error) {
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

// Makes something under a fresh hidden name in the folder: `make` answers false with errno
// set, EEXIST to try another name.
std::filesystem::path MakeHiddenName(
    const std::filesystem::path& folder,
    const std::function<bool(const std::filesystem::path&)>& make) {
    for (int attempt = 0; attempt < k_nameAttempts; ++attempt) {
        std::filesystem::path candidate = folder / HiddenName();
        if (make(candidate)) {
            return candidate;
        }
        if (errno != EEXIST) {
            RaiseUnwritable(L"The destination folder cannot be written:", folder, errno);
        }
    }
    RaiseUnwritable(L"No free temporary name in the destination folder", folder, EEXIST);
}

// fsyncs the folder; 0 or the error. A file system that cannot fsync folders (EINVAL) keeps
// its entries by other means.
int SyncFolder(const std::filesystem::path& folder) {
    try {
        qsys::SyncFolder(folder.string());
    } catch (const std::system_error& error) {
        return error.code().value() == EINVAL ? 0 : error.code().value();
    }
    return 0;
}

}  // namespace

CVPendingOutput::CVPendingOutput(std::filesystem::path destination)
    : m_destination(std::move(destination)) {
    struct stat info {};
    if (stat(m_destination.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        RaiseUnwritable(L"The destination is a folder:", m_destination, EISDIR);
    }
    m_folder = m_destination.parent_path();
    if (m_folder.empty()) {
        m_folder = ".";
    }
    try {
        OpenUnnamedFile(FindExistingFolder());
    } catch (...) {
        Discard();
        throw;
    }
}

CVPendingOutput::~CVPendingOutput() {
    if (!m_committed) {
        Discard();
    }
}

void CVPendingOutput::Discard() noexcept {
    m_fd.Reset();
    if (!m_hidden.empty()) {
        unlink(m_hidden.c_str());
        m_hidden.clear();
    }
    // rmdir removes only empty folders: one that someone filled meanwhile stays.
    for (auto folder = m_createdFolders.rbegin(); folder != m_createdFolders.rend(); ++folder) {
        rmdir(folder->c_str());
    }
    m_createdFolders.clear();
}

std::filesystem::path CVPendingOutput::FindExistingFolder() {
    struct stat info {};
    std::filesystem::path step = m_folder;
    while (stat(step.c_str(), &info) != 0) {
        if (errno != ENOENT) {
            RaiseUnwritable(L"The destination folder cannot be reached:", step, errno);
        }
        m_missingFolders.insert(m_missingFolders.begin(), step);
        std::filesystem::path parent = step.parent_path();
        step = parent.empty() ? std::filesystem::path(".") : parent;
    }
    if (!S_ISDIR(info.st_mode)) {
        RaiseUnwritable(L"The destination folder is not a folder:", step, ENOTDIR);
    }
    return step;
}

void CVPendingOutput::CreateFolders() {
    for (const std::filesystem::path& folder : m_missingFolders) {
        if (mkdir(folder.c_str(), 0777) == 0) {
            m_createdFolders.push_back(folder);
        } else if (errno != EEXIST) {
            RaiseUnwritable(L"The destination folder cannot be created:", folder, errno);
        }
    }
    m_missingFolders.clear();
}

void CVPendingOutput::OpenUnnamedFile(const std::filesystem::path& folder) {
    // In the nearest existing folder: the folders still missing are made on its file system
    // when the file is named, so a conversion that fails creates none.
    m_fd.Reset(open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
    if (m_fd.IsValid()) {
        return;
    }
    if (!LacksUnnamedFiles(errno)) {
        RaiseUnwritable(L"The destination folder cannot be written:", folder, errno);
    }
    CreateFolders();
    CreateHiddenFile(m_folder);
}

void CVPendingOutput::CreateHiddenFile(const std::filesystem::path& folder) {
    m_hidden = MakeHiddenName(folder, [this](const std::filesystem::path& candidate) {
        m_fd.Reset(
            open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        return m_fd.IsValid();
    });
}

void CVPendingOutput::NameUnnamedFile() {
    std::string self = "/proc/self/fd/" + std::to_string(m_fd.Get());
    auto link = [&self](const std::filesystem::path& name) {
        return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
    };
    if (link(m_destination)) {
        return;
    }
    if (errno != EEXIST) {
        RaiseUnwritable(L"The converted file cannot be given its name", m_destination, errno);
    }
    // A file of that name exists: link under a hidden name, then replace it atomically.
    m_hidden = MakeHiddenName(m_folder, link);
}

void CVPendingOutput::Commit() {
    if (fsync(m_fd.Get()) != 0) {
        RaiseUnwritable(L"The converted file cannot be saved to the disk", m_destination, errno);
    }
    CreateFolders();
    if (m_hidden.empty()) {
        NameUnnamedFile();
    }
    if (!m_hidden.empty()) {
        if (rename(m_hidden.c_str(), m_destination.c_str()) != 0) {
            RaiseUnwritable(L"The converted file cannot be given its name", m_destination, errno);
        }
        m_hidden.clear();
    }
    if (int error = SyncFolder(m_folder); error != 0) {
        // The name may not survive a crash: the job failed, and leaves no file it calls failed.
        unlink(m_destination.c_str());
        RaiseUnwritable(L"The folder of the converted file cannot be saved to the disk", m_folder,
                        error);
    }
    m_committed = true;
    m_fd.Reset();
}
