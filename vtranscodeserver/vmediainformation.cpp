#include "vtranscodeserver/vmediainformation.h"

#include "components/vprotectionprobe/vprotectionprobe.h"
#include "qlib/qcom/comcall.h"
#include "qlib/qutilitylib/qcatch.h"
#include "qlib/qutilitylib/qcomutilities.h"
#include "vtranscoder/vtranscodeutils.h"

std::wstring CVMediaInformation::GetMIME(const std::wstring& path) {
    return CQCatch::Internal([&] { return CVTranscodeUtils::GetMIMETypeFromPath(path); });
}

CComPtr<IVItem> CVMediaInformation::GetFileInfo(const std::wstring& path) {
    return CQCatch::Internal(
        [&] { return ComCall(CreateTranscoder().Get(), &IVTranscoder::GetFileInfo, path); });
}

bool CVMediaInformation::IsDRM(const std::wstring& path) {
    return CVProtectionProbe::IsContentProtected(path);
}

CComPtr<IVTranscoder> CVMediaInformation::CreateTranscoder() {
    return CQCatch::Internal([] {
        return CQCOMUtils::CreateObject<IVTranscoder>(CLSID_VTranscoder, k_transcoderDisplayName);
    });
}
