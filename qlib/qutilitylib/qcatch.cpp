#include "qlib/qutilitylib/qcatch.h"

#include <cxxabi.h>

#include <exception>
#include <mutex>
#include <new>

#include "qlib/qcom/errorinfo.h"
#include "qlib/qutilitylib/qlogging.h"
#include "qlib/qutilitylib/qstring.h"

namespace {

std::mutex s_resolverMutex;
CQCatch::ProgIdResolver s_progIdResolver;  // guarded by s_resolverMutex

}  // namespace

void QLogBoundaryWarning(const std::wstring& message) noexcept {
    CQLogging::LogInternal(EQLogLevel_Warning, message, false);
}

CQException CQCatch::Translate(const std::source_location& location) {
    try {
        throw;
    } catch (const _com_error& error) {
        CQException exception = CQException::FromComError(error);
        exception.AddEntry(L"", QERR_STACKTRACE, location);
        return exception;
    } catch (const CQException& error) {
        CQException exception(error);
        exception.AddEntry(CQException::GetErrorCodeText(QERR_STACKTRACE), QERR_STACKTRACE,
                           location);
        return exception;
    } catch (const std::exception& error) {
        return CQException(CQException::GetErrorCodeText(QERR_STD_EXCEPTION) +
                               CQStringHelper::MultiByteToString(error.what()),
                           QERR_STD_EXCEPTION, location);
    } catch (const char* text) {
        return CQException(CQException::GetErrorCodeText(QERR_CHAR_EXCEPTION) +
                               CQStringHelper::MultiByteToString(text != nullptr ? text : ""),
                           QERR_CHAR_EXCEPTION, location);
    } catch (const wchar_t* text) {
        return CQException(
            CQException::GetErrorCodeText(QERR_WCHAR_EXCEPTION) + (text != nullptr ? text : L""),
            QERR_WCHAR_EXCEPTION, location);
    } catch (abi::__forced_unwind&) {
        // Thread cancellation unwinds through here and must not be stopped.
        throw;
    } catch (...) {
        return CQException(QERR_UNHANDLED, location);
    }
}

HRESULT CQCatch::ReportToCaller(REFIID iid, REFCLSID clsid,
                                const std::source_location& location) noexcept {
    try {
        const CQException exception = Translate(location);
        SetErrorInfo({exception.GetXML(), iid, ResolveProgId(clsid)});
        return E_QEXCEPTION;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

void CQCatch::LogCurrentException(const std::source_location& location) noexcept {
    try {
        const CQException exception = Translate(location);
        QLogBoundaryWarning(CQStringHelper::Format(
            L"Exception caught in %s (%s : %d)\n",
            CQException::QualifiedMethodName(location.function_name()),
            CQStringHelper::MultiByteToString(location.file_name()), location.line()));
        QLogBoundaryWarning(CQStringHelper::Format(L"%s\n", exception.GetDescription()));
    } catch (...) {
        // Out of memory while reporting: nothing more can be said.
    }
}

void CQCatch::SetProgIdResolver(ProgIdResolver resolver) {
    std::lock_guard lock(s_resolverMutex);
    s_progIdResolver = std::move(resolver);
}

std::wstring CQCatch::ResolveProgId(const CLSID& clsid) noexcept {
    try {
        ProgIdResolver resolver;
        {
            std::lock_guard lock(s_resolverMutex);
            resolver = s_progIdResolver;
        }
        return resolver ? resolver(clsid) : std::wstring();
    } catch (...) {
        // A class whose ProgID cannot be found reports an empty source.
        return {};
    }
}
