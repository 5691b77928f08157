#include "qlib/qutilitylib/qvariant.h"

#include <limits>
#include <optional>
#include <source_location>

#include "qlib/qcom/comerror.h"
#include "qlib/qutilitylib/qcatch.h"

namespace {

// The one array type VariantToIntVector takes (8195).
constexpr VARTYPE k_intArrayVt = VT_ARRAY | VT_I4;

[[noreturn]] void RaiseWrongType(
    int code, const VARIANT& value,
    const std::source_location& location = std::source_location::current()) {
    CQException error(code, location);
    error.AddValue(L"VariantType", value.Vt());
    throw error;
}

// The array of an array value, or of exactly the type vt when one is given. (The helpers take
// their caller's location, so that an error names the CQVariant method.)
const SAFEARRAY& ArrayOf(const VARIANT& value, std::optional<VARTYPE> vt = std::nullopt,
                         const std::source_location& location = std::source_location::current()) {
    const SAFEARRAY* array = value.GetIf<SAFEARRAY>();
    if (array == nullptr || (vt && value.Vt() != *vt)) {
        RaiseWrongType(QERR_INVALID_VARIANT_TYPE, value, location);
    }
    return *array;
}

// An array of the element type with one element per value, in order.
template <class Value>
VARIANT VectorToVariant(VARTYPE elementVt, const std::vector<Value>& values,
                        const std::source_location& location = std::source_location::current()) {
    if (values.size() > static_cast<size_t>(std::numeric_limits<LONG>::max()) + 1) {
        CQException error(QERR_INVALID_PARAMETER, location);
        error.AddValue(L"Count", std::to_wstring(values.size()));
        throw error;
    }
    SAFEARRAY array(elementVt, static_cast<ULONG>(values.size()));
    LONG index = 0;
    for (const Value& value : values) {
        ThrowIfFailed(array.PutElement(index++, VARIANT(value)));
    }
    return VARIANT(std::move(array));
}

// The value converted to vt (stored as Number) when it is of an accepted type and fits:
// widening an integer or a float never fails, only a VT_UI8 beyond the signed range does.
template <class Number>
Number ConvertNumber(const VARIANT& value, VARTYPE vt, bool accepted,
                     const std::source_location& location = std::source_location::current()) {
    VARIANT converted;
    if (!accepted || FAILED(VariantChangeType(&converted, &value, 0, vt))) {
        RaiseWrongType(QERR_INVALID_PARAMETER, value, location);
    }
    return converted.Get<Number>();
}

}  // namespace

ULONG CQVariant::GetSafeArraySize(const VARIANT& value) {
    return CQCatch::Internal([&] { return ArrayOf(value).Count(); });
}

VARIANT CQVariant::StringVectorToVariant(const std::vector<std::wstring>& strings) {
    return CQCatch::Internal([&] { return VectorToVariant(VT_BSTR, strings); });
}

VARIANT CQVariant::IntVectorToVariant(const std::vector<int32_t>& values) {
    return CQCatch::Internal([&] { return VectorToVariant(VT_I4, values); });
}

std::vector<int32_t> CQVariant::VariantToIntVector(const VARIANT& value) {
    return CQCatch::Internal([&] {
        std::vector<int32_t> values;
        for (const VARIANT& element : ArrayOf(value, k_intArrayVt).Elements()) {
            values.push_back(element.Get<int32_t>());
        }
        return values;
    });
}

int64_t CQVariant::ToInt(const VARIANT& value) {
    return CQCatch::Internal(
        [&] { return ConvertNumber<int64_t>(value, VT_I8, IsInteger(value)); });
}

double CQVariant::ToFloat(const VARIANT& value) {
    return CQCatch::Internal([&] { return ConvertNumber<double>(value, VT_R8, IsFloat(value)); });
}

bool CQVariant::IsInteger(const VARIANT& value) {
    switch (value.Vt()) {
        case VT_I1:
        case VT_I2:
        case VT_I4:
        case VT_INT:
        case VT_UI1:
        case VT_UI2:
        case VT_UI4:
        case VT_UINT:
        case VT_I8:
        case VT_UI8:
            return true;
        default:
            return false;
    }
}

bool CQVariant::IsFloat(const VARIANT& value) {
    return value.Vt() == VT_R4 || value.Vt() == VT_R8;
}

bool CQVariant::IsMissing(const VARIANT& value) {
    return value.IsMissing();
}

bool CQVariant::IsObject(const VARIANT& value) {
    return (value.Vt() == VT_DISPATCH || value.Vt() == VT_UNKNOWN) && value.Unknown() != nullptr;
}
