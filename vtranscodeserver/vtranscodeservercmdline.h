#pragma once
// CVTranscodeServerCmdLine: the server's command line. Any switch whose text contains "close"
// (letter case ignored) asks to close every running instance, except the "cleards" switch,
// whose token carries a path; the base records the registration and start switches.
//
// One thread at a time.

#include "qlib/qutilitylib/qcmdline.h"

class CVTranscodeServerCmdLine final : public CQCmdLine {
public:
    bool IsCloseRequested() const { return m_closeRequested; }

protected:
    void OnOption(const std::wstring& token, bool isSwitch, bool isLast) override;

private:
    bool m_closeRequested = false;
};
