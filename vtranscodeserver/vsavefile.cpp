#include "vtranscodeserver/vsavefile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <utility>

#include "qlib/qsys/files.h"
#include "qlib/qsys/uniquefd.h"
#include "qlib/qutilitylib/qcatch.h"
#include "qlib/qutilitylib/qexception.h"
#include "qlib/qutilitylib/qfile.h"
#include "qlib/qutilitylib/qfileutilities.h"
#include "qlib/qutilitylib/qstring.h"

namespace {

// A save file holds the user's jobs: only the user reads it.
constexpr mode_t k_saveFileMode = 0600;
constexpr char k_byteOrderMark[] = "\xEF\xBB\xBF";

std::mutex s_writeFailureMutex;
CVSaveFile::WriteFailure s_writeFailure;  // guarded by s_writeFailureMutex

void RaiseIfWriteFails(const std::wstring& path) {
    CVSaveFile::WriteFailure failure;
    {
        const std::lock_guard lock(s_writeFailureMutex);
        failure = s_writeFailure;
    }
    if (const int error = failure ? failure(path) : 0) {
        CQException::RaiseSystemError(error);
    }
}

void WriteDurably(const std::string& path, const std::string& bytes) {
    qsys::UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW,
                               k_saveFileMode));
    if (!file.IsValid()) {
        CQException::RaiseSystemError(errno);
    }
    size_t written = 0;
    if (const int error = CQFile::WriteAll(file.Get(), bytes.data(), bytes.size(), written)) {
        CQException::RaiseSystemError(error);
    }
    if (::fsync(file.Get()) != 0 || ::close(file.Release()) != 0) {
        CQException::RaiseSystemError(errno);
    }
}

void SyncFolder(const std::string& path) {
    const qsys::UniqueFd folder(
        ::open(qsys::ParentFolder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.IsValid() || ::fsync(folder.Get()) != 0) {
        CQException::RaiseSystemError(errno);
    }
}

}  // namespace

void CVSaveFile::Write(const std::wstring& path, const std::wstring& text) {
    CQCatch::Internal([&] {
        try {
            const std::wstring backup = path + k_backupSuffix;
            CQFileUtilities::BuildParentDirectory(path);
            RaiseIfWriteFails(path);
            const std::string target = CQStringHelper::StringToMultiByte(path);
            const std::string staging = CQStringHelper::StringToMultiByte(backup);
            WriteDurably(staging, k_byteOrderMark + CQStringHelper::StringToMultiByte(text));
            if (::rename(staging.c_str(), target.c_str()) != 0) {
                CQException::RaiseSystemError(errno);
            }
            SyncFolder(target);
        } catch (CQException& error) {
            error.AddValue(L"File", path);
            throw;
        }
    });
}

std::wstring CVSaveFile::Pick(const std::wstring& path) {
    return CQCatch::Internal([&] {
        if (path.empty()) {
            return std::wstring();
        }
        if (CQFileUtilities::FileExists(path)) {
            return path;
        }
        const std::wstring backup = path + k_backupSuffix;
        return CQFileUtilities::FileExists(backup) ? backup : std::wstring();
    });
}

CVSaveFile::WriteFailure CVSaveFile::SetWriteFailure(WriteFailure failure) {
    const std::lock_guard lock(s_writeFailureMutex);
    std::swap(failure, s_writeFailure);
    return failure;
}
