#pragma once
// CVCliOutput: what the command line prints. Plain text for people, one JSON document per
// result or event line for scripts (--json). Errors go to standard error: the exception's
// description in text mode, {"error": code, "description": ..., "xml": ...} in JSON mode.
//
// Used by one thread at a time (event lines from the event thread are serialised by the
// commands that print them).

#include <string>
#include <vector>

#include "qlib/qcom/variant.h"
#include "qlib/qutilitylib/qexception.h"
#include "vtranscoder/vitemsinterfaces.h"

class CVCliOutput {
public:
    explicit CVCliOutput(bool json) : m_json(json) {}

    bool IsJson() const { return m_json; }
    // The results of a method call, named after its out-parameters.
    void PrintResults(const std::wstring& method, const std::vector<std::wstring>& names,
                      const std::vector<VARIANT>& values) const;
    void PrintEvent(IVItem* event) const;
    void PrintError(const CQException& error) const;
    // A line for people; in JSON mode {"message": text}.
    void PrintMessage(const std::wstring& text) const;

private:
    const bool m_json;
};
