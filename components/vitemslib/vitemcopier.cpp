#include "components/vitemslib/vitemcopier.h"

#include "components/vitemslib/venum.h"
#include "components/vitemslib/vitem.h"
#include "components/vitemslib/vitemwalk.h"
#include "qlib/qutilitylib/qexception.h"

namespace {

bool HoldsObjects(VARTYPE elementVt) {
    return elementVt == VT_DISPATCH || elementVt == VT_UNKNOWN || elementVt == VT_VARIANT;
}

// `copy` in a VARIANT of the same object type as `original`.
VARIANT ObjectValueLike(const VARIANT& original, IUnknown* copy) {
    if (original.Vt() == VT_UNKNOWN) {
        return VARIANT(copy);
    }
    CComPtr<IDispatch> dispatch;
    ThrowIfFailed(copy->QueryInterface(IID_IDispatch, dispatch.Put()));
    return VARIANT(dispatch.Get());
}

}  // namespace

CComPtr<IVItem> CVItemCopier::CopyItem(IVItem* source) {
    return CopyItem(source, 0);
}

CComPtr<IVItem> CVItemCopier::CopyItem(IVItem* source, int depth) {
    CheckDepth(depth);
    const CComPtr<IUnknown> identity = IdentityOf(source);
    CComPtr<IVItem> copy;
    if (const CComPtr<IUnknown> known = FindCopy(identity)) {
        ThrowIfFailed(known.QueryInterface(&copy));
        return copy;
    }
    CComPtr<CVItem> created;
    ThrowIfFailed(CreateComObject(&created));
    copy = created;
    m_copies.emplace(identity.Get(), SCopy{identity, CComPtr<IUnknown>(created->GetUnknown())});

    BSTR text;
    ThrowIfFailed(source->GetClassName(&text));
    ThrowIfFailed(copy->SetClassName(text));
    ThrowIfFailed(source->GetGUID(&text));
    ThrowIfFailed(copy->SetGUID(text));
    ThrowIfFailed(source->GetDataStoreName(&text));
    ThrowIfFailed(copy->SetDataStoreName(text));
    CopyProperties(source, copy, depth);
    return copy;
}

CComPtr<IVEnum> CVItemCopier::CopyEnum(IVEnum* source, int depth) {
    CheckDepth(depth);
    const CComPtr<IUnknown> identity = IdentityOf(source);
    CComPtr<IVEnum> copy;
    if (const CComPtr<IUnknown> known = FindCopy(identity)) {
        ThrowIfFailed(known.QueryInterface(&copy));
        return copy;
    }
    CComPtr<CVEnum> created;
    ThrowIfFailed(CreateComObject(&created));
    copy = created;
    m_copies.emplace(identity.Get(), SCopy{identity, CComPtr<IUnknown>(created->GetUnknown())});

    LONG count = 0;
    ThrowIfFailed(source->GetCount(&count));
    for (LONG index = 0; index < count; ++index) {
        VARIANT item;
        ThrowIfFailed(source->GetItem(VARIANT(index), &item));
        ThrowIfFailed(copy->Append(CopyValue(item, depth + 1), VARIANT::Missing()));
    }
    return copy;
}

void CVItemCopier::CopyProperties(IVItem* source, IVItem* copy, int depth) {
    CComPtr<IVProperties> to;
    ThrowIfFailed(copy->GetProperties(&to));
    ForEachProperty(source, [&](const BSTR& name, const BSTR& uri, const VARIANT& value) {
        ThrowIfFailed(to->SetValue(name, uri, CopyValue(value, depth + 1)));
        return true;
    });
}

VARIANT CVItemCopier::CopyValue(const VARIANT& value, int depth) {
    if ((value.Vt() & VT_ARRAY) != 0) {
        return VARIANT(CopyArray(value.Get<SAFEARRAY>(), depth + 1));
    }
    const CComPtr<IUnknown> object(value.Unknown());
    if (!object) {
        return value;
    }
    CComPtr<IVItem> item;
    if (SUCCEEDED(object.QueryInterface(&item))) {
        return ObjectValueLike(value, CopyItem(item, depth));
    }
    CComPtr<IVEnum> items;
    if (SUCCEEDED(object.QueryInterface(&items))) {
        return ObjectValueLike(value, CopyEnum(items, depth));
    }
    return value;
}

SAFEARRAY CVItemCopier::CopyArray(const SAFEARRAY& array, int depth) {
    if (!HoldsObjects(array.ElementVt())) {
        return array;
    }
    CheckDepth(depth);
    SAFEARRAY copy(array.ElementVt(), array.Count(), array.LowerBound());
    LONG index = array.LowerBound();
    for (const VARIANT& element : array.Elements()) {
        ThrowIfFailed(copy.PutElement(index++, CopyValue(element, depth)));
    }
    return copy;
}

void CVItemCopier::CheckDepth(int depth) {
    if (depth > k_maxDepth) {
        throw CQException(L"The items nest too deeply to be copied.", QERR_INVALID_PARAMETER);
    }
}

CComPtr<IUnknown> CVItemCopier::FindCopy(IUnknown* source) const {
    const auto found = m_copies.find(source);
    return found != m_copies.end() ? found->second.copy : CComPtr<IUnknown>();
}
