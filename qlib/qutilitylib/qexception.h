#pragma once
// CQException: the one exception type of the program. It is a small XML tree, an element
// "error" with one "errorentry" per event of a failure: the first failure, then one entry for
// every method boundary it passes (a trace entry, code QERR_STACKTRACE) and every caller that
// adds context. Interface methods hand it to their callers as XML (GetXML) with the HRESULT
// E_QEXCEPTION; the receiving side rebuilds it with FromComError and keeps adding to it.
//
// Raising, with the raise site's file, line and class-qualified method name taken by the
// compiler:
//
//     CQException error(L"Failed to open file.", QERR_OPEN_FILE);
//     error.AddValue(L"File", path);
//     throw error;
//     throw CQException(QERR_INVALID_PARAMETER);           // the catalogue text
//     CQException::RaiseSystemError(errno, {{L"File", path}});  // a failed system call
//
// Thrown by value, caught by reference. Copying copies every entry deeply. An exception is used
// by one thread at a time; the static functions are safe on any thread.

#include <initializer_list>
#include <source_location>
#include <string>
#include <string_view>
#include <system_error>

#include "qlib/qcom/comerror.h"
#include "qlib/qcom/hresult.h"
#include "qlib/qutilitylib/qxmlelement.h"

// The HRESULT an interface method returns when a CQException reaches its boundary; the error
// information's description then holds the exception's XML.
constexpr HRESULT E_QEXCEPTION = MakeHResult(0x80045D53);

// Library and service error codes (CQException::GetErrorCodeText gives their texts).
constexpr int QERR_UNHANDLED = 1001;
constexpr int QERR_STD_EXCEPTION = 1002;
constexpr int QERR_CHAR_EXCEPTION = 1003;
constexpr int QERR_WCHAR_EXCEPTION = 1004;
constexpr int QERR_STACKTRACE = 1005;
constexpr int QERR_UNDEFINED = 1006;
constexpr int QERR_INVALID_PARAMETER = 1010;
constexpr int QERR_NOT_INITIALIZED = 1013;
constexpr int QERR_INVALID_VARIANT_TYPE = 1015;
constexpr int QERR_OPEN_FILE = 1016;
constexpr int QERR_CREATE_DIRECTORY = 2001;
constexpr int QERR_TIME_CONVERSION = 2002;
constexpr int QERR_INVALID_STRING_FORMAT = 2003;
constexpr int QERR_FILE_NOT_OPEN = 2006;
constexpr int QERR_MOVE_FILE = 2008;
constexpr int QERR_DELETE_FILE = 2012;
constexpr int QERR_GET_FILE_TIME = 2013;
constexpr int VERR_SERVICE_NOT_INITIALIZED = 62001;
constexpr int VERR_ADD_TO_QUEUE_FAILED = 62002;

// One context value of a raise (see CQException::AddValue).
struct SQExceptionValue {
    std::wstring_view name;
    std::wstring_view value;
};

class CQException {
public:
    // An "error" element without entries.
    CQException();
    // One full entry.
    CQException(std::wstring_view description, int code, std::wstring_view sourceFile,
                int sourceLine, std::wstring_view sourceFunction);
    // One full entry located at the caller.
    CQException(std::wstring_view description, int code,
                const std::source_location& location = std::source_location::current());
    // One full entry with the catalogue text of code, located at the caller.
    explicit CQException(int code,
                         const std::source_location& location = std::source_location::current());
    CQException(const CQException& other);
    CQException& operator=(const CQException& other);
    virtual ~CQException();

    // Rebuilds an exception from a COM error: the remote exception when it carries
    // E_QEXCEPTION with the exception's XML, otherwise one entry with the HRESULT and the best
    // description available. Never fails for malformed XML (the raw text becomes the
    // description of one entry with code E_QEXCEPTION). The error object's source (the ProgID
    // of the class that failed) is attached to the newest real entry as a "sourcefile" value.
    static CQException FromComError(const _com_error& error);

    void AddEntry(std::wstring_view description, int code);
    void AddEntry(std::wstring_view description, int code, std::wstring_view sourceFile,
                  int sourceLine, std::wstring_view sourceFunction);
    void AddEntry(std::wstring_view description, int code, const std::source_location& location);

    // Attaches a context value to the newest entry that is not a trace entry; without one,
    // nothing happens. White space, "<" and "&" are removed from the name, and what is left is
    // made a valid XML name by CQXMLElement::MakeName, so that any XML reader in another
    // process accepts the written exception ("CQFileUtilities::DeleteDirectory() Path" becomes
    // "CQFileUtilities.DeleteDirectory.Path"); a name of which nothing is left adds nothing.
    void AddValue(std::wstring_view name, std::wstring_view value);
    void AddValue(std::wstring_view name, int value);

    // The "error" element as XML text, indented with "\r\n" and tabs.
    std::wstring GetXML() const;
    // Human-readable text: the real entries newest first, then the stack trace; every "%" is
    // doubled because the text is later used where a format is expected.
    std::wstring GetDescription() const;
    // 0 without a real entry; the newest real entry's code when negative (an HRESULT);
    // E_FAIL otherwise.
    HRESULT GetHResult() const;
    bool HasErrorCode(int code) const;

    const CQXMLElement& GetElement() const { return m_error; }

    // The catalogue text of a library or service code ("Invalid function parameter."); the
    // message prefix for QERR_STD_EXCEPTION, QERR_CHAR_EXCEPTION and QERR_WCHAR_EXCEPTION;
    // empty for a code not in the catalogue.
    static std::wstring GetErrorCodeText(int code);

    // The system's message text for a Win32 error number or an HRESULT, trailing white space
    // removed; "Unable to format error message from error number %d" when there is none.
    static std::wstring GetSystemErrorMessage(HRESULT error);

    // Raises the failure of a system call: code HResultFromErrno(error), description the
    // system's text for error, then the context values, located at the caller.
    [[noreturn]] static void RaiseSystemError(
        int error, std::initializer_list<SQExceptionValue> context = {},
        const std::source_location& location = std::source_location::current());
    // The same for a failure that qsys reported as std::system_error (its code is an errno).
    [[noreturn]] static void RaiseSystemError(
        const std::system_error& error, std::initializer_list<SQExceptionValue> context = {},
        const std::source_location& location = std::source_location::current());

    // The class-qualified method name ("CVTranscodeService::Add",
    // "CVEventDispatcher<class CVTranscodeService>::DispatchEvent") of a compiler function
    // signature such as std::source_location::function_name() gives it, in a method or in a
    // lambda inside it.
    static std::wstring QualifiedMethodName(std::string_view signature);

private:
    CQXMLElement& NewestEntry();
    CQXMLElement* NewestRealEntry();
    const CQXMLElement* NewestRealEntry() const;
    void AdoptEntries(const CQXMLElement& error);

    CQXMLElement m_error;
};
