#include "vtranscodeserver/vtranscodeserviceevent.h"

#include "qlib/qcom/comcall.h"
#include "qlib/qsys/tickcount.h"
#include "qlib/qutilitylib/qcatch.h"
#include "qlib/qutilitylib/qcomutilities.h"
#include "vtranscoder/vtranscoderinterfaces.h"

namespace {

void SetTranscodeValue(IVProperties* properties, const wchar_t* name, const VARIANT& value) {
    ComCall(properties, &IVProperties::SetValue, name, k_transcodeNamespace, value);
}

void SetItemData(IVProperties* properties, IVTranscodeItemData* data) {
    SetTranscodeValue(properties, CVTranscodeServiceEvent::k_inFile,
                      ComCall(data, &IVTranscodeItemData::GetSourcePath));
    SetTranscodeValue(properties, CVTranscodeServiceEvent::k_outFile,
                      ComCall(data, &IVTranscodeItemData::GetDestinationPath));
    SetTranscodeValue(
        properties, CVTranscodeServiceEvent::k_outFormat,
        VARIANT(static_cast<int32_t>(ComCall(data, &IVTranscodeItemData::GetOutputFormat))));
}

}  // namespace

CComPtr<IVItem> CVTranscodeServiceEvent::Create(LONG code, LONG jobId, IUnknown* item,
                                                const std::wstring& errorText) {
    return CQCatch::Internal([&] {
        CComPtr<IVItem> event = CQCOMUtils::CreateObject<IVItem>(CLSID_VItem, k_itemDisplayName);
        CComPtr<IVProperties> properties = ComCall(event.Get(), &IVItem::GetProperties);
        Stamp(properties.Get(), code, jobId);
        CComPtr<IVTranscodeItemData> data;
        if (item != nullptr &&
            SUCCEEDED(item->QueryInterface(IVTranscodeItemData::k_iid, data.Put()))) {
            SetItemData(properties.Get(), data.Get());
        }
        if (!errorText.empty()) {
            SetTranscodeValue(properties.Get(), k_errorDescription, BSTR(errorText));
        }
        SetTranscodeValue(properties.Get(), k_timeStamp, VARIANT(qsys::GetTickCount()));
        return event;
    });
}

void CVTranscodeServiceEvent::Stamp(IVProperties* properties, LONG code, LONG jobId) {
    CQCatch::Internal([&] {
        ComCall(properties, &IVProperties::SetValueByName, k_type,
                VARIANT(static_cast<int32_t>(code)), EVPropertyKind_Transcode);
        if (jobId > 0) {
            ComCall(properties, &IVProperties::SetValueByName, k_itemId,
                    VARIANT(static_cast<int32_t>(jobId)), EVPropertyKind_Transcode);
        }
    });
}
