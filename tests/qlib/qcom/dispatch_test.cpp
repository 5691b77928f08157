#include <cmath>
#include <stdexcept>

#include <gtest/gtest.h>

#include "qlib/qcom/comcall.h"
#include "qlib/qcom/comdispatchdriver.h"
#include "qlib/qcom/comdispatchimpl.h"
#include "qlib/qcom/typeinfobuilder.h"
#include "qlib/qcom/variant_t.h"
#include "tests/qlib/qcom/testinterfaces.h"

namespace {

class ICalculator : public IDispatch {
public:
    static constexpr IID k_iid = MakeGuid("{2B1E3C4D-0101-4000-8000-00000000C0DE}");
    static const InterfaceInfo& TypeInfo();

    virtual HRESULT Add(LONG left, LONG right, LONG* sum) = 0;
    virtual HRESULT Describe(BSTR label, const VARIANT& suffix, BSTR* text) = 0;
    virtual HRESULT Split(double value, LONG* whole, double* fraction) = 0;
    virtual HRESULT Fail(LONG code) = 0;
    virtual HRESULT Pair(ICounter* counter, ICalculator** self) = 0;
    virtual HRESULT Throw() = 0;
};

// Dispatch ids 4 and 6 are left unused on purpose.
const InterfaceInfo& ICalculator::TypeInfo() {
    static const InterfaceInfo s_info = MakeInterfaceInfo<ICalculator>(
        L"ICalculator",
        {
            {L"Add", 1, &ICalculator::Add, {L"left", L"right", L"sum"}},
            {L"Describe", 2, &ICalculator::Describe, {L"label", Optional(L"suffix"), L"text"}},
            {L"Split", 3, &ICalculator::Split, {L"value", L"whole", L"fraction"}},
            {L"Fail", 5, &ICalculator::Fail, {L"code"}},
            {L"Pair", 7, &ICalculator::Pair, {L"counter", L"self"}},
            {L"Throw", 8, &ICalculator::Throw},
        });
    return s_info;
}

class CCalculator final : public CComObjectBase<CComDispatchImpl<ICalculator>> {
public:
    HRESULT Add(LONG left, LONG right, LONG* sum) override {
        *sum = left + right;
        return S_OK;
    }
    HRESULT Describe(BSTR label, const VARIANT& suffix, BSTR* text) override {
        *text =
            label + L" " + (suffix.IsMissing() ? L"(none)" : static_cast<BSTR>(_variant_t(suffix)));
        return S_OK;
    }
    HRESULT Split(double value, LONG* whole, double* fraction) override {
        *whole = static_cast<LONG>(std::floor(value));
        *fraction = value - std::floor(value);
        return S_OK;
    }
    HRESULT Fail(LONG code) override {
        SetErrorInfo({L"failed on purpose", ICalculator::k_iid, L"Test.Calculator"});
        return static_cast<HRESULT>(code);
    }
    HRESULT Pair(ICounter* counter, ICalculator** self) override {
        m_lastCounter = counter;
        *self = this;
        AddRef();
        return S_OK;
    }
    HRESULT Throw() override { throw std::runtime_error("thrown on purpose"); }

    ICounter* LastCounter() const { return m_lastCounter; }

private:
    LiveObjects m_live;
    ICounter* m_lastCounter = reinterpret_cast<ICounter*>(0x1);
};

class DispatchTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CreateComObject(&m_object), S_OK);
        ASSERT_EQ(m_object.QueryInterface(&m_dispatch), S_OK);
    }
    void TearDown() override {
        m_dispatch.Reset();
        m_object.Reset();
        ClearErrorInfo();
        EXPECT_EQ(LiveObjects::Count(), 0);
    }

    // Invokes with the arguments in declaration order through a raw DISPPARAMS.
    HRESULT InvokeRaw(DISPID dispId, std::vector<VARIANT> args, VARIANT* result,
                      UINT* argErr = nullptr, EXCEPINFO* excepInfo = nullptr) {
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        return m_dispatch->Invoke(dispId, IID_NULL, 0, DISPATCH_METHOD, &params, result, excepInfo,
                                  argErr);
    }

    CComPtr<CCalculator> m_object;
    CComPtr<IDispatch> m_dispatch;
};

