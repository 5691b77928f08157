#include "components/vdatastorelib/vdatastore.h"

#include <algorithm>

#include "components/vdatastorelib/vdatastorelib.h"
#include "components/vdatastorelib/vdsfilter.h"
#include "components/vdatastorelib/vdsitemconverter.h"
#include "components/vdatastorelib/vdsschema.h"
#include "components/vdatastorelib/vdstypes.h"
#include "qlib/qcom/comcall.h"
#include "qlib/qsys/textcodec.h"
#include "qlib/qutilitylib/qcatch.h"
#include "qlib/qutilitylib/qfileutilities.h"

namespace {

constexpr const wchar_t* k_datastoresFolder = L"Zelto/Datastores";
constexpr size_t k_maxNameBytes = 255;

[[noreturn]] void RaiseLocation(const std::wstring& location, const std::wstring& reason) {
    CQException error(L"The datastore location is not usable: " + reason + L".",
                      VDSERR_INVALID_LOCATION);
    error.AddValue(L"Location", location);
    throw error;
}

// Calls each(item) for every element of items; an element that is no item raises.
template <class Each>
void ForEachItem(IVEnum* items, Each&& each) {
    const LONG count = ComCall(items, &IVEnum::GetCount);
    for (LONG index = 0; index < count; ++index) {
        const VARIANT element = ComCall(items, &IVEnum::GetItem, VARIANT(index));
        CComPtr<IVItem> item;
        if (CComPtr<IUnknown>(element.Unknown()).QueryInterface(&item) != S_OK) {
            throw CQException(L"An element of the enumeration is not an item.",
                              QERR_INVALID_PARAMETER);
        }
        each(item.Get());
    }
}

}  // namespace

std::wstring CVDataStore::FolderOf(const VARIANT& location) {
    if (location.Vt() != VT_BSTR) {
        RaiseLocation(L"", L"it must be a datastore name or a folder path (text)");
    }
    const std::wstring& text = location.Get<BSTR>();
    if (text.empty()) {
        RaiseLocation(text, L"it is empty");
    }
    if (std::any_of(text.begin(), text.end(), [](wchar_t c) { return c < L' ' || c == 0x7F; })) {
        RaiseLocation(text, L"it holds control characters");
    }
    if (text.find(L'/') != std::wstring::npos) {
        return text;
    }
    if (text == L"." || text == L".." || text.find(L'\\') != std::wstring::npos ||
        qsys::ToUtf8(text).size() > k_maxNameBytes) {
        RaiseLocation(text, L"a datastore name is a plain name of at most 255 bytes");
    }
    const std::wstring dataFolder = CQFileUtilities::SHGetFolder();
    if (dataFolder.empty()) {
        RaiseLocation(text, L"the user's data folder is unknown (set XDG_DATA_HOME or HOME)");
    }
    return CQFileUtilities::ConcatPathname(
        CQFileUtilities::ConcatPathname(dataFolder, k_datastoresFolder), text);
}

HRESULT CVDataStore::Open(const VARIANT& location, const VARIANT& /*reserved1*/,
                          const VARIANT& /*reserved2*/) {
    return CQCatch::Interface(IVDataStore::k_iid, CLSID_VDataStore, [&] { OpenImpl(location); });
}

void CVDataStore::OpenImpl(const VARIANT& location) {
    const std::wstring folder = FolderOf(location);
    std::lock_guard lock(m_lock);
    m_store.reset();
    m_name.clear();
    m_store = std::make_unique<CVDSStore>(folder);
    m_name = location.Get<BSTR>();
}

HRESULT CVDataStore::Close() {
    return CQCatch::Interface(IVDataStore::k_iid, CLSID_VDataStore, [&] {
        std::lock_guard lock(m_lock);
        m_store.reset();
        m_name.clear();
    });
}

CVDSStore& CVDataStore::Store() {
    if (!m_store) {
        throw CQException(L"The datastore is not open.", VDSERR_NOT_OPEN);
    }
    return *m_store;
}

HRESULT CVDataStore::Add(const VARIANT& /*reserved*/, IVItem* item) {
    return CQCatch::Interface(IVDataStore::k_iid, CLSID_VDataStore, [&] { AddImpl(item); });
}

void CVDataStore::AddImpl(IVItem* item) {
    if (item == nullptr) {
        throw CQException(QERR_INVALID_PARAMETER);
    }
    if (ComCall(item, &IVItem::GetGUID).empty()) {
        ComCall(item, &IVItem::SetGUID, BSTR());
    }
    const SVDSItemRecord record = CVDSItemConverter::FromItem(item);
    std::wstring name;
    {
        std::lock_guard lock(m_lock);
        Store().Add(record);
        name = m_name;
    }
    ComCall(item, &IVItem::SetDataStoreName, name);
}

HRESULT CVDataStore::Delete(IVEnum* items) {
    return CQCatch::Interface(IVDataStore::k_iid, CLSID_VDataStore, [&] { DeleteImpl(items); });
}

void CVDataStore::DeleteImpl(IVEnum* items) {
    if (items == nullptr) {
        throw CQException(QERR_INVALID_PARAMETER);
    }
    std::vector<std::wstring> guids;
    ForEachItem(items, [&](IVItem* item) { guids.push_back(ComCall(item, &IVItem::GetGUID)); });
    std::lock_guard lock(m_lock);
    Store().Delete(guids);
}

