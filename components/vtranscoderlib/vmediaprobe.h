#pragma once
// CVMediaProbe: describes a media file (SVMediaInfo) by running the helper in its probe mode.
// Reading a file means running demuxers and decoders on data of unknown origin, so it happens
// in a helper process like a conversion (a child of the warm helper, CVWarmHelper): a file
// that crashes or hangs FFmpeg ends the probe with an error instead of ending the caller.
//
// Stateless apart from its options; Probe may be called from several threads at once. The
// calling thread must live until Probe returns (the helper dies with it).

#include <chrono>
#include <string>

#include "components/vtranscoderlib/vmediainfo.h"

struct SVProbeOptions {
    std::string helperExecutable;  // empty: the default helper, served warm (CVWarmHelper)
    std::chrono::milliseconds watchdog{30'000};
};

class CVMediaProbe {
public:
    explicit CVMediaProbe(SVProbeOptions options = {}) : m_options(std::move(options)) {}

    // The description of the file. Raises CQException (vtranscodeerror.h) InputUnreadable for a
    // file that is missing or not media, HelperCrashed or HelperHung when the helper failed.
    SVMediaInfo Probe(const std::wstring& path) const;

private:
    SVProbeOptions m_options;
};
