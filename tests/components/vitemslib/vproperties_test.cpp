// The property container: kinds and namespaces meet, values of every type come back as they
// were set, and the enumerator reports name, namespace and kind in the order of first setting.

#include "components/vitemslib/vproperties.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "components/vitemslib/vitemslib.h"
#include "qlib/qutilitylib/qcomutilities.h"

namespace {

class PropertiesTest : public testing::Test {
protected:
    void SetUp() override {
        CVItemsLib::RegisterClasses();
        m_item = CQCOMUtils::CreateObject<IVItem>(CLSID_VItem, k_itemDisplayName);
        ASSERT_EQ(m_item->GetProperties(&m_properties), S_OK);
    }

    VARIANT Get(const std::wstring& name, const std::wstring& uri) {
        VARIANT value = 42;
        EXPECT_EQ(m_properties->GetValue(name, uri, &value), S_OK);
        return value;
    }
    bool Has(const std::wstring& name, const std::wstring& uri) {
        VARIANT_BOOL present = VARIANT_FALSE;
        EXPECT_EQ(m_properties->HasValue(name, uri, &present), S_OK);
        return present == VARIANT_TRUE;
    }
    bool HasByName(const std::wstring& name) {
        VARIANT_BOOL present = VARIANT_FALSE;
        EXPECT_EQ(m_properties->HasValueByName(name, &present), S_OK);
        return present == VARIANT_TRUE;
    }

    CComPtr<IVItem> m_item;
    CComPtr<IVProperties> m_properties;
};

// Name, namespace and kind of every property the enumerator hands out.
std::vector<std::tuple<std::wstring, std::wstring, LONG>> Enumerate(IVProperties* properties) {
    CComPtr<IVPropertyEnumerator> enumerator;
    EXPECT_EQ(properties->GetEnumerator(&enumerator), S_OK);
    std::vector<std::tuple<std::wstring, std::wstring, LONG>> seen;
    for (;;) {
        CComPtr<IVProperty> property;
        if (enumerator->Next(&property) != S_OK) {
            EXPECT_FALSE(property);
            return seen;
        }
        BSTR name;
        BSTR uri;
        LONG kind = -1;
        EXPECT_EQ(property->GetName(&name), S_OK);
        EXPECT_EQ(property->GetNamespace(&uri), S_OK);
        EXPECT_EQ(property->GetKind(&kind), S_OK);
        seen.emplace_back(name, uri, kind);
    }
}

}  // namespace

TEST_F(PropertiesTest, APropertySetByKindLivesInTheNamespaceOfThatKind) {
    ASSERT_EQ(m_properties->SetValueByName(L"Type", VARIANT(4), EVPropertyKind_Transcode), S_OK);
    ASSERT_EQ(m_properties->SetValueByName(L"Bitrate", VARIANT(128000), EVPropertyKind_Metadata),
              S_OK);
    ASSERT_EQ(m_properties->SetValueByName(L"TranscodingJobID", VARIANT(7), EVPropertyKind_Store),
              S_OK);

    EXPECT_TRUE(Has(L"Type", k_transcodeNamespace));
    EXPECT_EQ(Get(L"Type", k_transcodeNamespace), VARIANT(4));
    EXPECT_EQ(Get(L"Bitrate", k_metadataNamespace), VARIANT(128000));
    EXPECT_EQ(Get(L"TranscodingJobID", k_storeNamespace), VARIANT(7));
    EXPECT_FALSE(Has(L"Type", L"")) << "not in the empty namespace";
    EXPECT_FALSE(Has(L"Type", k_metadataNamespace));
    EXPECT_EQ(Get(L"Type", k_metadataNamespace).Vt(), VT_EMPTY) << "missing is VT_EMPTY";

    // And the other way round: set with the namespace, read by kind.
    ASSERT_EQ(m_properties->SetValue(L"ItemID", k_transcodeNamespace, VARIANT(9)), S_OK);
    VARIANT value;
    ASSERT_EQ(m_properties->GetValueByName(L"ItemID", EVPropertyKind_Transcode, &value), S_OK);
    EXPECT_EQ(value, VARIANT(9));
    ASSERT_EQ(m_properties->GetValueByName(L"ItemID", EVPropertyKind_Metadata, &value), S_OK);
    EXPECT_EQ(value.Vt(), VT_EMPTY);

    // Setting again by either road replaces the one property.
    ASSERT_EQ(m_properties->SetValue(L"Type", k_transcodeNamespace, VARIANT(6)), S_OK);
    LONG count = 0;
    ASSERT_EQ(m_properties->GetCount(&count), S_OK);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(Get(L"Type", k_transcodeNamespace), VARIANT(6));

    EXPECT_TRUE(HasByName(L"Type")) << "found in any namespace";
    EXPECT_TRUE(HasByName(L"Bitrate"));
    EXPECT_FALSE(HasByName(L"Typ"));
    EXPECT_FALSE(HasByName(L"type")) << "names are compared exactly";
}

