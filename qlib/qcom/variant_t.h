#pragma once
// _variant_t: a VARIANT whose conversions raise. It has every constructor of VARIANT and reads
// its value as any C++ type through VariantChangeType, raising _com_error with that conversion's
// HRESULT (DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW) when the value does not convert:
//
//     _variant_t count = L"12";
//     LONG n = static_cast<LONG>(count);                    // 12
//     BSTR text = static_cast<BSTR>(_variant_t(2.5));       // "2.5"
//     static_cast<LONG>(_variant_t(L"twelve"));             // raises DISP_E_TYPEMISMATCH
//
// The conversions are explicit, so that overloads taking several number types stay
// unambiguous. Strings need no wrapper of their own: BSTR is std::wstring.
//
// A value type, thread-compatible.

#include "qlib/qcom/comerror.h"
#include "qlib/qcom/variant.h"

class _variant_t : public VARIANT {
public:
    using VARIANT::VARIANT;
    _variant_t() noexcept = default;
    _variant_t(const VARIANT& value) : VARIANT(value) {}
    _variant_t(VARIANT&& value) noexcept : VARIANT(std::move(value)) {}

    explicit operator SHORT() const { return As<int16_t>(VT_I2); }
    explicit operator LONG() const { return As<int32_t>(VT_I4); }
    explicit operator ULONG() const { return As<uint32_t>(VT_UI4); }
    explicit operator LONGLONG() const { return As<int64_t>(VT_I8); }
    explicit operator ULONGLONG() const { return As<uint64_t>(VT_UI8); }
    explicit operator float() const { return As<float>(VT_R4); }
    explicit operator double() const { return As<double>(VT_R8); }
    explicit operator VARIANT_BOOL() const { return As<VARIANT_BOOL>(VT_BOOL); }
    explicit operator bool() const { return As<VARIANT_BOOL>(VT_BOOL) != VARIANT_FALSE; }
    explicit operator BSTR() const { return As<BSTR>(VT_BSTR); }
    // The object of a VT_UNKNOWN or VT_DISPATCH value (null for VT_EMPTY), with a reference.
    explicit operator CComPtr<IUnknown>() const;
    // The object asked for IDispatch (null for VT_EMPTY), with a reference.
    explicit operator CComPtr<IDispatch>() const;

    // Converts in place; raises when the value does not convert.
    void ChangeType(VARTYPE vt, USHORT flags = 0);

private:
    template <class T>
    T As(VARTYPE vt) const {
        VARIANT converted;
        ThrowIfFailed(VariantChangeType(&converted, this, 0, vt));
        return converted.Get<T>();
    }
};
