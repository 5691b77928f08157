// CQVariant: arrays from and to vectors (the VT_I4-array rule), integers and floats of every
// width, and the type tests.

#include "qlib/qutilitylib/qvariant.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <regex>

#include "qlib/qcom/comobjectbase.h"
#include "tests/qlib/qutilitylib/filetestsupport.h"

using qutilitylib::test::Raised;
using qutilitylib::test::RealEntries;

namespace {

// The one entry a conversion error has, checked for its code, text and the type it names.
void ExpectRaises(const std::function<void()>& body, int code, const std::wstring& description,
                  VARTYPE vt) {
    // The CQVariant method that raised.
    static const std::wregex s_method(L"CQVariant::[A-Za-z]+");
    const auto error = Raised(body);
    ASSERT_TRUE(error.has_value()) << "nothing raised";
    const auto entries = RealEntries(*error);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].code, code);
    EXPECT_EQ(entries[0].description, description);
    EXPECT_EQ(entries[0].values.at(L"VariantType"), std::to_wstring(vt));
    EXPECT_TRUE(std::regex_match(entries[0].function, s_method)) << entries[0].function;
}

void ExpectInvalidVariantType(const std::function<void()>& body, VARTYPE vt) {
    ExpectRaises(body, QERR_INVALID_VARIANT_TYPE, L"Invalid variant type", vt);
}

void ExpectInvalidParameter(const std::function<void()>& body, VARTYPE vt) {
    ExpectRaises(body, QERR_INVALID_PARAMETER, L"Invalid function parameter.", vt);
}

class CObject final : public CComObjectBase<IUnknown> {};

}  // namespace

TEST(CQVariant, StringVectorBecomesAZeroBasedStringArray) {
    const VARIANT value = CQVariant::StringVectorToVariant({L"http://a/ns", L"", L"ünï"});
    EXPECT_EQ(value.Vt(), VT_ARRAY | VT_BSTR);
    const SAFEARRAY& array = value.Get<SAFEARRAY>();
    EXPECT_EQ(array.LowerBound(), 0);
    ASSERT_EQ(CQVariant::GetSafeArraySize(value), 3u);
    EXPECT_EQ(array.Elements()[0].Get<BSTR>(), L"http://a/ns");
    EXPECT_EQ(array.Elements()[1].Get<BSTR>(), L"");
    EXPECT_EQ(array.Elements()[2].Get<BSTR>(), L"ünï");

    EXPECT_EQ(CQVariant::GetSafeArraySize(CQVariant::StringVectorToVariant({})), 0u);
}

TEST(CQVariant, IntVectorsMakeTheRoundTrip) {
    const std::vector<int32_t> formats{9, -1, std::numeric_limits<int32_t>::min(), 25};
    const VARIANT value = CQVariant::IntVectorToVariant(formats);
    EXPECT_EQ(value.Vt(), 8195);
    EXPECT_EQ(value.Get<SAFEARRAY>().LowerBound(), 0);
    EXPECT_EQ(CQVariant::VariantToIntVector(value), formats);
    EXPECT_TRUE(CQVariant::VariantToIntVector(CQVariant::IntVectorToVariant({})).empty());
}

TEST(CQVariant, ArraySizeCountsFromTheLowerBound) {
    EXPECT_EQ(CQVariant::GetSafeArraySize(VARIANT(SAFEARRAY(VT_VARIANT, 3, 5))), 3u);
    EXPECT_EQ(CQVariant::GetSafeArraySize(VARIANT(SAFEARRAY(VT_I4, 2, -7))), 2u);
    ExpectInvalidVariantType([] { CQVariant::GetSafeArraySize(VARIANT(4)); }, VT_I4);
    ExpectInvalidVariantType([] { CQVariant::GetSafeArraySize(VARIANT()); }, VT_EMPTY);
}

TEST(CQVariant, OnlyAnArrayOfVtI4BecomesAnIntVector) {
    SAFEARRAY fromOne(VT_I4, 2, 1);
    ASSERT_EQ(fromOne.PutElement(1, VARIANT(7)), S_OK);
    ASSERT_EQ(fromOne.PutElement(2, VARIANT(8)), S_OK);
    EXPECT_EQ(CQVariant::VariantToIntVector(VARIANT(fromOne)), (std::vector<int32_t>{7, 8}));

    const VARIANT strings = CQVariant::StringVectorToVariant({L"1", L"2"});
    ExpectInvalidVariantType([&] { CQVariant::VariantToIntVector(strings); }, VT_ARRAY | VT_BSTR);
    ExpectInvalidVariantType([] { CQVariant::VariantToIntVector(VARIANT(SAFEARRAY(VT_INT, 1))); },
                             VT_ARRAY | VT_INT);
    ExpectInvalidVariantType([] { CQVariant::VariantToIntVector(VARIANT(SAFEARRAY(VT_I2, 1))); },
                             VT_ARRAY | VT_I2);
    ExpectInvalidVariantType(
        [] { CQVariant::VariantToIntVector(VARIANT(SAFEARRAY(VT_VARIANT, 1))); },
        VT_ARRAY | VT_VARIANT);
    ExpectInvalidVariantType([] { CQVariant::VariantToIntVector(VARIANT(5)); }, VT_I4);
}

