#pragma once
// _com_error: the exception that callers of an interface raise when a method returns a
// failing HRESULT. It carries the HRESULT and the error information the method left (if
// any). Code that calls interfaces reads like code written with raising smart-pointer
// wrappers:
//
//     ThrowIfFailed(transcoder->Abort());      // raises _com_error on failure
//
// Copyable value type; an instance is used by one thread at a time.

#include <optional>
#include <string>

#include "qlib/qcom/errorinfo.h"
#include "qlib/qcom/hresult.h"

class _com_error {
public:
    explicit _com_error(HRESULT hr, std::optional<ErrorInfo> info = std::nullopt);

    HRESULT Error() const { return m_hr; }
    // The error information's description, empty without one.
    std::wstring Description() const;
    // The error information's source (a ProgID), empty without one.
    std::wstring Source() const;
    // The interface id of the error information, GUID_NULL without one.
    IID GUID() const;
    bool HasErrorInfo() const { return m_info.has_value(); }

    // The standard message text: the system message for the HRESULT; without one,
    // "IDispatch error #%d" for HRESULTs from 0x80040200 to 0x8004FFFF (the low 16 bits
    // minus 0x200, unless that is 0), and "Unknown error 0x%0lX" otherwise.
    std::wstring ErrorMessage() const;

private:
    HRESULT m_hr;
    std::optional<ErrorInfo> m_info;
};

// Raises _com_error for a failed HRESULT, with the calling thread's error information
// (which is taken). Does nothing for a success code.
void ThrowIfFailed(HRESULT hr);

// The HRESULT for the exception being handled, where an exception must not pass (a class
// factory, a late-bound call, a method of an interface). A _com_error gives its HRESULT and
// hands its error information back to the thread; std::bad_alloc is E_OUTOFMEMORY; any other
// std::exception is E_FAIL with its text as the description; anything else is E_UNEXPECTED.
// Call it only inside a catch block.
HRESULT HResultFromCurrentException() noexcept;
