#include "tests/components/vdatastorelib/vdstestsupport.h"

#include "components/vdatastorelib/vdatastorelib.h"
#include "components/vdatastorelib/vdsvaluecodec.h"
#include "components/vitemslib/vitemslib.h"
#include "qlib/qcom/comcall.h"
#include "qlib/qutilitylib/qcomutilities.h"

namespace vdatastorelib::test {

DataStoreTest::DataStoreTest() {
    CVItemsLib::RegisterClasses();
    CVDataStoreLib::RegisterClasses();
}

CComPtr<IVDataStore> OpenStore(const std::wstring& location) {
    CComPtr<IVDataStore> store =
        CQCOMUtils::CreateObject<IVDataStore>(CLSID_VDataStore, k_dataStoreDisplayName);
    ComCall(store.Get(), &IVDataStore::Open, VARIANT(location.c_str()), VARIANT::Missing(),
            VARIANT::Missing());
    return store;
}

CComPtr<IVItem> NewItem(const std::wstring& className) {
    CComPtr<IVItem> item = CQCOMUtils::CreateObject<IVItem>(CLSID_VItem, k_itemDisplayName);
    ComCall(item.Get(), &IVItem::SetClassName, className);
    return item;
}

void SetText(IVItem* item, const std::wstring& name, const std::wstring& value) {
    CComPtr<IVProperties> properties = ComCall(item, &IVItem::GetProperties);
    ComCall(properties.Get(), &IVProperties::SetValue, name, BSTR(), VARIANT(value.c_str()));
}

std::vector<CComPtr<IVItem>> QueryItems(IVDataStore* store, const std::wstring& className,
                                        const std::wstring& filter) {
    CComPtr<IVEnum> found =
        ComCall(store, &IVDataStore::Query, VARIANT::Missing(), className, filter);
    std::vector<CComPtr<IVItem>> items;
    const LONG count = ComCall(found.Get(), &IVEnum::GetCount);
    for (LONG index = 0; index < count; ++index) {
        const VARIANT element = ComCall(found.Get(), &IVEnum::GetItem, VARIANT(index));
        CComPtr<IVItem> item;
        ThrowIfFailed(CComPtr<IUnknown>(element.Unknown()).QueryInterface(&item));
        items.push_back(item);
    }
    return items;
}

std::string Describe(IVItem* item) {
    return CVDSValueCodec::Encode(VARIANT(static_cast<IDispatch*>(item)));
}

std::optional<CQException> ComRaised(const std::function<void()>& body) {
    try {
        body();
    } catch (const _com_error& error) {
        return CQException::FromComError(error);
    } catch (const CQException& error) {
        return error;
    }
    return std::nullopt;
}

}  // namespace vdatastorelib::test
