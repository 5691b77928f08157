#pragma once
// CQBusError: how failures travel on the bus, both ways.
//   - An interface method that fails with E_QEXCEPTION answers the D-Bus error
//     "com.zelto.VTranscodeServer.Error.QException"; its message is the exception's XML (the
//     description of the error information the method left).
//   - Any other failing HRESULT answers "com.zelto.VTranscodeServer.Error.HResult" with the
//     message "0x%08X" followed by one space and the description (the method's error
//     information, else the system's text for the code), so that a client reads the code back
//     with the first word. An unknown dispatch id or name is DISP_E_MEMBERNOTFOUND (0x80020003).
//   - An argument that cannot be taken (wrong type, too large, nested too deeply, text that is
//     not valid UTF-8) answers "org.freedesktop.DBus.Error.InvalidArgs" with what was wrong.
// ToHResult turns a received error back into an HRESULT and the error information a COM caller
// expects (the client side).
//
// Stateless; any thread.

#include <optional>
#include <string>
#include <string_view>

#include <sdbus-c++/Error.h>

#include "qlib/qcom/errorinfo.h"
#include "qlib/qcom/hresult.h"

class CQBusError {
public:
    static constexpr const char* k_qexceptionName = "com.zelto.VTranscodeServer.Error.QException";
    static constexpr const char* k_hresultName = "com.zelto.VTranscodeServer.Error.HResult";
    static constexpr const char* k_invalidArgsName = "org.freedesktop.DBus.Error.InvalidArgs";

    // The error of a failed call: hr with the error information it left (may be none).
    static sdbus::Error FromHResult(HRESULT hr, const std::optional<ErrorInfo>& info);
    static sdbus::Error FromHResult(HRESULT hr, std::wstring description);
    // The error of the exception being handled (inside a catch block only): a _com_error or
    // CQException keeps its HRESULT and text, anything else is E_FAIL with its message.
    static sdbus::Error FromCurrentException();
    static sdbus::Error InvalidArgument(std::string_view what);

    // The HRESULT a received error stands for, and error information with its text
    // (description = the exception's XML for a QException error).
    static HRESULT ToHResult(const sdbus::Error& error, ErrorInfo* info);
};
