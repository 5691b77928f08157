#include "vtranscodeserver/vtranscodeservercmdline.h"

#include <cwctype>

void CVTranscodeServerCmdLine::OnOption(const std::wstring& token, bool isSwitch, bool isLast) {
    CQCmdLine::OnOption(token, isSwitch, isLast);
    if (!isSwitch) {
        return;
    }
    std::wstring lower = token;
    for (wchar_t& c : lower) {
        c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    }
    // The argument that a "cleards" switch carries is a path, not part of the switch.
    if (!lower.starts_with(L"cleards") && lower.find(L"close") != std::wstring::npos) {
        m_closeRequested = true;
    }
}
