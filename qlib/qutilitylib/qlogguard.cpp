#include "qlib/qutilitylib/qlogguard.h"

#include <string>

#include "qlib/qsys/debugoutput.h"
#include "qlib/qutilitylib/qexception.h"

void CQLogGuard::ReportCurrentException(std::wstring_view operation) noexcept {
    try {
        throw;
    } catch (const CQException& error) {
        try {
            qsys::WriteDebugOutput(L"Error in logging function " + std::wstring(operation) +
                                   L" : \n" + error.GetDescription());
        } catch (...) {
            qsys::WriteDebugOutput(L"Error in logging function");
        }
    } catch (...) {
        try {
            qsys::WriteDebugOutput(L"Access violation in logging function " +
                                   std::wstring(operation));
        } catch (...) {
            qsys::WriteDebugOutput(L"Access violation in logging function");
        }
    }
}
