#include "client/vclioutput.h"

#include <cstdio>

#include "client/vvaluetext.h"
#include "qlib/qsys/textcodec.h"

namespace {

void PrintLine(FILE* stream, const std::string& line) {
    std::fputs(line.c_str(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

}  // namespace

void CVCliOutput::PrintResults(const std::wstring& method, const std::vector<std::wstring>& names,
                               const std::vector<VARIANT>& values) const {
    if (m_json) {
        std::string json = "{\"method\":" + CVValueText::JsonString(method) + ",\"results\":{";
        for (size_t index = 0; index < values.size(); ++index) {
            json += (index > 0 ? "," : "") + CVValueText::JsonString(names.at(index)) + ":" +
                    CVValueText::ToJson(values[index]);
        }
        PrintLine(stdout, json + "}}");
        return;
    }
    for (size_t index = 0; index < values.size(); ++index) {
        const std::wstring text = CVValueText::ToText(values[index]);
        PrintLine(stdout, qsys::ToUtf8(values.size() > 1 ? names.at(index) + L": " + text : text));
    }
}

void CVCliOutput::PrintEvent(IVItem* event) const {
    if (m_json) {
        PrintLine(stdout, CVValueText::ToJson(event));
        return;
    }
    BSTR text;
    if (SUCCEEDED(event->GetText(VARIANT::Missing(), &text))) {
        PrintLine(stdout, qsys::ToUtf8(text));
    }
}

void CVCliOutput::PrintError(const CQException& error) const {
    if (m_json) {
        PrintLine(stderr,
                  "{\"error\":" + std::to_string(static_cast<long>(error.GetHResult())) +
                      ",\"description\":" + CVValueText::JsonString(error.GetDescription()) +
                      ",\"xml\":" + CVValueText::JsonString(error.GetXML()) + "}");
        return;
    }
    PrintLine(stderr, "vtranscode: " + qsys::ToUtf8(error.GetDescription()));
}

void CVCliOutput::PrintMessage(const std::wstring& text) const {
    PrintLine(stdout,
              m_json ? "{\"message\":" + CVValueText::JsonString(text) + "}" : qsys::ToUtf8(text));
}
