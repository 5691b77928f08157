#pragma once
// CVMediaAnalyzer: describes a media file in-process with libavformat (the helper's probe
// task; callers outside the helper use CVMediaProbe). The MIME type comes from the container
// (for ISO files from their brand, since libavformat names one demuxer for all of them), the
// class from what the file holds, and the codec is named in the profile database's vocabulary.
//
// Stateless; the caller's thread does the work.

#include <string>

#include "components/vtranscoderlib/vmediainfo.h"
#include "components/vtranscoderlib/vsourcefile.h"

class CVMediaAnalyzer {
public:
    // Raises CVTranscodeError (InputUnreadable) for a file that is not media.
    static SVMediaInfo Analyze(CVSourceFile source);

    // The codec's name as the profile database spells it: h264 -> "avc", mpeg4 -> "mpeg-4",
    // h263 -> "h263", wmv3 -> "WMV3", aac -> "aac", mjpeg -> "jpeg"; FFmpeg's own name for
    // others.
    static std::wstring CodecName(int codecId);
};
