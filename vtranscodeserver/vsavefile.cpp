#include "vtranscodeserver/vsavefile.h"

#include <cstdio>
#include <mutex>
#include <system_error>
#include <utility>

#include "qlib/qsys/files.h"
#include "qlib/qsys/systemerror.h"
#include "qlib/qutilitylib/qcatch.h"
#include "qlib/qutilitylib/qexception.h"
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

// The staging file written and fsynced, renamed over the target, the folder fsynced.
void WriteThroughStaging(const std::string& staging, const std::string& target,
                         const std::string& bytes) {
    qsys::WriteFileDurably(staging, bytes, k_saveFileMode);
    if (::rename(staging.c_str(), target.c_str()) != 0) {
        qsys::ThrowLastError("rename " + staging + " to " + target);
    }
    qsys::SyncFolder(qsys::ParentFolder(target));
}

}  // namespace

void CVSaveFile::Write(const std::wstring& path, std::string_view utf8Text) {
    CQCatch::Internal([&] {
        try {
            const std::wstring backup = path + k_backupSuffix;
            CQFileUtilities::BuildParentDirectory(path);
            RaiseIfWriteFails(path);
            const std::string target = CQStringHelper::StringToMultiByte(path);
            const std::string staging = CQStringHelper::StringToMultiByte(backup);
            try {
                std::string bytes = k_byteOrderMark;
                bytes += utf8Text;
                WriteThroughStaging(staging, target, bytes);
            } catch (const std::system_error& error) {
                CQException::RaiseSystemError(error);
            }
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
