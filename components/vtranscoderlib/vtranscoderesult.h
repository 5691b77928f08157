#pragma once
// EVTranscodeResult: how one conversion ended. Callers of the transcode call test for 0 and 1;
// every other value is a failure and names where it happened, so that a log line or a message
// to the user can say what to do about it. The values travel between processes (the helper's
// report) and are kept stable.
//
// Stateless; safe to use from any thread.

#include <cstdint>

enum EVTranscodeResult : int32_t {
    EVTranscodeResult_Completed = 0,            // output written under its final name
    EVTranscodeResult_Aborted = 1,              // stopped on request; no output left
    EVTranscodeResult_InputUnreadable = 2,      // source missing, not media, corrupt, protected
    EVTranscodeResult_UnsupportedSettings = 3,  // format code, settings or source unsuitable
    EVTranscodeResult_ConversionFailed = 4,     // decoding, filtering or encoding failed
    EVTranscodeResult_OutputUnwritable = 5,     // destination cannot be created or written
    EVTranscodeResult_HelperCrashed = 6,        // helper died or could not be started
    EVTranscodeResult_HelperHung = 7,           // helper made no progress and was killed
};

// True for the values above.
bool IsTranscodeResult(int32_t value);

// "Completed", "Aborted", "InputUnreadable", ...; "Unknown" for other values.
const wchar_t* TranscodeResultName(int32_t value);

#include <string>

// How a conversion or probe ended: the result code and a readable message (empty when it
// completed).
struct SVTranscodeOutcome {
    EVTranscodeResult result = EVTranscodeResult_Completed;
    std::wstring message;
};
