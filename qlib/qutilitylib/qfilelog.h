#pragma once
// CQFileLog: the logging sink that appends to the log file, which several processes may share.
// The file is UTF-16LE, starts with the mark FF FE, and holds one line per message:
//
//   date TAB time TAB level name TAB thread id TAB message CR LF
//   2024-05-01	09:03:07.0042	DEBUG	1234	Service started
//
// (milliseconds with four digits; every line end inside the message is written as CR LF).
// When the file has grown beyond the configured size it is renamed to <name>_old<.ext> before
// the next line, replacing an earlier one, so at most one older generation exists. The rename
// replaces atomically: there is no moment without a log file.
//
// Writers of one file take turns through a named mutex made from its path, so the size check,
// the rotation and the append of one line happen as one step across processes. Decisions:
// - The mutex is the calling user's own (another user cannot stall our logging by holding it),
//   and Log waits for it at most k_fileLockTimeout ms. After that the line is written without
//   it but the rotation is skipped: one append is a single write to a file opened for
//   appending, which cannot tear another writer's line, whereas two rotations could race.
// - A level outside the table of names is written by its number.
//
// Threads: Init (and SetConfig) before any Log, by one thread; then Log from any thread (the
// mutex serialises the file). A failure is reported to the debug output and the line is lost.

#include <chrono>
#include <cstdint>
#include <string>

#include "qlib/qutilitylib/qlogbase.h"
#include "qlib/qutilitylib/qmutexlock.h"

class CQFileLog : public CQLogBase {
public:
    static constexpr uint32_t k_fileLockTimeout = 2000;

    CQFileLog() = default;
    ~CQFileLog() = default;

    // Opens the file's mutex (an unnamed one for an empty path).
    void Init() noexcept override;
    void Log(int level, const std::wstring& message, bool force) noexcept override;
    // True when the file threshold is a debugging level, whether or not a file is set.
    bool IsDebuggingLevel() const noexcept override;

    // "NONE", "ERROR", "WARNING", "INFO", "DEBUG", "STACKTRACE"; the number for other levels.
    static std::wstring LevelName(int level);
    // One line of the file, before its line ends are made CR LF.
    static std::wstring FormatLine(int level, const std::wstring& message,
                                   std::chrono::system_clock::time_point when, uint32_t threadId);
    // The name the file is rotated to: "/logs/server.log" -> "/logs/server_old.log".
    static std::wstring RotatedPath(const std::wstring& path);

private:
    CQMutexLock m_fileMutex;
};
