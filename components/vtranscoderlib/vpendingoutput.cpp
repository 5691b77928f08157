#include "components/vtranscoderlib/vpendingoutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <system_error>

#include "components/vtranscoderlib/vtranscodeerror.h"
#include "qlib/qsys/textcodec.h"

namespace {

constexpr int k_nameAttempts = 8;

[[noreturn]] void RaiseUnwritable(const std::wstring& what, const std::filesystem::path& path,
                                  int error) {
    throw CVTranscodeError(EVTranscodeResult_OutputUnwritable,
                           what + L" " + qsys::FromUtf8(path.string()) + L": " +
                               qsys::FromUtf8(std::generic_category().message(error)) + L".");
}

std::string RandomSuffix() {
    static thread_local std::mt19937_64 generator{std::random_device{}()};
    char text[17];
    snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(generator()));
    return text;
}

void SyncFolder(const std::filesystem::path& folder) {
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

}  // namespace

CVPendingOutput::CVPendingOutput(std::filesystem::path destination)
    : m_destination(std::move(destination)) {
    struct stat info {};
    if (stat(m_destination.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        RaiseUnwritable(L"The destination is a folder:", m_destination, EISDIR);
    }
    std::filesystem::path folder = m_destination.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    try {
        CreateFolders(folder);
        CreateTemporaryFile(folder);
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
    if (!m_temporary.empty()) {
        unlink(m_temporary.c_str());
        m_temporary.clear();
    }
    // rmdir removes only empty folders: one that someone filled meanwhile stays.
    for (auto folder = m_createdFolders.rbegin(); folder != m_createdFolders.rend(); ++folder) {
        rmdir(folder->c_str());
    }
    m_createdFolders.clear();
}

void CVPendingOutput::CreateFolders(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> missing;
    struct stat info {};
    for (std::filesystem::path step = folder; !step.empty() && stat(step.c_str(), &info) != 0;
         step = step.parent_path()) {
        if (errno != ENOENT) {
            RaiseUnwritable(L"The destination folder cannot be reached:", step, errno);
        }
        missing.push_back(step);
        if (step == step.parent_path()) {
            break;
        }
    }
    for (auto step = missing.rbegin(); step != missing.rend(); ++step) {
        if (mkdir(step->c_str(), 0777) == 0) {
            m_createdFolders.push_back(*step);
        } else if (errno != EEXIST) {
            RaiseUnwritable(L"The destination folder cannot be created:", *step, errno);
        }
    }
    if (stat(folder.c_str(), &info) == 0 && !S_ISDIR(info.st_mode)) {
        RaiseUnwritable(L"The destination folder is not a folder:", folder, ENOTDIR);
    }
}

void CVPendingOutput::CreateTemporaryFile(const std::filesystem::path& folder) {
    for (int attempt = 0; attempt < k_nameAttempts; ++attempt) {
        // Appended piece by piece: g++ 12 at -O3 warns falsely about `"." + std::string`.
        std::string name(".");
        name += m_destination.filename().string();
        name += '.';
        name += RandomSuffix();
        name += ".part";
        std::filesystem::path candidate = folder / name;
        int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            close(fd);
            m_temporary = candidate;
            return;
        }
        if (errno != EEXIST) {
            RaiseUnwritable(L"The destination folder cannot be written:", folder, errno);
        }
    }
    RaiseUnwritable(L"No free temporary name in the destination folder", folder, EEXIST);
}

void CVPendingOutput::Commit() {
    if (rename(m_temporary.c_str(), m_destination.c_str()) != 0) {
        RaiseUnwritable(L"The converted file cannot be given its name", m_destination, errno);
    }
    m_committed = true;
    std::filesystem::path folder = m_destination.parent_path();
    SyncFolder(folder.empty() ? std::filesystem::path(".") : folder);
}