HRESULT CVDataStore::Query(const VARIANT& /*reserved*/, BSTR className, BSTR filter,
                           IVEnum** result) {
    return CQCatch::Interface(IVDataStore::k_iid, CLSID_VDataStore, [&] {
        if (result == nullptr) {
            return E_POINTER;
        }
        *result = nullptr;
        return QueryImpl(className, filter).CopyTo(result);
    });
}

CComPtr<IVEnum> CVDataStore::QueryImpl(const std::wstring& className, const std::wstring& filter) {
    const std::optional<SVDSFilter> parsed = CVDSFilter::Parse(filter);
    std::vector<SVDSItemRecord> records;
    std::wstring name;
    {
        std::lock_guard lock(m_lock);
        records = Store().Query(className, parsed);
        name = m_name;
    }
    CComPtr<IVEnum> items = CVDSItemConverter::NewEnum();
    for (SVDSItemRecord& record : records) {
        record.dataStoreName = name;
        CComPtr<IVItem> item = CVDSItemConverter::ToItem(std::move(record));
        ComCall(items.Get(), &IVEnum::Append, VARIANT(item), VARIANT::Missing());
    }
    return items;
}

HRESULT CVDataStore::Count(BSTR className, LONG* count) {
    return CQCatch::Interface(IVDataStore::k_iid, CLSID_VDataStore, [&] {
        if (count == nullptr) {
            return E_POINTER;
        }
        std::lock_guard lock(m_lock);
        const int64_t counted = Store().Count(className);
        *count = static_cast<LONG>(std::min<int64_t>(counted, INT32_MAX));
        return S_OK;
    });
}

template <class Facility, class FacilityInterface>
HRESULT CVDataStore::MakeFacility(FacilityInterface** facility) {
    return CQCatch::Interface(IVDataStore::k_iid, CLSID_VDataStore, [&] {
        if (facility == nullptr) {
            return E_POINTER;
        }
        {
            std::lock_guard lock(m_lock);
            Store();
        }
        CComPtr<Facility> created;
        ThrowIfFailed(CreateComObject(&created, CComPtr<CVDataStore>(this)));
        *facility = created.Detach();
        return S_OK;
    });
}

HRESULT CVDataStore::GetSchema(IVDSSchema** schema) {
    return MakeFacility<CVDSSchema>(schema);
}

HRESULT CVDataStore::GetTypes(IVDSTypes** types) {
    return MakeFacility<CVDSTypes>(types);
}

HRESULT CVDataStore::BeginTransaction() {
    return CQCatch::Interface(IVDSTransaction::k_iid, CLSID_VDataStore, [&] {
        std::lock_guard lock(m_lock);
        Store().BeginTransaction();
    });
}

HRESULT CVDataStore::CommitTransaction() {
    return CQCatch::Interface(IVDSTransaction::k_iid, CLSID_VDataStore, [&] {
        std::lock_guard lock(m_lock);
        Store().CommitTransaction();
    });
}

HRESULT CVDataStore::AbortTransaction() {
    return CQCatch::Interface(IVDSTransaction::k_iid, CLSID_VDataStore, [&] {
        std::lock_guard lock(m_lock);
        Store().AbortTransaction();
    });
}

std::wstring CVDataStore::GetSchemaXMLImpl() {
    std::lock_guard lock(m_lock);
    return CVDSSchemaDefinition::ToXML(Store().Schema());
}

void CVDataStore::RegisterSchemaImpl(const VARIANT& schema) {
    SVDSSchema parsed;
    auto take = [&parsed](const std::wstring& text) {
        const size_t start = text.find_first_not_of(L" \t\r\n\uFEFF");
        if (start != std::wstring::npos && text[start] == L'<') {
            SVDSSchema part = CVDSSchemaDefinition::Parse(text);
            parsed.namespaces.insert(parsed.namespaces.end(), part.namespaces.begin(),
                                     part.namespaces.end());
            parsed.types.insert(parsed.types.end(), part.types.begin(), part.types.end());
        } else if (CVDSSchemaDefinition::IsNamespaceUri(text)) {
            parsed.namespaces.push_back(text);
        } else {
            throw CQException(L"The schema is not understood: '" + text.substr(0, 200) +
                                  L"' is neither schema XML nor a namespace URI.",
                              VDSERR_INVALID_SCHEMA);
        }
    };
    if (schema.Vt() == VT_BSTR) {
        take(schema.Get<BSTR>());
    } else if ((schema.Vt() & VT_ARRAY) && schema.Get<SAFEARRAY>().Count() > 0) {
        for (const VARIANT& element : schema.Get<SAFEARRAY>().Elements()) {
            if (element.Vt() != VT_BSTR) {
                throw CQException(L"The schema is not understood: an array element is no text.",
                                  VDSERR_INVALID_SCHEMA);
            }
            take(element.Get<BSTR>());
        }
    } else {
        throw CQException(
            L"The schema is not understood: it must be XML text or a non-empty array of texts.",
            VDSERR_INVALID_SCHEMA);
    }
    std::lock_guard lock(m_lock);
    Store().RegisterSchema(parsed);
}

bool CVDataStore::IsOfTypeImpl(const std::wstring& typeName, IVItem* item) {
    if (item == nullptr) {
        throw CQException(QERR_INVALID_PARAMETER);
    }
    const SVDSItemRecord record = CVDSItemConverter::FromItem(item);
    std::lock_guard lock(m_lock);
    return Store().IsOfType(typeName, record);
}
