#pragma once
// CQFile: one file opened through the C library's POSIX-style calls, owned by the object and
// closed by its destructor (or by the next Open). Its one writer is the 1536-byte message file
// of the event log, hence WriteBytes' fixed block.
//
// Failures raise CQException with the C library's error number (errno) as code and its
// message text, as the runtime's own file functions report them; the exception is a file that
// does not exist, which raises 0x80070002 like the system calls. The C library always has a
// text, so the "Undefined error." fallback of platforms without one is never needed here.
//
// The static helpers are safe on any thread; an object is used by one thread at a time.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <source_location>
#include <span>
#include <string>

#include "qlib/qsys/uniquefd.h"
#include "qlib/qutilitylib/qexception.h"

class CQFile {
public:
    static constexpr size_t k_blockSize = 1536;

    CQFile() = default;
    CQFile(const CQFile&) = delete;
    CQFile& operator=(const CQFile&) = delete;

    // OpenEx(path, O_RDWR | O_CREAT): read and write, created if missing.
    void Open(const std::wstring& path);
    // Opens path with the open(2) flags (O_CLOEXEC is always added). With O_CREAT the missing
    // folders are created first (CQFileUtilities::BuildDirectory) and a new file gets read and
    // write permission (less the umask).
    void OpenEx(const std::wstring& path, int flags);
    // Writes the block at the current position; raises when the file is not open or the write
    // fails.
    void WriteBytes(std::span<const uint8_t, k_blockSize> block);
    // Raises QERR_FILE_NOT_OPEN "File not open." when no file is open.
    void CheckFileOpen() const;
    void Close() { m_file.Reset(); }
    bool IsOpen() const { return m_file.IsValid(); }
    int GetDescriptor() const { return m_file.Get(); }

    // Writes all size bytes, continuing after short writes and interruptions. Returns 0, or
    // the errno of the write that failed; written tells how many bytes went out either way.
    static int WriteAll(int descriptor, const void* data, size_t size, size_t& written) noexcept;

    // Raises the C library's error number error as code, with its text and the context values.
    [[noreturn]] static void RaiseRuntimeError(
        int error, std::initializer_list<SQExceptionValue> context = {},
        const std::source_location& location = std::source_location::current());

private:
    qsys::UniqueFd m_file;
};
