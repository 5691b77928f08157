#pragma once
// CQBusValueCodec: automation values on the bus, as the bus contract fixes them, both ways.
//
// Parameters by their table type (typeinfo.h): BSTR "s", LONG "i", ULONG "u", VARIANT_BOOL
// "b", the other integers and floating types by width ("n", "q", "y", "x", "t", "d"), VARIANT
// "(qv)"; interface pointers by their interface: an item (IVItem) "(sssa(ssi(qv)))", an
// enumeration (IVEnum) "a(sssa(ssi(qv)))", a transcode item (IVTranscodeItem) "s" (its item
// XML), any other interface (IDispatch*, IUnknown*) "(qv)" holding an item or an enumeration.
//
// A VARIANT is "(qv)": the VT code, then the value in its natural type: VT_I2 and VT_I1 "n",
// VT_I4, VT_INT and VT_ERROR "i", VT_UI4 and VT_UINT "u", VT_I8 "x", VT_UI8 "t", VT_R4, VT_R8
// and VT_DATE "d", VT_BOOL "b", VT_BSTR "s", VT_UI1 "y", VT_UI2 "q", VT_EMPTY and VT_NULL "b"
// false, VT_DISPATCH and VT_UNKNOWN an item, an enumeration, or "b" false for a null pointer;
// VT_ARRAY | element an array of the element's type, where object and VARIANT elements are
// "(qv)" each. Items travel by value (qbusitemcodec.h).
//
// Reading checks what a peer sent before anything uses it: the VT code against the value's
// D-Bus type, strings of at most k_maxStringBytes bytes that are valid UTF-8, at most
// k_maxElements elements in an array (and properties in an item, items in an enumeration),
// nesting of values inside values at most k_maxDepth deep. A violation raises sdbus::Error
// org.freedesktop.DBus.Error.InvalidArgs naming it (CQBusError::InvalidArgument). Writing a
// value that has no bus form (an object that is neither item nor enumeration) raises the
// HResult error with DISP_E_BADVARTYPE.
//
// Stateless; any thread (the message belongs to the caller).

#include <cstddef>
#include <string>

#include <sdbus-c++/Message.h>

#include "qlib/qcom/typeinfo.h"
#include "qlib/qcom/variant.h"

class CQBusValueCodec {
public:
    static constexpr const char* k_variantSignature = "(qv)";
    static constexpr int k_maxDepth = 8;
    static constexpr size_t k_maxStringBytes = size_t{1} << 20;
    static constexpr size_t k_maxElements = size_t{1} << 16;

    // The D-Bus signature of a parameter (of what an out-pointer receives).
    static std::string Signature(const ParamInfo& param);

    static void WriteParam(sdbus::Message& message, const ParamInfo& param, const VARIANT& value);
    // The argument as a VARIANT of the parameter's type (VT_VARIANT: the value as sent; an
    // interface: VT_DISPATCH or VT_UNKNOWN holding the object made from it).
    static VARIANT ReadParam(sdbus::Message& message, const ParamInfo& param);

    static void WriteVariant(sdbus::Message& message, const VARIANT& value, int depth = 0);
    static VARIANT ReadVariant(sdbus::Message& message, int depth = 0);

    static void WriteString(sdbus::Message& message, const std::wstring& text);
    static std::wstring ReadString(sdbus::Message& message);

    // Whether the reader stands at the end of the current container (or message).
    static bool AtEnd(const sdbus::Message& message);
    // Fails unless the next value has exactly this signature ("(qv)", "s", ...).
    static void ExpectSignature(const sdbus::Message& message, const std::string& signature);
};
