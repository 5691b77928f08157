#include "qlib/qutilitylib/qfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "qlib/qsys/textcodec.h"
#include "qlib/qutilitylib/qcatch.h"
#include "qlib/qutilitylib/qfileutilities.h"
#include "qlib/qutilitylib/qstring.h"

void CQFile::Open(const std::wstring& path) {
    CQCatch::Internal([&] { OpenEx(path, O_RDWR | O_CREAT); });
}

void CQFile::OpenEx(const std::wstring& path, int flags) {
    CQCatch::Internal([&] {
        m_file.Reset();
        if ((flags & O_CREAT) != 0) {
            CQFileUtilities::BuildParentDirectory(path);
        }
        const std::string systemPath = qsys::ToUtf8(path);
        const int descriptor = ::open(systemPath.c_str(), flags | O_CLOEXEC, 0666);
        if (descriptor < 0) {
            if (errno == ENOENT) {
                CQException::RaiseSystemError(ENOENT, {{L"File", path}});
            }
            RaiseRuntimeError(errno, {{L"File", path}});
        }
        m_file.Reset(descriptor);
    });
}

void CQFile::WriteBytes(std::span<const uint8_t, k_blockSize> block) {
    CQCatch::Internal([&] {
        CheckFileOpen();
        size_t written = 0;
        if (const int error = WriteAll(m_file.Get(), block.data(), block.size(), written)) {
            RaiseRuntimeError(error);
        }
    });
}

void CQFile::CheckFileOpen() const {
    CQCatch::Internal([&] {
        if (!m_file.IsValid()) {
            throw CQException(QERR_FILE_NOT_OPEN);
        }
    });
}

int CQFile::WriteAll(int descriptor, const void* data, size_t size, size_t& written) noexcept {
    const auto* bytes = static_cast<const uint8_t*>(data);
    written = 0;
    while (written < size) {
        const ssize_t count = ::write(descriptor, bytes + written, size - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return errno;
        }
        if (count == 0) {
            // A regular file never takes nothing: the device refuses further bytes.
            return EIO;
        }
        written += static_cast<size_t>(count);
    }
    return 0;
}

void CQFile::RaiseRuntimeError(int error, std::initializer_list<SQExceptionValue> context,
                               const std::source_location& location) {
    CQException exception(CQStringHelper::MultiByteToString(std::generic_category().message(error)),
                          error, location);
    for (const SQExceptionValue& value : context) {
        exception.AddValue(value.name, value.value);
    }
    throw exception;
}
