// Items: creation by class id (directly and through the cached factory), the GUID and
// datastore setters, filling a new item at once, deep copies that survive cycles, the readable
// dump, and use from several threads at once.

#include "components/vitemslib/vitem.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "components/vitemslib/vitemcopier.h"
#include "components/vitemslib/vitemslib.h"
#include "components/vitemslib/vitemtext.h"
#include "qlib/qcom/comclasstable.h"
#include "qlib/qcom/comdispatchdriver.h"
#include "qlib/qutilitylib/qcomclassfactory.h"
#include "qlib/qutilitylib/qcomutilities.h"

namespace {

class ItemTest : public testing::Test {
protected:
    void SetUp() override { CVItemsLib::RegisterClasses(); }

    CComPtr<IVItem> NewItem(const std::wstring& className = L"Item") {
        CComPtr<IVItem> item = m_items.CreateObject<IVItem>();
        EXPECT_EQ(item->SetClassName(className), S_OK);
        return item;
    }

    CQCOMClassFactory m_items{CLSID_VItem, k_itemDisplayName};
};

CComPtr<IVProperties> PropertiesOf(IVItem* item) {
    CComPtr<IVProperties> properties;
    EXPECT_EQ(item->GetProperties(&properties), S_OK);
    return properties;
}

VARIANT ValueOf(IVItem* item, const std::wstring& name) {
    VARIANT value;
    EXPECT_EQ(PropertiesOf(item)->GetValue(name, k_metadataNamespace, &value), S_OK);
    return value;
}

void Set(IVItem* item, const std::wstring& name, const VARIANT& value) {
    EXPECT_EQ(PropertiesOf(item)->SetValue(name, k_metadataNamespace, value), S_OK);
}

CComPtr<IVItem> ItemIn(const VARIANT& value) {
    CComPtr<IVItem> item;
    EXPECT_EQ(CComPtr<IUnknown>(value.Unknown()).QueryInterface(&item), S_OK);
    return item;
}

std::wstring GuidOf(IVItem* item) {
    BSTR guid;
    EXPECT_EQ(item->GetGUID(&guid), S_OK);
    return guid;
}

CComPtr<IVItem> CopyOf(IVItem* item) {
    CComPtr<IVItem> copy;
    EXPECT_EQ(item->Copy(VARIANT::Missing(), &copy), S_OK);
    return copy;
}

std::wstring TextOf(IVItem* item) {
    BSTR text;
    EXPECT_EQ(item->GetText(VARIANT::Missing(), &text), S_OK);
    return text;
}

}  // namespace

TEST_F(ItemTest, ItemsAndEnumerationsAreMadeByClassIdThroughEitherFactory) {
    const CComPtr<IVItem> direct = CQCOMUtils::CreateObject<IVItem>(CLSID_VItem, k_itemDisplayName);
    const CComPtr<IVItem> cached = NewItem();
    const CComPtr<IVEnum> items = CQCOMUtils::CreateObject<IVEnum>(CLSID_VEnum, k_enumDisplayName);
    const CComPtr<IVEnum> cachedItems =
        CQCOMClassFactory(CLSID_VEnum, k_enumDisplayName).CreateObject<IVEnum>();
    ASSERT_TRUE(direct && cached && items && cachedItems);

    std::wstring name;
    ASSERT_EQ(CComClassTable::Instance().GetDisplayName(CLSID_VItem, &name), S_OK);
    EXPECT_EQ(name, L"VItemsLib::VItem");
    ASSERT_EQ(CComClassTable::Instance().GetDisplayName(CLSID_VEnum, &name), S_OK);
    EXPECT_EQ(name, L"VItemsLib::VEnum");

    BSTR className;
    ASSERT_EQ(direct->GetClassName(&className), S_OK);
    EXPECT_EQ(className, L"Item");
    EXPECT_NE(GuidOf(direct), GuidOf(cached)) << "every item starts with a GUID of its own";
    EXPECT_TRUE(GuidFromString(GuidOf(direct)).has_value());

    // Late-bound callers reach the same operations by name.
    CComDispatchDriver driver(CComPtr<IDispatch>(direct.Get()));
    driver.Call(L"SetClassName", L"Video");
    EXPECT_EQ(driver.Call(L"GetClassName"), VARIANT(L"Video"));
    EXPECT_EQ(driver.Call(L"GetText").Vt(), VT_BSTR);
    VARIANT copy = driver.Call(L"Copy");
    EXPECT_EQ(GuidOf(ItemIn(copy)), GuidOf(direct));
}

