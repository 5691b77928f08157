// Enumerations of items: order, indexes of every numeric type, and refusals that never crash.

#include "components/vitemslib/venum.h"

#include <gtest/gtest.h>

#include "components/vitemslib/vitemslib.h"
#include "qlib/qutilitylib/qcomutilities.h"

namespace {

class EnumTest : public testing::Test {
protected:
    void SetUp() override {
        CVItemsLib::RegisterClasses();
        m_items = CQCOMUtils::CreateObject<IVEnum>(CLSID_VEnum, k_enumDisplayName);
        for (int index = 0; index < 3; ++index) {
            m_appended.push_back(CQCOMUtils::CreateObject<IVItem>(CLSID_VItem));
            ASSERT_EQ(m_items->Append(VARIANT(m_appended.back()), VARIANT::Missing()), S_OK);
        }
    }

    // The item at `index`, or null with the failure in *hr.
    IUnknown* At(const VARIANT& index, HRESULT* hr) {
        m_found = VARIANT(L"untouched");
        *hr = m_items->GetItem(index, &m_found);
        return SUCCEEDED(*hr) ? m_found.Unknown() : nullptr;
    }

    CComPtr<IVEnum> m_items;
    std::vector<CComPtr<IVItem>> m_appended;
    VARIANT m_found;
};

IUnknown* Identity(IUnknown* object) {
    CComPtr<IUnknown> identity;
    EXPECT_EQ(object->QueryInterface(IID_IUnknown, identity.Put()), S_OK);
    return identity.Get();
}

}  // namespace

TEST_F(EnumTest, ItemsComeBackInOrderByAnIndexOfAnyNumericType) {
    LONG count = 0;
    ASSERT_EQ(m_items->GetCount(&count), S_OK);
    EXPECT_EQ(count, 3);
    HRESULT hr = S_OK;
    for (const VARIANT& index :
         {VARIANT(int32_t{1}), VARIANT(int16_t{1}), VARIANT(int8_t{1}), VARIANT(uint8_t{1}),
          VARIANT(uint16_t{1}), VARIANT(uint32_t{1}), VARIANT(int64_t{1}), VARIANT(uint64_t{1}),
          VARIANT::Int(1), VARIANT::UInt(1), VARIANT(1.0), VARIANT(1.0f)}) {
        IUnknown* found = At(index, &hr);
        ASSERT_EQ(hr, S_OK) << index.Vt();
        EXPECT_EQ(m_found.Vt(), VT_DISPATCH);
        EXPECT_EQ(Identity(found), Identity(m_appended[1])) << index.Vt();
    }
    EXPECT_EQ(Identity(At(VARIANT(0), &hr)), Identity(m_appended[0]));
    EXPECT_EQ(Identity(At(VARIANT(2), &hr)), Identity(m_appended[2]));
}

TEST_F(EnumTest, AnIndexOutOfRangeOrOfAnotherTypeIsRefused) {
    HRESULT hr = S_OK;
    for (const VARIANT& index : {VARIANT(3), VARIANT(-1), VARIANT(int16_t{-32768}),
                                 VARIANT(int64_t{1} << 40), VARIANT(uint64_t{~0ull}),
                                 VARIANT(uint32_t{4294967295u}), VARIANT(1e300), VARIANT(-0.9)}) {
        EXPECT_EQ(At(index, &hr), nullptr);
        EXPECT_EQ(hr, DISP_E_BADINDEX) << index.Vt();
    }
    for (const VARIANT& index : {VARIANT(), VARIANT::Null(), VARIANT(L"1"), VARIANT::Missing(),
                                 VARIANT(true), VARIANT(m_appended[0])}) {
        EXPECT_EQ(At(index, &hr), nullptr);
        EXPECT_EQ(hr, DISP_E_TYPEMISMATCH) << index.Vt();
    }
    EXPECT_EQ(m_items->GetItem(VARIANT(0), nullptr), E_POINTER);

    const CComPtr<IVEnum> empty = CQCOMUtils::CreateObject<IVEnum>(CLSID_VEnum);
    VARIANT item;
    EXPECT_EQ(empty->GetItem(VARIANT(0), &item), DISP_E_BADINDEX);
}

TEST_F(EnumTest, OnlyItemsCanBeAppended) {
    for (const VARIANT& value : {VARIANT(), VARIANT(5), VARIANT(L"item"),
                                 VARIANT(static_cast<IDispatch*>(nullptr)), VARIANT(m_items)}) {
        EXPECT_EQ(m_items->Append(value, VARIANT::Missing()), DISP_E_TYPEMISMATCH) << value.Vt();
    }
    ASSERT_EQ(
        m_items->Append(VARIANT(static_cast<IUnknown*>(m_appended[0].Get())), VARIANT::Missing()),
        S_OK);
    LONG count = 0;
    ASSERT_EQ(m_items->GetCount(&count), S_OK);
    EXPECT_EQ(count, 4);
}