TEST_F(PropertiesTest, KindsThatStandForNoNamespaceAndEmptyNamesAreRefused) {
    EXPECT_EQ(m_properties->SetValueByName(L"Plain", VARIANT(1), EVPropertyKind_None), S_OK);
    EXPECT_TRUE(Has(L"Plain", L""));
    EXPECT_EQ(m_properties->SetValueByName(L"Odd", VARIANT(1), 5), E_INVALIDARG);
    VARIANT value;
    EXPECT_EQ(m_properties->GetValueByName(L"Plain", 2, &value), E_INVALIDARG);
    EXPECT_EQ(m_properties->SetValue(L"", k_metadataNamespace, VARIANT(1)), E_INVALIDARG);
    EXPECT_FALSE(HasByName(L"Odd"));

    ASSERT_EQ(m_properties->RemoveValue(L"Plain", L""), S_OK);
    EXPECT_FALSE(Has(L"Plain", L""));
    EXPECT_EQ(m_properties->RemoveValue(L"Plain", L""), S_OK) << "removing a missing one succeeds";
}

TEST_F(PropertiesTest, EveryValueTypeComesBackAsItWasSet) {
    SAFEARRAY numbers(VT_I4, 3, 1);
    ASSERT_EQ(numbers.PutElement(1, VARIANT(10)), S_OK);
    ASSERT_EQ(numbers.PutElement(3, VARIANT(-30)), S_OK);
    SAFEARRAY texts(VT_BSTR, 2);
    ASSERT_EQ(texts.PutElement(0, VARIANT(L"a & b")), S_OK);
    SAFEARRAY mixed(VT_VARIANT, 3);
    ASSERT_EQ(mixed.PutElement(0, VARIANT(2.5)), S_OK);
    ASSERT_EQ(mixed.PutElement(1, VARIANT(L"x")), S_OK);
    ASSERT_EQ(mixed.PutElement(2, VARIANT(m_item)), S_OK);

    const std::vector<VARIANT> values = {
        VARIANT(),
        VARIANT::Null(),
        VARIANT(int8_t{-8}),
        VARIANT(uint8_t{200}),
        VARIANT(int16_t{-1}),
        VARIANT(uint16_t{65535}),
        VARIANT(int32_t{-2147483647 - 1}),
        VARIANT(uint32_t{4294967295u}),
        VARIANT(int64_t{-9000000000000000000}),
        VARIANT(uint64_t{18000000000000000000u}),
        VARIANT::Int(-5),
        VARIANT::UInt(5),
        VARIANT(1.5f),
        VARIANT(-2.25e300),
        VARIANT::Date(45000.75),
        VARIANT(true),
        VARIANT(false),
        VARIANT(L""),
        VARIANT(L"C:\\Music\\\"x\" <&>\n\xE9\x4E2D"),
        VARIANT::Error(DISP_E_PARAMNOTFOUND),
        VARIANT(m_item),
        VARIANT(static_cast<IUnknown*>(m_item.Get())),
        VARIANT(static_cast<IDispatch*>(nullptr)),
        VARIANT(numbers),
        VARIANT(texts),
        VARIANT(mixed),
        VARIANT(SAFEARRAY(VT_R8)),
    };
    for (size_t index = 0; index < values.size(); ++index) {
        const std::wstring name = L"P" + std::to_wstring(index);
        ASSERT_EQ(m_properties->SetValue(name, k_metadataNamespace, values[index]), S_OK);
    }
    for (size_t index = 0; index < values.size(); ++index) {
        const std::wstring name = L"P" + std::to_wstring(index);
        const VARIANT value = Get(name, k_metadataNamespace);
        EXPECT_EQ(value.Vt(), values[index].Vt()) << index;
        EXPECT_EQ(value, values[index]) << index;
    }
    // Arrays are kept as copies: changing the caller's array afterwards changes nothing.
    ASSERT_EQ(numbers.PutElement(2, VARIANT(99)), S_OK);
    VARIANT kept;
    ASSERT_EQ(Get(L"P23", k_metadataNamespace).Get<SAFEARRAY>().GetElement(2, &kept), S_OK);
    EXPECT_EQ(kept, VARIANT(0));
    // The item holds itself through two properties: break the cycle so it can go.
    for (const wchar_t* name : {L"P20", L"P21", L"P25"}) {
        ASSERT_EQ(m_properties->RemoveValue(name, k_metadataNamespace), S_OK);
    }
}

