#include "tests/qlib/qbus/testbusobjects.h"

#include "components/vitemslib/vitemslib.h"
#include "qlib/qcom/comclasstable.h"
#include "qlib/qcom/comerror.h"
#include "qlib/qcom/typeinfobuilder.h"
#include "qlib/qutilitylib/qcatch.h"
#include "tests/vtranscodeserver/vtesttranscodeitem.h"

namespace qbus::test {

TestItemClasses::TestItemClasses() {
    CVItemsLib::RegisterClasses();
}

CComPtr<IVItem> MakeItem(const std::wstring& className, const std::wstring& guid) {
    CComPtr<IVItem> item;
    ThrowIfFailed(
        CoCreateInstance(CLSID_VItem, nullptr, CLSCTX_INPROC_SERVER, IVItem::k_iid, item.Put()));
    ThrowIfFailed(item->SetClassName(className));
    ThrowIfFailed(item->SetGUID(guid));
    return item;
}

const InterfaceInfo& IBusProbe::TypeInfo() {
    static const InterfaceInfo s_info = MakeInterfaceInfo<IBusProbe>(
        L"IBusProbe", {
                          {L"Echo", 1, &IBusProbe::Echo, {Optional(L"value"), L"result"}},
                          {L"Describe",
                           2,
                           &IBusProbe::Describe,
                           {L"text", L"number", L"count", L"flag", L"description"}},
                          {L"Split", 3, &IBusProbe::Split, {L"value", L"half", L"rest"}},
                          {L"CopyItem", 4, &IBusProbe::CopyItem, {L"item", L"copy"}},
                          {L"Wait", 5, &IBusProbe::Wait},
                          {L"Fail", 6, &IBusProbe::Fail, {L"code"}},
                          {L"FailWithException", 7, &IBusProbe::FailWithException},
                          {L"Fire", 8, &IBusProbe::Fire, {L"text"}},
                          {L"SourceOf", 10, &IBusProbe::SourceOf, {L"item", L"source"}},
                      });
    return s_info;
}

CBusProbe::CBusProbe()
    : m_events(AddConnectionPoint<CComConnectionPoint<IDispatch>>(DIID_ProbeEvents)) {}

HRESULT CBusProbe::Echo(const VARIANT& value, VARIANT* result) {
    *result = value;
    return S_OK;
}
HRESULT CBusProbe::Describe(BSTR text, LONG number, ULONG count, VARIANT_BOOL flag,
                            BSTR* description) {
    *description = text + L"/" + std::to_wstring(number) + L"/" + std::to_wstring(count) + L"/" +
                   (flag != VARIANT_FALSE ? L"yes" : L"no");
    return S_OK;
}
HRESULT CBusProbe::Split(LONG value, LONG* half, LONG* rest) {
    *half = value / 2;
    *rest = value - *half;
    return S_OK;
}
HRESULT CBusProbe::CopyItem(IVItem* item, IVItem** copy) {
    *copy = item;
    if (item != nullptr) {
        item->AddRef();
    }
    return S_OK;
}
HRESULT CBusProbe::Wait() {
    std::unique_lock lock(m_lock);
    ++m_waiting;
    m_wake.wait(lock, [&] { return m_released; });
    --m_waiting;
    return S_OK;
}
HRESULT CBusProbe::Fail(LONG code) {
    SetErrorInfo({L"failed on purpose", IBusProbe::k_iid, L"Test.Probe"});
    return static_cast<HRESULT>(code);
}
HRESULT CBusProbe::FailWithException() {
    return CQCatch::Interface(IBusProbe::k_iid, IID_NULL, [] {
        CQException error(L"Text with <markup> & \"quotes\"\tand a tab.", QERR_INVALID_PARAMETER);
        error.AddValue(L"CQFileUtilities::DeleteDirectory() Path", L"/tmp/a&b");
        throw error;
    });
}
HRESULT CBusProbe::Fire(BSTR text) {
    const CComPtr<IVItem> event = MakeItem(L"Event", L"");
    CComPtr<IVProperties> properties;
    event->GetProperties(&properties);
    properties->SetValueByName(L"Text", VARIANT(text), 33);
    for (const CComPtr<IDispatch>& sink : m_events.Sinks()) {
        VARIANT argument(static_cast<IDispatch*>(event.Get()));
        DISPPARAMS params{&argument, nullptr, 1, 0};
        sink->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                     nullptr);
    }
    return S_OK;
}

HRESULT CBusProbe::SourceOf(IVTranscodeItem* item, BSTR* source) {
    *source = CTestTranscodeItem::SourceOf(item);
    return S_OK;
}

}  // namespace qbus::test
