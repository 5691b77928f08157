#pragma once
// CVMediaInformation: the three questions a client asks about a media file: its MIME type (from
// its name alone, CVTranscodeUtils' table), its full description (the transcoder component's
// file information, an outside item) and whether it is copy-protected (CVProtectionProbe, which
// answers true only for content positively identified as protected; a missing or unreadable
// file is not). The service calls these under its service lock.
//
//     CVMediaInformation::GetMIME(L"/music/a.M4A");    // "audio/mp4"
//     CComPtr<IVItem> info = CVMediaInformation::GetFileInfo(path);
//
// The transcoder is created for each call (CLSID_VTranscoder from the class table) and released
// afterwards; a failure to create it or of its file information call raises that error.
//
// Stateless; any thread.

#include <string>

#include "qlib/qcom/comptr.h"
#include "vtranscoder/vitemsinterfaces.h"
#include "vtranscoder/vtranscoderinterfaces.h"

class CVMediaInformation {
public:
    static std::wstring GetMIME(const std::wstring& path);
    // The transcoder's description of the file; null when the transcoder answers none.
    static CComPtr<IVItem> GetFileInfo(const std::wstring& path);
    static bool IsDRM(const std::wstring& path);

    // A new transcoder object.
    static CComPtr<IVTranscoder> CreateTranscoder();
};
