#include "components/vitemslib/venum.h"

#include <algorithm>
#include <climits>

#include "qlib/qutilitylib/qcatch.h"

HRESULT CVEnum::GetItem(const VARIANT& index, VARIANT* item) {
    if (item == nullptr) {
        return E_POINTER;
    }
    const std::optional<LONGLONG> position = IndexOf(index);
    if (!position) {
        return DISP_E_TYPEMISMATCH;
    }
    CComPtr<IVItem> found;
    {
        const std::lock_guard lock(m_lock);
        if (*position < 0 || static_cast<ULONGLONG>(*position) >= m_items.size()) {
            return DISP_E_BADINDEX;
        }
        found = m_items[static_cast<size_t>(*position)];
    }
    *item = VARIANT(found);
    return S_OK;
}

HRESULT CVEnum::Append(const VARIANT& item, const VARIANT& /*reserved*/) {
    const CComPtr<IUnknown> object(item.Unknown());
    CComPtr<IVItem> appended;
    if (!object || FAILED(object.QueryInterface(&appended))) {
        return DISP_E_TYPEMISMATCH;
    }
    return CQCatch::Interface(IVEnum::k_iid, CLSID_VEnum, [&] {
        const std::lock_guard lock(m_lock);
        m_items.push_back(std::move(appended));
    });
}

HRESULT CVEnum::GetCount(LONG* count) {
    if (count == nullptr) {
        return E_POINTER;
    }
    const std::lock_guard lock(m_lock);
    *count = static_cast<LONG>(m_items.size());
    return S_OK;
}

std::optional<LONGLONG> CVEnum::IndexOf(const VARIANT& index) {
    switch (index.Vt()) {
        case VT_I1:
        case VT_UI1:
        case VT_I2:
        case VT_UI2:
        case VT_I4:
        case VT_UI4:
        case VT_I8:
        case VT_INT:
        case VT_UINT:
        case VT_R4:
        case VT_R8:
            break;
        case VT_UI8:
            // Beyond any count: out of range rather than a conversion failure.
            return static_cast<LONGLONG>(std::min<ULONGLONG>(index.Get<uint64_t>(), LLONG_MAX));
        default:
            return std::nullopt;
    }
    VARIANT converted;
    if (FAILED(VariantChangeType(&converted, &index, 0, VT_I8))) {
        return -1;  // a floating-point value beyond any index
    }
    return converted.Get<int64_t>();
}
