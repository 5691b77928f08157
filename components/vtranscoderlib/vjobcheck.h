#pragma once
// CVJobCheck: whether a job can be run at all, decided before it is queued, from the job alone
// and the file system: a format code in the catalogue, usable settings, a source that is a
// regular file (a link to one is followed), and a destination that is neither a folder nor the
// source itself, in a folder that exists and may be written.
//
// Stateless; any thread.

#include <optional>
#include <string>

#include "components/vtranscoderlib/vconversion.h"

class CVJobCheck {
public:
    // Why the job cannot run, or nullopt when it can.
    static std::optional<std::wstring> FindProblem(const SVConversionJob& job);
};