TEST_F(ItemTest, TheGuidAndDatastoreSettersTreatAnEmptyStringAsFreshAndDetached) {
    const CComPtr<IVItem> item = NewItem();
    ASSERT_EQ(item->SetGUID(L"{5a6b7c8d-0001-4000-8000-0000000c0de5}"), S_OK);
    EXPECT_EQ(GuidOf(item), L"{5A6B7C8D-0001-4000-8000-0000000C0DE5}") << "kept in registry form";
    ASSERT_EQ(item->SetGUID(L""), S_OK);
    const std::wstring fresh = GuidOf(item);
    EXPECT_NE(fresh, L"{5A6B7C8D-0001-4000-8000-0000000C0DE5}");
    EXPECT_TRUE(GuidFromString(fresh).has_value());
    EXPECT_EQ(item->SetGUID(L"x\" OR 1=1"), E_INVALIDARG);
    EXPECT_EQ(GuidOf(item), fresh) << "a refused GUID changes nothing";

    BSTR store;
    ASSERT_EQ(item->GetDataStoreName(&store), S_OK);
    EXPECT_EQ(store, L"");
    ASSERT_EQ(item->SetDataStoreName(L"Library"), S_OK);
    ASSERT_EQ(item->GetDataStoreName(&store), S_OK);
    EXPECT_EQ(store, L"Library");
    ASSERT_EQ(item->SetDataStoreName(L""), S_OK);
    ASSERT_EQ(item->GetDataStoreName(&store), S_OK);
    EXPECT_EQ(store, L"");
}

TEST_F(ItemTest, FillSetsANewItemAsTheSettersWouldOrChangesNothing) {
    const CComPtr<IVItem> item = NewItem();
    CComPtr<IVItemFill> fill;
    ASSERT_EQ(item.QueryInterface(&fill), S_OK);
    auto properties = [] {
        std::vector<SVProperty> made;
        made.push_back({L"URI", k_metadataNamespace, EVPropertyKind_None, VARIANT(L"/a.mp4")});
        made.push_back({L"Local", L"", EVPropertyKind_Metadata, VARIANT(1)});
        made.push_back({L"URI", L"", EVPropertyKind_None, VARIANT(2)});
        made.push_back({L"URI", k_metadataNamespace, EVPropertyKind_None, VARIANT(L"/b.mp4")});
        return made;
    };

    // Refused: a GUID that is not one, or a property without a name.
    EXPECT_EQ(fill->Fill(L"{not-a-guid}", L"Video", L"Library", properties()), E_INVALIDARG);
    std::vector<SVProperty> unnamed = properties();
    unnamed.push_back({L"", L"", EVPropertyKind_None, VARIANT(3)});
    EXPECT_EQ(fill->Fill(L"{5a6b7c8d-0001-4000-8000-0000000c0de5}", L"Video", L"Library",
                         std::move(unnamed)),
              E_INVALIDARG);
    LONG count = -1;
    ASSERT_EQ(PropertiesOf(item)->GetCount(&count), S_OK);
    EXPECT_EQ(count, 0);
    BSTR text;
    ASSERT_EQ(item->GetClassName(&text), S_OK);
    EXPECT_EQ(text, L"Item") << "a refused fill changes nothing";

    ASSERT_EQ(
        fill->Fill(L"{5a6b7c8d-0001-4000-8000-0000000c0de5}", L"Video", L"Library", properties()),
        S_OK);
    EXPECT_EQ(GuidOf(item), L"{5A6B7C8D-0001-4000-8000-0000000C0DE5}");
    ASSERT_EQ(item->GetClassName(&text), S_OK);
    EXPECT_EQ(text, L"Video");
    ASSERT_EQ(item->GetDataStoreName(&text), S_OK);
    EXPECT_EQ(text, L"Library");
    // Kinds follow the namespaces, and the later "URI" of the metadata namespace replaced the
    // value of the first without moving it.
    const std::vector<SVProperty> kept =
        static_cast<CVProperties*>(PropertiesOf(item).Get())->Snapshot();
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept[0].uri, k_metadataNamespace);
    EXPECT_EQ(kept[0].kind, EVPropertyKind_Metadata);
    EXPECT_EQ(kept[0].value, VARIANT(L"/b.mp4"));
    EXPECT_EQ(kept[1].name, L"Local");
    EXPECT_EQ(kept[1].kind, EVPropertyKind_None);
    EXPECT_EQ(kept[2].value, VARIANT(2));

    // Filling again sets the properties as SetValue would: replaced in place, new ones last.
    std::vector<SVProperty> more;
    more.push_back({L"New", L"", EVPropertyKind_None, VARIANT(4)});
    more.push_back({L"Local", L"", EVPropertyKind_None, VARIANT(5)});
    ASSERT_EQ(fill->Fill(L"", L"Video", L"", std::move(more)), S_OK);
    const std::vector<SVProperty> merged =
        static_cast<CVProperties*>(PropertiesOf(item).Get())->Snapshot();
    ASSERT_EQ(merged.size(), 4u);
    EXPECT_EQ(merged[1].value, VARIANT(5));
    EXPECT_EQ(merged[3].name, L"New");

    EXPECT_NE(GuidOf(item), L"{5A6B7C8D-0001-4000-8000-0000000C0DE5}") << "an empty GUID: fresh";

    // A new item takes distinct properties over as they stand, kinds still from the namespaces.
    const CComPtr<IVItem> other = NewItem();
    ASSERT_EQ(other.QueryInterface(&fill), S_OK);
    std::vector<SVProperty> distinct = properties();
    distinct.pop_back();
    ASSERT_EQ(fill->Fill(L"", L"Video", L"", std::move(distinct)), S_OK);
    const std::vector<SVProperty> taken =
        static_cast<CVProperties*>(PropertiesOf(other).Get())->Snapshot();
    ASSERT_EQ(taken.size(), 3u);
    EXPECT_EQ(taken[0].kind, EVPropertyKind_Metadata);
    EXPECT_EQ(taken[1].kind, EVPropertyKind_None);
    EXPECT_EQ(ValueOf(other, L"URI"), VARIANT(L"/a.mp4"));
}

