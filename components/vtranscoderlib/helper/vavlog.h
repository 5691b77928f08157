#pragma once
// CVAVLog: where FFmpeg's log lines go inside the helper. The helper's report carries one
// readable message per failure, so the log is not printed: the last error line is kept and
// added to the message of a failure that FFmpeg explains only there. With the environment
// variable VTRANSCODE_HELPER_LOG set, every line at warning level or above also goes to
// standard error, for debugging a conversion by hand.
//
// Process-wide. Install once at start; FFmpeg may log from its own threads, so the kept line
// is guarded by a mutex inside the implementation.

#include <string>

#include "components/vtranscoderlib/vtranscoderesult.h"

class CVAVLog {
public:
    // Routes FFmpeg's log through this class.
    static void Install();
    // The last error line FFmpeg logged (without its line break), or empty; clears it.
    static std::string TakeLastError();
};

// FFmpeg's text for an error code.
std::string AVErrorText(int error);

// Raises CVTranscodeError "<what>: <FFmpeg's text>", adding the last logged error when there is
// one.
[[noreturn]] void RaiseAVError(EVTranscodeResult result, const std::string& what, int error);

// Raises CVTranscodeError with a UTF-8 message.
[[noreturn]] void RaiseHelperError(EVTranscodeResult result, const std::string& message);
