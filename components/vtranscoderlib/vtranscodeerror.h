#pragma once
// Failures of the conversion engine.
//
// CVTranscodeError is the engine's own failure inside its implementation: it carries the
// result code that says where the failure happened (EVTranscodeResult) and a readable message.
// The helper process raises it in its pipeline and turns it into its report; the engine turns
// it into a job's outcome. It never reaches the engine's callers.
//
// What the engine raises for its callers (an unknown output format code, a probe of a file
// that is not media) is the program's CQException, raised by RaiseTranscodeError with the
// error code TranscodeErrorCode(result): 53000 plus the result code (53002 input unreadable,
// 53003 unsupported settings, ...), so that a caller can tell the kinds apart.
//
// Immutable value types; safe to copy between threads.

#include <exception>
#include <source_location>
#include <string>

#include "components/vtranscoderlib/vtranscoderesult.h"

class CVTranscodeError : public std::exception {
public:
    CVTranscodeError(EVTranscodeResult result, std::wstring message);

    EVTranscodeResult Result() const noexcept { return m_result; }
    const std::wstring& Message() const noexcept { return m_message; }
    // The message as UTF-8.
    const char* what() const noexcept override { return m_utf8.c_str(); }

private:
    EVTranscodeResult m_result;
    std::wstring m_message;
    std::string m_utf8;
};

// The first error code of the transcoder's range.
constexpr int k_transcodeErrorBase = 53000;

// The CQException error code for a failure of the given kind.
constexpr int TranscodeErrorCode(EVTranscodeResult result) {
    return k_transcodeErrorBase + static_cast<int>(result);
}

// Raises CQException with the message and TranscodeErrorCode(result), located at the caller.
[[noreturn]] void RaiseTranscodeError(
    EVTranscodeResult result, const std::wstring& message,
    const std::source_location& location = std::source_location::current());