TEST_F(ItemTest, CopyKeepsTheGuidAndSharesNothingThatCanChange) {
    const CComPtr<IVItem> child = NewItem(L"File");
    Set(child, L"URI", L"/music/a.mp3");
    const CComPtr<IVItem> original = NewItem(L"Video");
    ASSERT_EQ(original->SetDataStoreName(L"Library"), S_OK);
    Set(original, L"Width", 640);
    Set(original, L"Child", VARIANT(child));
    SAFEARRAY children(VT_DISPATCH, 1);
    ASSERT_EQ(children.PutElement(0, VARIANT(child)), S_OK);
    Set(original, L"Children", VARIANT(children));
    const CComPtr<IVEnum> list = CQCOMUtils::CreateObject<IVEnum>(CLSID_VEnum);
    ASSERT_EQ(list->Append(VARIANT(child), VARIANT::Missing()), S_OK);
    Set(original, L"List", VARIANT(list));
    ASSERT_EQ(PropertiesOf(original)->SetValueByName(L"Type", 4, EVPropertyKind_Transcode), S_OK);

    const CComPtr<IVItem> copy = CopyOf(original);
    EXPECT_EQ(GuidOf(copy), GuidOf(original));
    BSTR text;
    ASSERT_EQ(copy->GetClassName(&text), S_OK);
    EXPECT_EQ(text, L"Video");
    ASSERT_EQ(copy->GetDataStoreName(&text), S_OK);
    EXPECT_EQ(text, L"Library");
    VARIANT type;
    ASSERT_EQ(PropertiesOf(copy)->GetValue(L"Type", k_transcodeNamespace, &type), S_OK);
    EXPECT_EQ(type, VARIANT(4));

    // The nested item was copied once, and every reference to it in the copy is that copy.
    const CComPtr<IVItem> copiedChild = ItemIn(ValueOf(copy, L"Child"));
    EXPECT_NE(copiedChild.Get(), child.Get());
    EXPECT_EQ(GuidOf(copiedChild), GuidOf(child));
    VARIANT element;
    ASSERT_EQ(ValueOf(copy, L"Children").Get<SAFEARRAY>().GetElement(0, &element), S_OK);
    EXPECT_EQ(ItemIn(element).Get(), copiedChild.Get());
    CComPtr<IVEnum> copiedList;
    ASSERT_EQ(CComPtr<IUnknown>(ValueOf(copy, L"List").Unknown()).QueryInterface(&copiedList),
              S_OK);
    EXPECT_NE(copiedList.Get(), list.Get());
    ASSERT_EQ(copiedList->GetItem(VARIANT(0), &element), S_OK);
    EXPECT_EQ(ItemIn(element).Get(), copiedChild.Get());

    // Changing the original afterwards leaves the copy as it was, at every level.
    Set(original, L"Width", 320);
    Set(child, L"URI", L"/music/b.mp3");
    ASSERT_EQ(original->SetGUID(L""), S_OK);
    EXPECT_EQ(ValueOf(copy, L"Width"), VARIANT(640));
    EXPECT_EQ(ValueOf(copiedChild, L"URI"), VARIANT(L"/music/a.mp3"));
    EXPECT_NE(GuidOf(copy), GuidOf(original));
}