TEST_F(DispatchTest, NamesAreFoundIgnoringCase) {
    const wchar_t* names[] = {L"dEsCrIbE", L"SUFFIX", L"label"};
    DISPID ids[3] = {};
    ASSERT_EQ(m_dispatch->GetIDsOfNames(IID_NULL, names, 3, 0, ids), S_OK);
    EXPECT_EQ(ids[0], 2);
    EXPECT_EQ(ids[1], 1) << "a parameter's id is its position";
    EXPECT_EQ(ids[2], 0);

    const wchar_t* unknownParameter[] = {L"add", L"middle"};
    EXPECT_EQ(m_dispatch->GetIDsOfNames(IID_NULL, unknownParameter, 2, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], 1);
    EXPECT_EQ(ids[1], DISPID_UNKNOWN);

    const wchar_t* unknownMethod[] = {L"Subtract"};
    EXPECT_EQ(m_dispatch->GetIDsOfNames(IID_NULL, unknownMethod, 1, 0, ids), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(ids[0], DISPID_UNKNOWN);
    EXPECT_EQ(m_dispatch->GetIDsOfNames(ICalculator::k_iid, unknownMethod, 1, 0, ids),
              DISP_E_UNKNOWNINTERFACE);
}

TEST_F(DispatchTest, UnknownDispatchIdOrPropertyPutIsNoMember) {
    VARIANT result(L"untouched");
    EXPECT_EQ(InvokeRaw(4, {}, &result), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(InvokeRaw(6, {}, &result), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(result, VARIANT(L"untouched"));
    std::vector<VARIANT> args{LONG{1}, LONG{2}};
    DISPPARAMS params{args.data(), nullptr, 2, 0};
    EXPECT_EQ(m_dispatch->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, &result, nullptr,
                                 nullptr),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(m_dispatch->Invoke(1, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params,
                                 &result, nullptr, nullptr),
              S_OK)
        << "scripting clients ask for a method as both";
}

TEST_F(DispatchTest, ArgumentsArriveInDeclarationOrderAndAreConverted) {
    VARIANT text;
    ASSERT_EQ(InvokeRaw(2, {L"label", LONG{7}}, &text), S_OK);
    EXPECT_EQ(text, VARIANT(L"label 7"));

    VARIANT sum;
    ASSERT_EQ(InvokeRaw(1, {L"40", SHORT{2}}, &sum), S_OK);
    EXPECT_EQ(sum, VARIANT(LONG{42})) << "the retval has the parameter's type";
}

TEST_F(DispatchTest, LeftOutOptionalArgumentArrivesAsTheMissingValue) {
    VARIANT text;
    ASSERT_EQ(InvokeRaw(2, {L"label"}, &text), S_OK);
    EXPECT_EQ(text, VARIANT(L"label (none)"));
    ASSERT_EQ(InvokeRaw(2, {L"label", VARIANT::Missing()}, &text), S_OK);
    EXPECT_EQ(text, VARIANT(L"label (none)")) << "a gap in the middle is passed explicitly";
}

TEST_F(DispatchTest, WrongArgumentsAreRefusedBeforeTheMethodRuns) {
    VARIANT result;
    UINT argErr = 99;
    EXPECT_EQ(InvokeRaw(1, {LONG{1}, L"two"}, &result, &argErr), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 0u) << "the last argument is first in rgvarg";
    EXPECT_EQ(InvokeRaw(1, {L"one", LONG{2}}, &result, &argErr), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 1u);
    EXPECT_EQ(InvokeRaw(1, {LONGLONG{1} << 40, LONG{2}}, &result, &argErr), DISP_E_OVERFLOW);
    EXPECT_EQ(InvokeRaw(1, {VARIANT::Missing(), LONG{2}}, &result, &argErr),
              DISP_E_PARAMNOTOPTIONAL);
    EXPECT_EQ(argErr, 1u);
    EXPECT_EQ(InvokeRaw(1, {LONG{1}}, &result), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(InvokeRaw(1, {LONG{1}, LONG{2}, LONG{3}}, &result), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(InvokeRaw(2, {}, &result), DISP_E_BADPARAMCOUNT);

    std::vector<VARIANT> args{LONG{1}};
    const DISPID named = 0;
    DISPPARAMS withNames{args.data(), const_cast<DISPID*>(&named), 1, 1};
    EXPECT_EQ(
        m_dispatch->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, &withNames, &result, nullptr, nullptr),
        DISP_E_NONAMEDARGS);
}

TEST_F(DispatchTest, OutParametersComeBackInTheirSlotsAndTheRetValAsResult) {
    std::vector<VARIANT> args{2.75, VARIANT(L"ignored")};
    VARIANT fraction;
    ASSERT_EQ(CComDispatchDriver(m_dispatch).Invoke(L"split", args, &fraction), S_OK);
    EXPECT_EQ(args[0], VARIANT(2.75)) << "in-arguments are left as they were";
    EXPECT_EQ(args[1], VARIANT(LONG{2}));
    EXPECT_EQ(fraction, VARIANT(0.75));

    std::vector<VARIANT> missingOut{2.75};
    EXPECT_EQ(CComDispatchDriver(m_dispatch).Invoke(L"split", missingOut, &fraction),
              DISP_E_BADPARAMCOUNT)
        << "an out parameter needs its slot";

    VARIANT none(L"stale");
    ASSERT_EQ(InvokeRaw(5, {LONG{0}}, &none), S_OK);
    EXPECT_EQ(none.Vt(), VT_EMPTY) << "a method without retval leaves VT_EMPTY";
}

TEST_F(DispatchTest, InterfaceArgumentsAreAskedForTheirInterface) {
    CComPtr<CCounter> counter;
    ASSERT_EQ(CreateComObject(&counter), S_OK);
    CComPtr<INamed> named;
    ASSERT_EQ(counter.QueryInterface(&named), S_OK);

    VARIANT self;
    ASSERT_EQ(InvokeRaw(7, {VARIANT(named)}, &self), S_OK);
    EXPECT_TRUE(IsSameObject(m_object->LastCounter(), counter->GetUnknown()));
    EXPECT_EQ(self.Vt(), VT_DISPATCH) << "a dual interface comes back as VT_DISPATCH";
    EXPECT_TRUE(IsSameObject(self.Unknown(), m_object->GetUnknown()));

    ASSERT_EQ(InvokeRaw(7, {VARIANT()}, &self), S_OK);
    EXPECT_EQ(m_object->LastCounter(), nullptr) << "VT_EMPTY is a null object";
    UINT argErr = 99;
    EXPECT_EQ(InvokeRaw(7, {VARIANT(m_dispatch)}, &self, &argErr), DISP_E_TYPEMISMATCH)
        << "the calculator is no counter";
    EXPECT_EQ(argErr, 0u);
    EXPECT_EQ(InvokeRaw(7, {L"counter"}, &self), DISP_E_TYPEMISMATCH);
}

TEST_F(DispatchTest, MethodFailureTravelsAsExceptionInformationOrAsItself) {
    EXCEPINFO excepInfo;
    VARIANT result;
    ASSERT_EQ(InvokeRaw(5, {LONG{E_ACCESSDENIED}}, &result, nullptr, &excepInfo), DISP_E_EXCEPTION);
    EXPECT_EQ(excepInfo.scode, E_ACCESSDENIED);
    EXPECT_EQ(excepInfo.bstrDescription, L"failed on purpose");
    EXPECT_EQ(excepInfo.bstrSource, L"Test.Calculator");
    EXPECT_FALSE(GetErrorInfo().has_value()) << "the information moved into EXCEPINFO";

    EXPECT_EQ(InvokeRaw(5, {LONG{E_ACCESSDENIED}}, &result), E_ACCESSDENIED);
    EXPECT_EQ(GetErrorInfo()->description, L"failed on purpose");

    ASSERT_EQ(InvokeRaw(8, {}, &result, nullptr, &excepInfo), DISP_E_EXCEPTION);
    EXPECT_EQ(excepInfo.scode, E_FAIL);
    EXPECT_EQ(excepInfo.bstrDescription, L"thrown on purpose");
}

TEST_F(DispatchTest, DriverCallsByNameAndRaisesTheMethodsError) {
    const CComDispatchDriver driver(m_dispatch);
    EXPECT_EQ(driver.Call(L"ADD", LONG{2}, LONG{3}), VARIANT(LONG{5}));
    try {
        driver.Call(L"Fail", LONG{E_ACCESSDENIED});
        FAIL() << "no exception";
    } catch (const _com_error& error) {
        EXPECT_EQ(error.Error(), E_ACCESSDENIED);
        EXPECT_EQ(error.Description(), L"failed on purpose");
        EXPECT_EQ(error.Source(), L"Test.Calculator");
    }
    try {
        driver.Call(L"Subtract", LONG{1});
        FAIL() << "no exception";
    } catch (const _com_error& error) {
        EXPECT_EQ(error.Error(), DISP_E_MEMBERNOTFOUND);
    }
}

TEST_F(DispatchTest, ObjectHandsOutItsTable) {
    CComPtr<IDispatch> dispatch;
    ASSERT_EQ(m_object.QueryInterface(&dispatch), S_OK);
    EXPECT_EQ(dispatch, m_dispatch);
    UINT count = 0;
    ASSERT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    const InterfaceInfo* info = nullptr;
    ASSERT_EQ(dispatch->GetTypeInfo(0, 0, &info), S_OK);
    EXPECT_EQ(info, &ICalculator::TypeInfo());
    EXPECT_EQ(dispatch->GetTypeInfo(1, 0, &info), DISP_E_BADINDEX);
}

TEST(TypeInfoBuilder, DeducesTypesDirectionsAndSlots) {
    const InterfaceInfo& info = ICalculator::TypeInfo();
    EXPECT_EQ(info.iid, ICalculator::k_iid);
    EXPECT_EQ(info.kind, InterfaceKind::Dual);
    ASSERT_EQ(info.methods.size(), 6u);

    const MethodInfo& describe = *info.FindMethod(2);
    EXPECT_EQ(describe.slot, 2u);
    ASSERT_EQ(describe.params.size(), 3u);
    EXPECT_EQ(describe.params[0].vt, VT_BSTR);
    EXPECT_EQ(describe.params[1].vt, VT_VARIANT);
    EXPECT_EQ(describe.params[1].presence, ParamPresence::Optional);
    EXPECT_EQ(describe.params[2].direction, ParamDirection::RetVal);
    EXPECT_EQ(describe.ArgumentCount(), 2u);

    const MethodInfo& split = *info.FindMethod(L"SPLIT");
    EXPECT_EQ(split.params[1].direction, ParamDirection::Out);
    EXPECT_EQ(split.params[1].vt, VT_I4);
    EXPECT_EQ(split.params[2].direction, ParamDirection::RetVal);
    EXPECT_EQ(split.params[2].vt, VT_R8);

    const MethodInfo& pair = *info.FindMethod(7);
    EXPECT_EQ(pair.params[0].vt, VT_UNKNOWN);
    EXPECT_EQ(*pair.params[0].iid, ICounter::k_iid);
    EXPECT_EQ(pair.params[1].vt, VT_DISPATCH);
    EXPECT_EQ(pair.params[1].direction, ParamDirection::RetVal);

    EXPECT_EQ(info.FindMethod(L"Throw")->RetVal(), nullptr);
    EXPECT_EQ(info.FindMethod(4), nullptr);
}

TEST(TypeInfoBuilder, MistakesInATableAreRefused) {
    EXPECT_THROW(MakeInterfaceInfo<ICalculator>(L"ICalculator", {{L"Add", 1, &ICalculator::Add},
                                                                 {L"Fail", 1, &ICalculator::Fail}}),
                 std::logic_error)
        << "one dispatch id twice";
    EXPECT_THROW(MakeInterfaceInfo<ICalculator>(L"ICalculator", {{L"Add", 1, &ICalculator::Add},
                                                                 {L"add", 2, &ICalculator::Fail}}),
                 std::logic_error)
        << "one name twice";
    EXPECT_THROW(MakeInterfaceInfo<ICalculator>(L"ICalculator", {{L"Add", &ICalculator::Add}}),
                 std::logic_error)
        << "a dual method without dispatch id";
    EXPECT_THROW(MakeInterfaceInfo<ICalculator>(
                     L"ICalculator",
                     {{L"Add", 1, &ICalculator::Add, {Optional(L"left"), L"right", L"sum"}}}),
                 std::logic_error)
        << "an optional LONG";
}

// A custom interface is reached through its table without IDispatch, as the bus bridge does.
TEST(TypeInfoBuilder, CustomInterfaceMethodsAreCalledThroughTheirTable) {
    static const InterfaceInfo s_info =
        MakeInterfaceInfo<INamed>(L"INamed", {{L"GetName", &INamed::GetName, {L"name"}}});
    EXPECT_EQ(s_info.kind, InterfaceKind::Custom);
    EXPECT_EQ(s_info.methods[0].dispId, DISPID_UNKNOWN);

    CComPtr<CCounter> counter;
    ASSERT_EQ(CreateComObject(&counter, L"custom"), S_OK);
    CComPtr<INamed> named;
    ASSERT_EQ(counter.QueryInterface(&named), S_OK);
    VARIANT name;
    std::vector<VARIANT> noArguments;
    ASSERT_EQ(InvokeMethod(s_info.methods[0], static_cast<void*>(named.Get()),
                           std::span<VARIANT>(noArguments), &name, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(name, VARIANT(L"custom"));
}

TEST(ComCall, ReturnsTheRetValAndRaisesFailures) {
    CComPtr<CCalculator> calculator;
    ASSERT_EQ(CreateComObject(&calculator), S_OK);
    CComPtr<ICalculator> asInterface(calculator);

    EXPECT_EQ(ComCall(asInterface, &ICalculator::Add, 2, 3), 5);
    const CComPtr<ICalculator> self = ComCall(asInterface, &ICalculator::Pair, nullptr);
    EXPECT_EQ(self, asInterface);
    EXPECT_NO_THROW(ComCall(asInterface, &ICalculator::Fail, S_FALSE));
    try {
        ComCall(asInterface, &ICalculator::Fail, E_ACCESSDENIED);
        FAIL() << "no exception";
    } catch (const _com_error& error) {
        EXPECT_EQ(error.Error(), E_ACCESSDENIED);
        EXPECT_EQ(error.Description(), L"failed on purpose");
    }
    asInterface.Reset();
    EXPECT_THROW(ComCall(asInterface, &ICalculator::Add, 2, 3), _com_error);
}

}  // namespace