TEST(CQVariant, ToIntTakesEveryIntegerWidthAndSign) {
    EXPECT_EQ(CQVariant::ToInt(VARIANT(int8_t{-128})), -128);
    EXPECT_EQ(CQVariant::ToInt(VARIANT(uint8_t{255})), 255);
    EXPECT_EQ(CQVariant::ToInt(VARIANT(int16_t{-32768})), -32768);
    EXPECT_EQ(CQVariant::ToInt(VARIANT(uint16_t{65535})), 65535);
    EXPECT_EQ(CQVariant::ToInt(VARIANT(int32_t{-5})), -5);
    EXPECT_EQ(CQVariant::ToInt(VARIANT::Int(-6)), -6);
    EXPECT_EQ(CQVariant::ToInt(VARIANT(uint32_t{4000000000u})), 4000000000);
    EXPECT_EQ(CQVariant::ToInt(VARIANT::UInt(4000000001u)), 4000000001);
    EXPECT_EQ(CQVariant::ToInt(VARIANT(std::numeric_limits<int64_t>::min())),
              std::numeric_limits<int64_t>::min());
    EXPECT_EQ(CQVariant::ToInt(VARIANT(uint64_t{std::numeric_limits<int64_t>::max()})),
              std::numeric_limits<int64_t>::max());
}

TEST(CQVariant, ToIntRefusesWhatIsNoIntegerOrDoesNotFit) {
    ExpectInvalidParameter([] { CQVariant::ToInt(VARIANT(std::numeric_limits<uint64_t>::max())); },
                           VT_UI8);
    ExpectInvalidParameter([] { CQVariant::ToInt(VARIANT(true)); }, VT_BOOL);
    ExpectInvalidParameter([] { CQVariant::ToInt(VARIANT(1.0)); }, VT_R8);
    ExpectInvalidParameter([] { CQVariant::ToInt(VARIANT(L"12")); }, VT_BSTR);
    ExpectInvalidParameter([] { CQVariant::ToInt(VARIANT::Error(5)); }, VT_ERROR);
    ExpectInvalidParameter([] { CQVariant::ToInt(VARIANT()); }, VT_EMPTY);
}

TEST(CQVariant, ToFloatTakesSingleAndDoublePrecisionOnly) {
    EXPECT_EQ(CQVariant::ToFloat(VARIANT(2.5f)), 2.5);
    EXPECT_EQ(CQVariant::ToFloat(VARIANT(-0.125)), -0.125);
    ExpectInvalidParameter([] { CQVariant::ToFloat(VARIANT(3)); }, VT_I4);
    ExpectInvalidParameter([] { CQVariant::ToFloat(VARIANT::Date(1.5)); }, VT_DATE);
}

TEST(CQVariant, TypeTestsTellIntegersFloatsMissingValuesAndObjects) {
    for (const VARIANT& integer :
         {VARIANT(int8_t{1}), VARIANT(int16_t{1}), VARIANT(1), VARIANT::Int(1), VARIANT(uint8_t{1}),
          VARIANT(uint16_t{1}), VARIANT(1u), VARIANT::UInt(1), VARIANT(int64_t{1}),
          VARIANT(uint64_t{1})}) {
        EXPECT_TRUE(CQVariant::IsInteger(integer)) << integer.Vt();
        EXPECT_FALSE(CQVariant::IsFloat(integer)) << integer.Vt();
    }
    for (const VARIANT& other : {VARIANT(true), VARIANT(1.0), VARIANT(L"1"), VARIANT::Null(),
                                 VARIANT(), VARIANT(SAFEARRAY(VT_I4, 1))}) {
        EXPECT_FALSE(CQVariant::IsInteger(other)) << other.Vt();
    }
    EXPECT_TRUE(CQVariant::IsFloat(VARIANT(1.0f)));
    EXPECT_TRUE(CQVariant::IsFloat(VARIANT(1.0)));
    EXPECT_FALSE(CQVariant::IsFloat(VARIANT::Date(1.0)));

    EXPECT_TRUE(CQVariant::IsMissing(VARIANT::Missing()));
    EXPECT_FALSE(CQVariant::IsMissing(VARIANT::Error(DISP_E_TYPEMISMATCH)));
    EXPECT_FALSE(CQVariant::IsMissing(VARIANT(DISP_E_PARAMNOTFOUND)));

    CComPtr<CObject> object;
    ASSERT_EQ(CreateComObject(&object), S_OK);
    EXPECT_TRUE(CQVariant::IsObject(VARIANT(static_cast<IUnknown*>(object.Get()))));
    EXPECT_FALSE(CQVariant::IsObject(VARIANT(static_cast<IUnknown*>(nullptr))));
    EXPECT_FALSE(CQVariant::IsObject(VARIANT(static_cast<IDispatch*>(nullptr))));
    EXPECT_FALSE(CQVariant::IsObject(VARIANT(1)));
}
