#include "tests/vtranscodeserver/vmediatestobjects.h"

#include "components/vitemslib/vitemslib.h"
#include "qlib/qcom/comcall.h"
#include "qlib/qutilitylib/qcomutilities.h"
#include "tests/qlib/qutilitylib/filetestsupport.h"

namespace vprofiles::test {

CComPtr<IVItem> MakeItem(const std::wstring& className,
                         const std::vector<SItemProperty>& properties) {
    CVItemsLib::RegisterClasses();
    const CComPtr<IVItem> item = CQCOMUtils::CreateObject<IVItem>(CLSID_VItem, k_itemDisplayName);
    ThrowIfFailed(item->SetClassName(className));
    const CComPtr<IVProperties> container = ComCall(item.Get(), &IVItem::GetProperties);
    for (const SItemProperty& property : properties) {
        ThrowIfFailed(container->SetValue(property.name, property.uri, property.value));
    }
    return item;
}

int RaisedCode(const std::function<void()>& body) {
    const std::optional<CQException> error = qutilitylib::test::Raised(body);
    return error ? qutilitylib::test::RealEntries(*error).back().code : 0;
}

CScriptedTranscoder::SScript& CScriptedTranscoder::Script() {
    static SScript s_script;
    return s_script;
}

CComClassRegistration CScriptedTranscoder::Register() {
    Script() = SScript{};
    return RegisterComClass<CScriptedTranscoder>(CLSID_VTranscoder, k_transcoderDisplayName);
}

HRESULT CScriptedTranscoder::FinalConstruct() {
    ++Script().created;
    return S_OK;
}

HRESULT CScriptedTranscoder::SetItem(IVTranscodeItemData*) {
    return E_NOTIMPL;
}
HRESULT CScriptedTranscoder::GetItem(IVTranscodeItemData**) {
    return E_NOTIMPL;
}
HRESULT CScriptedTranscoder::CanTranscode(VARIANT_BOOL*) {
    return E_NOTIMPL;
}
HRESULT CScriptedTranscoder::Transcode(const VARIANT&, LONG*) {
    return E_NOTIMPL;
}
HRESULT CScriptedTranscoder::Pause(VARIANT_BOOL*) {
    return E_NOTIMPL;
}
HRESULT CScriptedTranscoder::Continue(VARIANT_BOOL*) {
    return E_NOTIMPL;
}
HRESULT CScriptedTranscoder::Abort(VARIANT_BOOL*) {
    return E_NOTIMPL;
}
HRESULT CScriptedTranscoder::GetLastError(BSTR*) {
    return E_NOTIMPL;
}

HRESULT CScriptedTranscoder::GetFileInfo(BSTR path, IVItem** info) {
    Script().fileInfoCalls.push_back(path);
    const auto found = Script().fileInfo.find(path);
    if (found == Script().fileInfo.end()) {
        return E_FAIL;
    }
    *info = nullptr;
    return found->second == nullptr ? S_OK : found->second.CopyTo(info);
}

HRESULT CScriptedTranscoder::GetOutputFormatInfo(LONG format, LONG infoKind, VARIANT* info) {
    *info = VARIANT(L"format " + std::to_wstring(format) + L" info " + std::to_wstring(infoKind));
    return S_OK;
}

}  // namespace vprofiles::test
