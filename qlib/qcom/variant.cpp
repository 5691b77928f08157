#include "qlib/qcom/variant.h"

#include <utility>

VARIANT::VARIANT(VARIANT&& other) noexcept
    : m_vt(std::exchange(other.m_vt, VT_EMPTY)),
      m_payload(std::exchange(other.m_payload, std::monostate{})) {}

VARIANT& VARIANT::operator=(VARIANT&& other) noexcept {
    if (this != &other) {
        m_vt = std::exchange(other.m_vt, VT_EMPTY);
        m_payload = std::exchange(other.m_payload, std::monostate{});
    }
    return *this;
}

VARIANT::VARIANT(IUnknown* object) noexcept
    : m_vt(VT_UNKNOWN), m_payload(CComPtr<IUnknown>(object)) {}

// The dispatch pointer is kept as its IUnknown base; Dispatch() casts it back down, which is
// sound because only a VT_DISPATCH value is read that way.
VARIANT::VARIANT(IDispatch* object) noexcept
    : m_vt(VT_DISPATCH), m_payload(CComPtr<IUnknown>(object)) {}

VARIANT::VARIANT(SAFEARRAY array) noexcept
    : m_vt(static_cast<VARTYPE>(VT_ARRAY | array.ElementVt())), m_payload(std::move(array)) {}

bool VARIANT::IsMissing() const noexcept {
    return m_vt == VT_ERROR && Get<int32_t>() == DISP_E_PARAMNOTFOUND;
}

IUnknown* VARIANT::Unknown() const noexcept {
    const auto* object = GetIf<CComPtr<IUnknown>>();
    return object != nullptr ? object->Get() : nullptr;
}

IDispatch* VARIANT::Dispatch() const noexcept {
    return m_vt == VT_DISPATCH ? static_cast<IDispatch*>(Unknown()) : nullptr;
}

HRESULT VARIANT::ChangeType(VARTYPE vt, USHORT flags) {
    return VariantChangeType(this, this, flags, vt);
}

void VARIANT::Clear() noexcept {
    m_vt = VT_EMPTY;
    m_payload = std::monostate{};
}

bool operator==(const VARIANT& left, const VARIANT& right) {
    return left.m_vt == right.m_vt && left.m_payload == right.m_payload;
}

VARIANT VARIANT::ZeroOf(VARTYPE vt) {
    if ((vt & VT_ARRAY) != 0) {
        return VARIANT(SAFEARRAY(static_cast<VARTYPE>(vt & VT_TYPEMASK)));
    }
    switch (vt) {
        case VT_I1:
            return VARIANT(vt, int8_t{0});
        case VT_UI1:
            return VARIANT(vt, uint8_t{0});
        case VT_I2:
            return VARIANT(vt, int16_t{0});
        case VT_UI2:
            return VARIANT(vt, uint16_t{0});
        case VT_I4:
        case VT_INT:
        case VT_ERROR:
            return VARIANT(vt, int32_t{0});
        case VT_UI4:
        case VT_UINT:
            return VARIANT(vt, uint32_t{0});
        case VT_I8:
            return VARIANT(vt, int64_t{0});
        case VT_UI8:
            return VARIANT(vt, uint64_t{0});
        case VT_R4:
            return VARIANT(vt, 0.0f);
        case VT_R8:
        case VT_DATE:
            return VARIANT(vt, 0.0);
        case VT_BOOL:
            return VARIANT(vt, VARIANT_FALSE);
        case VT_BSTR:
            return VARIANT(vt, BSTR());
        case VT_UNKNOWN:
        case VT_DISPATCH:
            return VARIANT(vt, CComPtr<IUnknown>());
        case VT_NULL:
            return Null();
        default:
            return VARIANT();
    }
}

void VariantInit(VARIANT* value) {
    value->Clear();
}

HRESULT VariantClear(VARIANT* value) {
    if (value == nullptr) {
        return E_POINTER;
    }
    value->Clear();
    return S_OK;
}

HRESULT VariantCopy(VARIANT* destination, const VARIANT* source) {
    if (destination == nullptr || source == nullptr) {
        return E_POINTER;
    }
    *destination = *source;
    return S_OK;
}
