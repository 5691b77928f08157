#pragma once
// CQLogBase: a logging sink (the system log, the log file). It keeps its own copy of the
// configuration, which the front end hands over with SetConfig before Init opens the sink;
// Log writes one message when the sink's threshold lets it through (or when forced).
//
// Sinks are owned by the logging front end and never deleted through this interface (the
// destructor is protected and not virtual). No operation of a sink ever throws. Threads: the
// front end configures and opens a sink once, under its own lock, before any Log; after that
// Log and IsDebuggingLevel may be called from any thread at once.

#include <string>

#include "qlib/qutilitylib/qlogconfig.h"

class CQLogBase {
public:
    CQLogBase(const CQLogBase&) = delete;
    CQLogBase& operator=(const CQLogBase&) = delete;

    // Prepares the sink for writing; the base has nothing to prepare.
    virtual void Init() noexcept {}
    virtual void Log(int level, const std::wstring& message, bool force) noexcept = 0;
    virtual void SetConfig(const CQLogConfig& config) noexcept { m_config = config; }
    // Whether this sink lets debugging levels (above EQLogLevel_Info) through.
    virtual bool IsDebuggingLevel() const noexcept = 0;

    const CQLogConfig& GetConfig() const { return m_config; }

protected:
    CQLogBase() = default;
    ~CQLogBase() = default;

    CQLogConfig m_config;
};
