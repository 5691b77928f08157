#include "qlib/qcom/variant_t.h"

_variant_t::operator CComPtr<IUnknown>() const {
    VARIANT converted;
    ThrowIfFailed(VariantChangeType(&converted, this, 0, VT_UNKNOWN));
    return CComPtr<IUnknown>(converted.Unknown());
}

_variant_t::operator CComPtr<IDispatch>() const {
    VARIANT converted;
    ThrowIfFailed(VariantChangeType(&converted, this, 0, VT_DISPATCH));
    return CComPtr<IDispatch>(converted.Dispatch());
}

void _variant_t::ChangeType(VARTYPE vt, USHORT flags) {
    ThrowIfFailed(VARIANT::ChangeType(vt, flags));
}
