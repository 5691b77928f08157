// The example at the top of qcom.h, compiled and run, so that it stays true.

#include <gtest/gtest.h>

#include "qlib/qcom/qcom.h"

namespace {

constexpr CLSID CLSID_Greeter = MakeGuid("6E0F5C43-5A32-4B7B-9C1E-2D3F4A5B6C7E");

class IGreeter : public IDispatch {
public:
    static constexpr IID k_iid = MakeGuid("6E0F5C43-5A32-4B7B-9C1E-2D3F4A5B6C7D");
    static const InterfaceInfo& TypeInfo();
    virtual HRESULT Greet(BSTR name, const VARIANT& title, BSTR* greeting) = 0;
};
const InterfaceInfo& IGreeter::TypeInfo() {
    static const InterfaceInfo s_info = MakeInterfaceInfo<IGreeter>(
        L"IGreeter", {{L"Greet", 1, &IGreeter::Greet, {L"name", Optional(L"title"), L"greeting"}}});
    return s_info;
}
class CGreeter final : public CComObjectBase<CComDispatchImpl<IGreeter>> {
public:
    HRESULT Greet(BSTR name, const VARIANT& title, BSTR* greeting) override {
        *greeting = L"Hello " + (title.Vt() == VT_BSTR ? title.Get<BSTR>() + L" " : L"") + name;
        return S_OK;
    }
};

TEST(QcomOverview, TheExampleComponentWorksAsDescribed) {
    auto registration = RegisterComClass<CGreeter>(CLSID_Greeter, L"Sample::Greeter");

    CComPtr<IGreeter> greeter;
    ThrowIfFailed(
        CoCreateInstance(CLSID_Greeter, nullptr, CLSCTX_ALL, IGreeter::k_iid, greeter.Put()));
    BSTR text = ComCall(greeter, &IGreeter::Greet, L"Ann", VARIANT(L"Dr."));
    VARIANT same = CComDispatchDriver(greeter).Call(L"greet", L"Ann");

    EXPECT_EQ(text, L"Hello Dr. Ann");
    EXPECT_EQ(same, VARIANT(L"Hello Ann"));
}

}  // namespace
