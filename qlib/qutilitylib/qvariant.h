#pragma once
// CQVariant: the conversions between automation values and plain C++ values that the service
// and the handler need: string and integer vectors to and from one-dimensional arrays, numbers
// out of a VARIANT whatever their width, and tests of what a VARIANT holds.
//
//     VARIANT formats = CQVariant::IntVectorToVariant({9, 10});     // VT_ARRAY | VT_I4
//     std::vector<int32_t> back = CQVariant::VariantToIntVector(formats);
//     if (CQVariant::IsInteger(value)) { int64_t n = CQVariant::ToInt(value); }
//
// Errors: a value of the wrong kind for an array function raises "Invalid variant type" (1015);
// ToInt and ToFloat raise "Invalid function parameter." (1010); both carry the context value
// "VariantType" (the VT code). Arrays built here are zero-based.
//
// Stateless; any thread.

#include <cstdint>
#include <string>
#include <vector>

#include "qlib/qcom/variant.h"

class CQVariant {
public:
    // Number of elements of an array value (upper bound - lower bound + 1).
    static ULONG GetSafeArraySize(const VARIANT& value);

    // VT_ARRAY | VT_BSTR.
    static VARIANT StringVectorToVariant(const std::vector<std::wstring>& strings);
    // VT_ARRAY | VT_I4.
    static VARIANT IntVectorToVariant(const std::vector<int32_t>& values);
    // The elements of a VT_ARRAY | VT_I4 value (8195); every other type, arrays of other
    // integers included, raises "Invalid variant type".
    static std::vector<int32_t> VariantToIntVector(const VARIANT& value);

    // The value of any integer type (see IsInteger). A VT_UI8 above the largest signed 64-bit
    // value raises "Invalid function parameter." rather than turn negative.
    static int64_t ToInt(const VARIANT& value);
    // The value of a VT_R4 or VT_R8.
    static double ToFloat(const VARIANT& value);

    // VT_I1, VT_I2, VT_I4, VT_INT, VT_UI1, VT_UI2, VT_UI4, VT_UINT, VT_I8, VT_UI8.
    static bool IsInteger(const VARIANT& value);
    // VT_R4, VT_R8.
    static bool IsFloat(const VARIANT& value);
    // The value of an optional argument the caller left out (VT_ERROR holding
    // DISP_E_PARAMNOTFOUND).
    static bool IsMissing(const VARIANT& value);
    // A VT_DISPATCH or VT_UNKNOWN holding an object (not null).
    static bool IsObject(const VARIANT& value);
};
