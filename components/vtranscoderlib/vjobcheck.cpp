#include "components/vtranscoderlib/vjobcheck.h"

#include <sys/stat.h>
#include <unistd.h>

#include "qlib/qsys/textcodec.h"

namespace {

std::optional<struct stat> StatusOf(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return status;
}

// The folder a destination path names its file in.
std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::optional<std::wstring> CVJobCheck::FindProblem(const SVConversionJob& job) {
    if (CVOutputFormats::Find(job.outputFormat) == nullptr) {
        return L"The output format " + std::to_wstring(job.outputFormat) + L" is not known.";
    }
    if (auto problem = FindSettingsProblem(job.settings)) {
        return problem;
    }
    const std::string source = qsys::ToUtf8(job.source);
    const std::optional<struct stat> sourceStatus = StatusOf(source);
    if (source.empty() || !sourceStatus || !S_ISREG(sourceStatus->st_mode)) {
        return L"The source " + job.source + L" is not a readable file.";
    }
    const std::string destination = qsys::ToUtf8(job.destination);
    if (destination.empty() || destination.back() == '/') {
        return L"The destination " + job.destination + L" names no file.";
    }
    if (const std::optional<struct stat> existing = StatusOf(destination)) {
        if (S_ISDIR(existing->st_mode)) {
            return L"The destination " + job.destination + L" is a folder.";
        }
        if (existing->st_dev == sourceStatus->st_dev && existing->st_ino == sourceStatus->st_ino) {
            return L"The destination " + job.destination + L" is the source itself.";
        }
    }
    const std::string folder = FolderOf(destination);
    const std::optional<struct stat> folderStatus = StatusOf(folder);
    if (!folderStatus || !S_ISDIR(folderStatus->st_mode) ||
        ::access(folder.c_str(), W_OK | X_OK) != 0) {
        return L"The destination folder of " + job.destination + L" cannot be written.";
    }
    return std::nullopt;
}