TEST_F(PropertiesTest, TheEnumeratorReportsNameNamespaceAndKindInTheOrderOfFirstSetting) {
    ASSERT_EQ(m_properties->SetValueByName(L"Type", VARIANT(1), EVPropertyKind_Transcode), S_OK);
    ASSERT_EQ(m_properties->SetValue(L"Local", L"", VARIANT(2)), S_OK);
    ASSERT_EQ(m_properties->SetValue(L"GUID", k_datastoreNamespace, VARIANT(3)), S_OK);
    ASSERT_EQ(m_properties->SetValue(L"Other", L"urn:other", VARIANT(4)), S_OK);
    ASSERT_EQ(m_properties->SetValueByName(L"URI", VARIANT(L"/a"), EVPropertyKind_Metadata), S_OK);
    ASSERT_EQ(
        m_properties->SetValueByName(L"TranscodeToPath", VARIANT(L"/b"), EVPropertyKind_Store),
        S_OK);
    ASSERT_EQ(m_properties->SetValue(L"Type", k_transcodeNamespace, VARIANT(5)), S_OK);
    ASSERT_EQ(m_properties->SetValue(L"Type", k_metadataNamespace, VARIANT(6)), S_OK);

    CComPtr<IVPropertyEnumerator> before;
    ASSERT_EQ(m_properties->GetEnumerator(&before), S_OK);

    using Row = std::tuple<std::wstring, std::wstring, LONG>;
    const std::vector<Row> expected = {
        {L"Type", k_transcodeNamespace, 33}, {L"Local", L"", 0},
        {L"GUID", k_datastoreNamespace, 0},  {L"Other", L"urn:other", 0},
        {L"URI", k_metadataNamespace, 1},    {L"TranscodeToPath", k_storeNamespace, 14},
        {L"Type", k_metadataNamespace, 1},
    };
    EXPECT_EQ(Enumerate(m_properties), expected);

    // An enumerator walks the properties of the moment it was made, and starts again on Reset.
    ASSERT_EQ(m_properties->RemoveValue(L"Local", L""), S_OK);
    size_t walked = 0;
    for (int round = 0; round < 2; ++round) {
        CComPtr<IVProperty> property;
        while (before->Next(&property) == S_OK) {
            ++walked;
        }
        ASSERT_EQ(before->Reset(), S_OK);
    }
    EXPECT_EQ(walked, 2 * expected.size());
    EXPECT_EQ(Enumerate(m_properties).size(), expected.size() - 1);
}

TEST_F(PropertiesTest, ManyPropertiesAreFoundReplacedAndRemovedAsAFewAre) {
    // Enough properties to be looked up through the index; each name in two namespaces.
    constexpr int k_names = 150;
    auto name = [](int index) { return L"N" + std::to_wstring(index); };
    for (int index = 0; index < k_names; ++index) {
        ASSERT_EQ(m_properties->SetValue(name(index), L"", VARIANT(index)), S_OK);
        ASSERT_EQ(
            m_properties->SetValueByName(name(index), VARIANT(-index), EVPropertyKind_Metadata),
            S_OK);
    }
    ASSERT_EQ(m_properties->SetValue(name(7), k_metadataNamespace, VARIANT(L"again")), S_OK);
    LONG count = 0;
    ASSERT_EQ(m_properties->GetCount(&count), S_OK);
    EXPECT_EQ(count, 2 * k_names) << "replacing adds nothing";
    EXPECT_EQ(Get(name(7), k_metadataNamespace), VARIANT(L"again"));
    EXPECT_EQ(Get(name(149), L""), VARIANT(149));
    EXPECT_EQ(Get(name(149), k_transcodeNamespace).Vt(), VT_EMPTY);

    // Removing shifts the later ones; each is still found, and one set again goes last.
    for (int index = 0; index < k_names; index += 2) {
        ASSERT_EQ(m_properties->RemoveValue(name(index), L""), S_OK);
    }
    ASSERT_EQ(m_properties->SetValue(name(0), L"", VARIANT(1000)), S_OK);
    for (int index = 1; index < k_names; index += 2) {
        EXPECT_EQ(Get(name(index), L""), VARIANT(index)) << index;
        EXPECT_FALSE(Has(name(index + 1), L"")) << index + 1;
    }
    EXPECT_EQ(Get(name(0), L""), VARIANT(1000));
    EXPECT_TRUE(HasByName(name(2))) << "still there in the metadata namespace";
    const auto seen = Enumerate(m_properties);
    ASSERT_EQ(seen.size(), static_cast<size_t>(2 * k_names - k_names / 2 + 1));
    EXPECT_EQ(seen.front(), std::make_tuple(name(0), std::wstring(k_metadataNamespace), LONG{1}));
    EXPECT_EQ(seen.back(), std::make_tuple(name(0), std::wstring(), LONG{0}));

    // Back down to a few: found by the plain search again.
    for (const auto& [propertyName, uri, kind] : seen) {
        if (propertyName != name(5) && propertyName != name(6)) {
            ASSERT_EQ(m_properties->RemoveValue(propertyName, uri), S_OK);
        }
    }
    ASSERT_EQ(m_properties->GetCount(&count), S_OK);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(Get(name(5), L""), VARIANT(5));
    EXPECT_EQ(Get(name(6), k_metadataNamespace), VARIANT(-6));
    EXPECT_FALSE(HasByName(name(7)));
}
