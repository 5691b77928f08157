#pragma once
// CVDSValueCodec: a property value as the bytes the database keeps, and back. Every VARIANT
// the bus contract carries is kept with its VT code: VT_EMPTY, VT_NULL, the integers
// (VT_I1..VT_UI8, VT_INT, VT_UINT), VT_R4, VT_R8, VT_DATE, VT_BOOL, VT_ERROR, VT_BSTR, arrays
// of any element type with their lower bound (VT_VARIANT arrays holding any of these), and
// objects: VT_DISPATCH or VT_UNKNOWN holding null, an item (class, GUID, datastore name and
// its properties, nested as deep as k_maxDepth) or an enumeration of items.
//
// Layout (little-endian): u16 VT, then the payload: nothing for VT_EMPTY/VT_NULL; the value's
// bytes for numbers; u32 length and UTF-8 for text; u16 element VT... for arrays: i32 lower
// bound, u32 count, then each element as a value; for objects a u8 tag (0 null, 1 item,
// 2 enumeration) and the item(s). Text is UTF-8: a code point that is no Unicode scalar value
// (a lone surrogate) comes back as U+FFFD.
//
// Encode raises VDSERR_VALUE_NOT_STORABLE for an object that is neither an item nor an
// enumeration and for nesting deeper than k_maxDepth (which also stops an item that holds
// itself). Decode raises VDSERR_DATASTORE_UNUSABLE for bytes that are not such a value (a
// damaged database): it never reads past the end and bounds every count by the bytes left.
//
// Stateless; any thread.

#include <string>
#include <string_view>

#include "qlib/qcom/variant.h"

class CVDSValueCodec {
public:
    static constexpr int k_maxDepth = 32;

    static std::string Encode(const VARIANT& value);
    static VARIANT Decode(std::string_view bytes);
};
