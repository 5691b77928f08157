#include <gtest/gtest.h>

#include "qlib/qcom/variant_t.h"
#include "tests/qlib/qcom/testinterfaces.h"

namespace {

TEST(Variant, ConstructorsPickComsTypeCodes) {
    EXPECT_EQ(VARIANT().Vt(), VT_EMPTY);
    EXPECT_EQ(VARIANT(int8_t{1}).Vt(), VT_I1);
    EXPECT_EQ(VARIANT(uint8_t{1}).Vt(), VT_UI1);
    EXPECT_EQ(VARIANT(SHORT{-1}).Vt(), VT_I2);
    EXPECT_EQ(VARIANT(USHORT{1}).Vt(), VT_UI2);
    EXPECT_EQ(VARIANT(LONG{1}).Vt(), VT_I4);
    EXPECT_EQ(VARIANT(ULONG{1}).Vt(), VT_UI4);
    EXPECT_EQ(VARIANT(1L).Vt(), VT_I8) << "long is 64-bit here";
    EXPECT_EQ(VARIANT(1LL).Vt(), VT_I8);
    EXPECT_EQ(VARIANT(1ULL).Vt(), VT_UI8);
    EXPECT_EQ(VARIANT(1.0f).Vt(), VT_R4);
    EXPECT_EQ(VARIANT(1.0).Vt(), VT_R8);
    EXPECT_EQ(VARIANT(true).Vt(), VT_BOOL);
    EXPECT_EQ(VARIANT(true).Get<VARIANT_BOOL>(), -1) << "VARIANT_TRUE is -1";
    EXPECT_EQ(VARIANT(L"text").Vt(), VT_BSTR);
    EXPECT_EQ(VARIANT::Null().Vt(), VT_NULL);
    EXPECT_EQ(VARIANT::Int(5).Vt(), VT_INT);
    EXPECT_EQ(VARIANT::UInt(5).Vt(), VT_UINT);
    EXPECT_EQ(VARIANT::Date(45000.5).Vt(), VT_DATE);
    EXPECT_EQ(VARIANT(SAFEARRAY(VT_I4)).Vt(), VT_ARRAY | VT_I4);
    EXPECT_EQ(VARIANT(SAFEARRAY(VT_I4)).Vt(), 8195) << "the VT_I4 array code other code relies on";

    const VARIANT missing = VARIANT::Missing();
    EXPECT_EQ(missing.Vt(), VT_ERROR);
    EXPECT_EQ(missing.Get<SCODE>(), DISP_E_PARAMNOTFOUND);
    EXPECT_TRUE(missing.IsMissing());
    EXPECT_FALSE(VARIANT::Error(E_FAIL).IsMissing());
    EXPECT_FALSE(VARIANT(DISP_E_PARAMNOTFOUND).IsMissing()) << "a VT_I4 of that value is no gap";
}

TEST(Variant, ObjectsKeepTheirKindAndOneReference) {
    CComPtr<CCounter> counter = MakeCounter();
    CComPtr<ICounter> asCounter(counter);
    {
        VARIANT unknown(asCounter);
        EXPECT_EQ(unknown.Vt(), VT_UNKNOWN);
        EXPECT_EQ(unknown.Dispatch(), nullptr);
        EXPECT_EQ(References(counter), 3u);
    }
    EXPECT_EQ(References(counter), 2u);
    EXPECT_EQ(VARIANT(static_cast<IDispatch*>(nullptr)).Vt(), VT_DISPATCH);
}

TEST(Variant, CopiesAreDeepForStringsArraysAndObjects) {
    VARIANT text(L"original");
    VARIANT textCopy = text;
    EXPECT_EQ(textCopy, text);
    text = L"changed";
    EXPECT_EQ(textCopy.Get<BSTR>(), L"original");

    SAFEARRAY array(VT_BSTR, 2, 1);
    ASSERT_EQ(array.PutElement(1, L"a"), S_OK);
    VARIANT arrayValue(array);
    VARIANT arrayCopy = arrayValue;
    ASSERT_EQ(array.PutElement(2, L"b"), S_OK);
    EXPECT_EQ(arrayCopy, arrayValue) << "the VARIANT holds its own array";
    EXPECT_EQ(arrayCopy.Get<SAFEARRAY>().Elements()[0].Get<BSTR>(), L"a");

    CComPtr<CCounter> counter = MakeCounter();
    CComPtr<ICounter> asCounter(counter);
    VARIANT object(asCounter);
    {
        VARIANT objectCopy = object;
        EXPECT_EQ(objectCopy.Unknown(), object.Unknown()) << "the same object";
        EXPECT_EQ(References(counter), 4u);
        SAFEARRAY objects(VT_UNKNOWN);
        ASSERT_EQ(objects.Append(object), S_OK);
        SAFEARRAY objectsCopy = objects;
        EXPECT_EQ(References(counter), 6u);
    }
    EXPECT_EQ(References(counter), 3u);
    object.Clear();
    EXPECT_EQ(References(counter), 2u);
}

TEST(Variant, MoveLeavesEmptyAndClearReleases) {
    CComPtr<CCounter> counter = MakeCounter();
    VARIANT source{CComPtr<ICounter>(counter)};
    VARIANT target = std::move(source);
    EXPECT_EQ(source.Vt(), VT_EMPTY);
    EXPECT_EQ(References(counter), 2u);
    target = std::move(target);
    EXPECT_EQ(target.Vt(), VT_UNKNOWN);
    EXPECT_EQ(VariantClear(&target), S_OK);
    EXPECT_EQ(target.Vt(), VT_EMPTY);
    EXPECT_EQ(References(counter), 1u);

    VARIANT copy;
    EXPECT_EQ(VariantCopy(&copy, &source), S_OK);
    EXPECT_EQ(VariantCopy(nullptr, &source), E_POINTER);
}

struct Conversion {
    VARIANT from;
    VARTYPE to;
    HRESULT expected;
    VARIANT result;
};

TEST(VariantChangeType, ConvertsTheCommonCasesWithComsRules) {
    const Conversion conversions[] = {
        {SHORT{-5}, VT_I4, S_OK, LONG{-5}},
        {LONG{70000}, VT_I2, DISP_E_OVERFLOW, {}},
        {LONG{-1}, VT_UI4, DISP_E_OVERFLOW, {}},
        {ULONGLONG{1} << 63, VT_I8, DISP_E_OVERFLOW, {}},
        {ULONGLONG{1} << 63, VT_R8, S_OK, 9223372036854775808.0},
        {2.5, VT_I4, S_OK, LONG{2}},
        {3.5, VT_I4, S_OK, LONG{4}},
        {-2.5, VT_I2, S_OK, SHORT{-2}},
        {2147483647.4, VT_I4, S_OK, LONG{2147483647}},
        {2147483647.5, VT_I4, DISP_E_OVERFLOW, {}},
        {1e300, VT_R4, DISP_E_OVERFLOW, {}},
        {true, VT_I4, S_OK, LONG{-1}},
        {LONG{7}, VT_BOOL, S_OK, VARIANT_TRUE},
        {0.0, VT_BOOL, S_OK, VARIANT_FALSE},
        {LONG{-42}, VT_BSTR, S_OK, L"-42"},
        {ULONGLONG{18446744073709551615ULL}, VT_BSTR, S_OK, L"18446744073709551615"},
        {0.1, VT_BSTR, S_OK, L"0.1"},
        {1e20, VT_BSTR, S_OK, L"1E+20"},
        {1.0f / 3.0f, VT_BSTR, S_OK, L"0.3333333"},
        {true, VT_BSTR, S_OK, L"-1"},
        {L" 42 ", VT_I4, S_OK, LONG{42}},
        {L"+7", VT_UI1, S_OK, uint8_t{7}},
        {L"2.5e1", VT_I4, S_OK, LONG{25}},
        {L"3000000000", VT_UI4, S_OK, ULONG{3000000000u}},
        {L"3000000000", VT_I4, DISP_E_OVERFLOW, {}},
        {L"forty-two", VT_I4, DISP_E_TYPEMISMATCH, {}},
        {L"", VT_I4, DISP_E_TYPEMISMATCH, {}},
        {L"nan", VT_R8, DISP_E_TYPEMISMATCH, {}},
        {L"+-1", VT_I4, DISP_E_TYPEMISMATCH, {}},
        {L"1e999", VT_R8, DISP_E_OVERFLOW, {}},
        {L"TRUE", VT_BOOL, S_OK, VARIANT_TRUE},
        {L"false", VT_BOOL, S_OK, VARIANT_FALSE},
        {L"true", VT_I4, DISP_E_TYPEMISMATCH, {}},
        {VARIANT(), VT_I4, S_OK, LONG{0}},
        {VARIANT(), VT_BSTR, S_OK, L""},
        {VARIANT::Null(), VT_I4, DISP_E_TYPEMISMATCH, {}},
        {VARIANT::Null(), VT_BSTR, DISP_E_TYPEMISMATCH, {}},
        {VARIANT::Missing(), VT_I4, DISP_E_TYPEMISMATCH, {}},
        {VARIANT::Date(45000.25), VT_R8, S_OK, 45000.25},
        {VARIANT::Date(45000.25), VT_BSTR, DISP_E_TYPEMISMATCH, {}},
        {LONG{12}, VT_INT, S_OK, VARIANT::Int(12)},
        {LONG{45000}, VT_DATE, S_OK, VARIANT::Date(45000)},
        {VARIANT(SAFEARRAY(VT_I4)), VT_ARRAY | VT_I2, DISP_E_TYPEMISMATCH, {}},
        {VARIANT(SAFEARRAY(VT_I4)), VT_I4, DISP_E_TYPEMISMATCH, {}},
        {LONG{1}, VT_ARRAY | VT_I4, DISP_E_TYPEMISMATCH, {}},
        {LONG{1}, VT_VARIANT, DISP_E_BADVARTYPE, {}},
        {LONG{1}, 99, DISP_E_BADVARTYPE, {}},
        {LONG{1}, VT_EMPTY, S_OK, VARIANT()},
    };
    for (const Conversion& conversion : conversions) {
        SCOPED_TRACE(testing::Message()
                     << "from VT " << conversion.from.Vt() << " to VT " << conversion.to);
        VARIANT result(L"untouched");
        EXPECT_EQ(VariantChangeType(&result, &conversion.from, 0, conversion.to),
                  conversion.expected);
        if (SUCCEEDED(conversion.expected)) {
            EXPECT_EQ(result, conversion.result);
        } else {
            EXPECT_EQ(result, VARIANT(L"untouched")) << "a failed conversion changes nothing";
        }
    }
}

TEST(VariantChangeType, AlphaBoolFlagSpellsTheFlag) {
    VARIANT flag(true);
    ASSERT_EQ(flag.ChangeType(VT_BSTR, VARIANT_ALPHABOOL), S_OK);
    EXPECT_EQ(flag, VARIANT(L"True"));
}

TEST(VariantChangeType, ObjectsConvertOnlyBetweenObjectKinds) {
    CComPtr<CCounter> counter = MakeCounter();
    VARIANT unknown{CComPtr<ICounter>(counter)};
    VARIANT dispatch;
    EXPECT_EQ(VariantChangeType(&dispatch, &unknown, 0, VT_DISPATCH), DISP_E_TYPEMISMATCH)
        << "the counter has no IDispatch";
    EXPECT_EQ(VariantChangeType(&dispatch, &unknown, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
    VARIANT empty;
    ASSERT_EQ(empty.ChangeType(VT_UNKNOWN), S_OK);
    EXPECT_EQ(empty.Vt(), VT_UNKNOWN);
    EXPECT_EQ(empty.Unknown(), nullptr);
}

TEST(SafeArray, KeepsBoundsAndElementType) {
    SAFEARRAY array(VT_I4, 3, -1);
    EXPECT_EQ(array.LowerBound(), -1);
    EXPECT_EQ(array.UpperBound(), 1);
    EXPECT_EQ(array.Count(), 3u);
    for (const VARIANT& element : array.Elements()) {
        EXPECT_EQ(element, VARIANT(LONG{0}));
    }
    EXPECT_EQ(array.PutElement(1, SHORT{9}), S_OK);
    EXPECT_EQ(array.PutElement(0, L"12"), S_OK) << "values are converted to the element type";
    EXPECT_EQ(array.PutElement(0, L"twelve"), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(array.PutElement(2, LONG{1}), DISP_E_BADINDEX);
    EXPECT_EQ(array.PutElement(-2, LONG{1}), DISP_E_BADINDEX);

    VARIANT element;
    ASSERT_EQ(array.GetElement(1, &element), S_OK);
    EXPECT_EQ(element, VARIANT(LONG{9}));
    ASSERT_EQ(array.GetElement(0, &element), S_OK);
    EXPECT_EQ(element, VARIANT(LONG{12}));
    EXPECT_EQ(array.GetElement(2, &element), DISP_E_BADINDEX);

    ASSERT_EQ(array.Redim(1), S_OK);
    EXPECT_EQ(array.UpperBound(), -1);
    ASSERT_EQ(array.Append(LONG{5}), S_OK);
    EXPECT_EQ(array.Count(), 2u);
    EXPECT_EQ(array.Elements()[1], VARIANT(LONG{5}));
    ASSERT_EQ(array.Redim(0), S_OK);
    EXPECT_EQ(array.UpperBound(), -2) << "an empty array ends before it starts";
}

TEST(SafeArray, VariantArraysHoldAnyTypeAndOthersRefuseBadTypes) {
    SAFEARRAY mixed(VT_VARIANT);
    ASSERT_EQ(mixed.Append(L"text"), S_OK);
    ASSERT_EQ(mixed.Append(VARIANT(SAFEARRAY(VT_BSTR, 1))), S_OK);
    EXPECT_EQ(mixed.Elements()[0].Vt(), VT_BSTR);
    EXPECT_EQ(mixed.Elements()[1].Vt(), VT_ARRAY | VT_BSTR);

    EXPECT_THROW(SAFEARRAY{VT_EMPTY}, _com_error);
    EXPECT_THROW(SAFEARRAY{VT_ARRAY | VT_I4}, _com_error);
    EXPECT_THROW(SAFEARRAY(VT_I4, 2, 0x7FFFFFFF), _com_error) << "the last index would not fit";
    SAFEARRAY atTheTop(VT_I4, 1, 0x7FFFFFFF);
    EXPECT_EQ(atTheTop.Append(LONG{1}), E_INVALIDARG);
}

TEST(VariantWrapper, ConversionsRaiseWhenTheValueDoesNotConvert) {
    const _variant_t twelve(L"12");
    EXPECT_EQ(static_cast<LONG>(twelve), 12);
    EXPECT_EQ(static_cast<double>(twelve), 12.0);
    EXPECT_EQ(static_cast<BSTR>(_variant_t(2.5)), L"2.5");
    EXPECT_TRUE(static_cast<bool>(_variant_t(LONG{3})));
    try {
        static_cast<void>(static_cast<LONG>(_variant_t(L"twelve")));
        FAIL() << "no exception";
    } catch (const _com_error& error) {
        EXPECT_EQ(error.Error(), DISP_E_TYPEMISMATCH);
    }
    EXPECT_THROW(static_cast<void>(static_cast<SHORT>(_variant_t(LONG{40000}))), _com_error);

    _variant_t value = VARIANT::Missing();
    EXPECT_TRUE(value.IsMissing());
    EXPECT_THROW(value.ChangeType(VT_I4), _com_error);
    EXPECT_TRUE(value.IsMissing()) << "a failed conversion leaves the value";
}

}  // namespace
