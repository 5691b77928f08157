#pragma once
// The scalar types of our component object layer, with COM's names and widths. LONG and ULONG
// are 32-bit as in COM, although `long` is 64-bit on Linux: interfaces use these names, never
// `long`, so that the dispatch tables (which deduce a VT code from each parameter type) and the
// bus bridge see the widths the type library promises.
//
// BSTR is std::wstring: it already is the value type that a string wrapper would give (copy
// deep, move cheap, freed by its destructor), and an empty string stands for the null BSTR.
//
// VARIANT_BOOL is an enumeration of its own (not a plain 16-bit integer) so that templates can
// tell a flag from a SHORT; VARIANT_TRUE is -1 as in COM.
//
// Types and constants only; nothing here has state.

#include <cstdint>
#include <string>

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using SHORT = int16_t;
using USHORT = uint16_t;
using LONG = int32_t;
using ULONG = uint32_t;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using INT = int32_t;
using UINT = uint32_t;
using LCID = uint32_t;
using DISPID = int32_t;
using SCODE = int32_t;
// Days since 30 December 1899, the fraction being the time of day.
using DATE = double;
using BSTR = std::wstring;

enum VARIANT_BOOL : int16_t { VARIANT_FALSE = 0, VARIANT_TRUE = -1 };

constexpr VARIANT_BOOL ToVariantBool(bool value) {
    return value ? VARIANT_TRUE : VARIANT_FALSE;
}

// VT codes of a VARIANT, with COM's values. VT_ARRAY is combined with the code of the element
// type (VT_ARRAY | VT_I4 is 8195); VT_VARIANT is only an element type (an array of VARIANTs).
using VARTYPE = uint16_t;

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_ARRAY = 0x2000,
    VT_TYPEMASK = 0x0FFF,
};

// Flags of VariantChangeType: VT_BOOL becomes "True"/"False" instead of "-1"/"0".
constexpr USHORT VARIANT_ALPHABOOL = 0x2;

constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_VALUE = 0;
