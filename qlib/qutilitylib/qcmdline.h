#pragma once
// CQCmdLine: splits a command line into tokens and hands each to OnOption in order. A token
// starting with "-" or "/" is a switch (the sign removed); a token starting with a double
// quotation mark runs to the next one (the marks removed), any other to the next white space.
// A "cleards" switch takes the quoted argument after it into the same token ("cleards path").
//
// The base OnOption records the switches a component server acts on (letter case ignored):
// "RegServer", "UnregServer", their "PerUser" forms, and "Embedding"/"Automation" (started on
// a client's request). A derived class that overrides OnOption calls the base to keep them.
//
// One thread at a time.

#include <string>
#include <string_view>
#include <vector>

class CQCmdLine {
public:
    CQCmdLine() = default;
    CQCmdLine(const CQCmdLine&) = delete;
    CQCmdLine& operator=(const CQCmdLine&) = delete;
    virtual ~CQCmdLine() = default;

    void Parse(std::wstring_view commandLine);

    // The command line text that Parse reads back into `arguments` (quoted where they hold
    // white space), for a process that received its arguments one by one.
    static std::wstring Join(const std::vector<std::wstring>& arguments);

    bool IsRegister() const { return m_register; }
    bool IsUnregister() const { return m_unregister; }
    bool IsPerUser() const { return m_perUser; }
    bool IsStartedByClient() const { return m_startedByClient; }

protected:
    virtual void OnOption(const std::wstring& token, bool isSwitch, bool isLast);

private:
    bool m_register = false;
    bool m_unregister = false;
    bool m_perUser = false;
    bool m_startedByClient = false;
};