TEST_F(ItemTest, ACycleOfItemsIsCopiedAsACycleAndDumpedOnce) {
    const CComPtr<IVItem> first = NewItem(L"Video");
    const CComPtr<IVItem> second = NewItem(L"Audio");
    Set(first, L"Next", VARIANT(second));
    Set(second, L"Next", VARIANT(first));
    Set(first, L"Self", VARIANT(first));

    const CComPtr<IVItem> copy = CopyOf(first);
    const CComPtr<IVItem> copiedSecond = ItemIn(ValueOf(copy, L"Next"));
    EXPECT_EQ(ItemIn(ValueOf(copiedSecond, L"Next")).Get(), copy.Get());
    EXPECT_EQ(ItemIn(ValueOf(copy, L"Self")).Get(), copy.Get());

    const std::wstring text = TextOf(first);
    EXPECT_NE(text.find(L"(shown above)"), std::wstring::npos) << text;
    EXPECT_LT(text.size(), 2000u) << text;

    // Break the cycles so that every item can go.
    for (IVItem* item : {first.Get(), second.Get(), copy.Get(), copiedSecond.Get()}) {
        ASSERT_EQ(PropertiesOf(item)->RemoveValue(L"Next", k_metadataNamespace), S_OK);
        ASSERT_EQ(PropertiesOf(item)->RemoveValue(L"Self", k_metadataNamespace), S_OK);
    }
}

TEST_F(ItemTest, NestingBeyondTheLimitIsRefusedByCopyAndCutShortByTheDump) {
    CComPtr<IVItem> outer = NewItem();
    for (int level = 0; level < CVItemCopier::k_maxDepth + 5; ++level) {
        CComPtr<IVItem> next = NewItem();
        Set(next, L"Inner", VARIANT(outer));
        outer = next;
    }
    CComPtr<IVItem> copy;
    EXPECT_TRUE(FAILED(outer->Copy(VARIANT::Missing(), &copy)));
    EXPECT_FALSE(copy);
    const std::wstring text = TextOf(outer);
    EXPECT_NE(text.find(L"(nested too deeply to show)"), std::wstring::npos);
}

TEST_F(ItemTest, TheDumpShowsNestedItemsIndentedAndStaysBounded) {
    const CComPtr<IVItem> child = NewItem(L"File");
    Set(child, L"URI", L"/music/\"a\"\n.mp3");
    const CComPtr<IVItem> item = NewItem(L"Video");
    ASSERT_EQ(item->SetDataStoreName(L"Library"), S_OK);
    ASSERT_EQ(PropertiesOf(item)->SetValueByName(L"Type", 4, EVPropertyKind_Transcode), S_OK);
    Set(item, L"Source", VARIANT(child));

    const std::wstring text = TextOf(item);
    EXPECT_EQ(text, L"Item \"Video\" " + GuidOf(item) +
                        L" datastore \"Library\"\n"
                        L"  Type [http://www.zelto.com/Ve2e/ns/transcode] = 4 (VT_I4)\n"
                        L"  Source [http://www.zelto.com/VdE] = Item \"File\" " +
                        GuidOf(child) +
                        L"\n"
                        L"    URI [http://www.zelto.com/VdE] = \"/music/\\\"a\\\"\\n.mp3\" "
                        L"(VT_BSTR)");

    Set(item, L"Huge", std::wstring(1'000'000, L'x'));
    const std::wstring cut = TextOf(item);
    EXPECT_LE(cut.size(), CVItemText::k_maxLength + 20);
    EXPECT_TRUE(cut.ends_with(L"... (cut)"));
}

TEST_F(ItemTest, ItemsAreSafeToUseFromSeveralThreadsAtOnce) {
    const CComPtr<IVItem> item = NewItem();
    const CComPtr<IVItem> child = NewItem();
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 4; ++thread) {
        threads.emplace_back([&, thread] {
            for (int round = 0; round < 200; ++round) {
                const std::wstring name = L"P" + std::to_wstring((thread * 7 + round) % 13);
                Set(item, name, round);
                Set(item, L"Child", VARIANT(child));
                Set(child, name, round);
                ValueOf(item, name);
                EXPECT_EQ(PropertiesOf(item)->RemoveValue(name, k_metadataNamespace), S_OK);
                EXPECT_EQ(item->SetGUID(L""), S_OK);
                CopyOf(item);
                TextOf(item);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    LONG count = 0;
    ASSERT_EQ(PropertiesOf(item)->GetCount(&count), S_OK);
    EXPECT_GE(count, 1);
}
