#pragma once
// VARIANT: an automation value, tagged with COM's VT code. Arguments of late-bound calls,
// property values of items, and everything the bus bridge carries are VARIANTs.
//
// Unlike COM's plain structure this VARIANT owns what it holds, so it cannot leak and cannot be
// released twice: copying is VariantCopy (strings and arrays are copied, objects gain a
// reference), moving is cheap and leaves VT_EMPTY behind, destruction is VariantClear. The
// COM-named functions below keep their observable behaviour (VariantClear leaves VT_EMPTY,
// VariantCopy copies deeply, VariantChangeType converts with COM's rules for the common cases).
//
// Making one: every natural C++ type has a constructor (int -> VT_I4, int16_t -> VT_I2,
// uint32_t -> VT_UI4, int64_t -> VT_I8, double -> VT_R8, bool and VARIANT_BOOL -> VT_BOOL,
// strings -> VT_BSTR, IDispatch-derived pointers -> VT_DISPATCH, other interface pointers ->
// VT_UNKNOWN, SAFEARRAY -> VT_ARRAY | element type); codes that share a C++ type with another
// have named makers (Null, Error, Date, Int, UInt, Missing).
// Reading one: check Vt(), then GetIf<T>() / Get<T>() with the C++ type the code is stored as
// (VT_I4, VT_INT and VT_ERROR as int32_t, VT_UI4 and VT_UINT as uint32_t, VT_R8 and VT_DATE as
// double, VT_BOOL as VARIANT_BOOL, VT_BSTR as BSTR, arrays as SAFEARRAY), or Unknown() and
// Dispatch() for objects. For "whatever it holds, as a LONG" use ChangeType.
//
//     VARIANT priority = SHORT{-1};              // VT_I2
//     VARIANT text = L"42";                      // VT_BSTR
//     if (SUCCEEDED(text.ChangeType(VT_I4))) { LONG value = text.Get<LONG>(); }
//
// A value type, thread-compatible.

#include <concepts>
#include <cstdint>
#include <type_traits>
#include <variant>

#include "qlib/qcom/comptr.h"
#include "qlib/qcom/comtypes.h"
#include "qlib/qcom/dispatch.h"
#include "qlib/qcom/safearray.h"

// The integer types a VARIANT takes: not bool, not the character types.
template <class T>
concept AutomationInteger =
    std::integral<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char> &&
    !std::is_same_v<T, wchar_t> && !std::is_same_v<T, char8_t> && !std::is_same_v<T, char16_t> &&
    !std::is_same_v<T, char32_t>;

class VARIANT {
public:
    VARIANT() noexcept = default;
    VARIANT(const VARIANT& other) = default;
    VARIANT(VARIANT&& other) noexcept;
    VARIANT& operator=(const VARIANT& other) = default;
    VARIANT& operator=(VARIANT&& other) noexcept;
    ~VARIANT() = default;

    // Integers by width and sign: VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_I8, VT_UI8.
    template <AutomationInteger T>
    VARIANT(T value)
    noexcept : m_vt(IntegerVt<T>()), m_payload(static_cast<IntegerStorage<T>>(value)) {}
    VARIANT(bool value) noexcept : m_vt(VT_BOOL), m_payload(ToVariantBool(value)) {}
    VARIANT(VARIANT_BOOL value) noexcept : m_vt(VT_BOOL), m_payload(value) {}
    VARIANT(float value) noexcept : m_vt(VT_R4), m_payload(value) {}
    VARIANT(double value) noexcept : m_vt(VT_R8), m_payload(value) {}
    VARIANT(BSTR value) noexcept : m_vt(VT_BSTR), m_payload(std::move(value)) {}
    VARIANT(const wchar_t* value) : VARIANT(BSTR(value)) {}
    // VT_UNKNOWN / VT_DISPATCH holding one more reference to `object` (which may be null).
    VARIANT(IUnknown* object) noexcept;
    VARIANT(IDispatch* object) noexcept;
    template <class Interface>
    VARIANT(const CComPtr<Interface>& object)
    noexcept : VARIANT(object.Get()) {}
    explicit VARIANT(SAFEARRAY array) noexcept;

    static VARIANT Null() noexcept { return VARIANT(VT_NULL, std::monostate{}); }
    static VARIANT Error(SCODE code) noexcept { return VARIANT(VT_ERROR, code); }
    static VARIANT Date(DATE date) noexcept { return VARIANT(VT_DATE, date); }
    static VARIANT Int(INT value) noexcept { return VARIANT(VT_INT, value); }
    static VARIANT UInt(UINT value) noexcept { return VARIANT(VT_UINT, value); }
    // The value of an optional argument the caller left out: VT_ERROR holding
    // DISP_E_PARAMNOTFOUND.
    static VARIANT Missing() noexcept { return Error(DISP_E_PARAMNOTFOUND); }

    VARTYPE Vt() const noexcept { return m_vt; }
    bool IsMissing() const noexcept;

    // The stored value when it is kept as T (see the header), nullptr otherwise.
    template <class T>
    const T* GetIf() const noexcept {
        return std::get_if<T>(&m_payload);
    }
    // The stored value; holding another type is a programming error (std::bad_variant_access).
    template <class T>
    const T& Get() const {
        return std::get<T>(m_payload);
    }
    // The object of a VT_UNKNOWN or VT_DISPATCH value (no reference added); nullptr otherwise.
    IUnknown* Unknown() const noexcept;
    // The object of a VT_DISPATCH value (no reference added); nullptr otherwise.
    IDispatch* Dispatch() const noexcept;

    // Converts in place (see VariantChangeType); on failure the value is unchanged.
    HRESULT ChangeType(VARTYPE vt, USHORT flags = 0);
    // Releases what the value holds and leaves VT_EMPTY.
    void Clear() noexcept;

    // Same type and equal value; objects are equal when they are the same pointer, arrays when
    // bounds, element type and every element are equal.
    friend bool operator==(const VARIANT& left, const VARIANT& right);

    // The VT code an integer type makes and the type its value is kept as.
    template <class T>
    static constexpr auto IntegerStorageOf() {
        if constexpr (sizeof(T) == 1) {
            return std::type_identity<std::conditional_t<std::is_signed_v<T>, int8_t, uint8_t>>{};
        } else if constexpr (sizeof(T) == 2) {
            return std::type_identity<std::conditional_t<std::is_signed_v<T>, int16_t, uint16_t>>{};
        } else if constexpr (sizeof(T) == 4) {
            return std::type_identity<std::conditional_t<std::is_signed_v<T>, int32_t, uint32_t>>{};
        } else {
            return std::type_identity<std::conditional_t<std::is_signed_v<T>, int64_t, uint64_t>>{};
        }
    }
    template <class T>
    using IntegerStorage = typename decltype(IntegerStorageOf<T>())::type;

    template <class T>
    static constexpr VARTYPE IntegerVt() {
        constexpr bool isSigned = std::is_signed_v<T>;
        switch (sizeof(T)) {
            case 1:
                return isSigned ? VT_I1 : VT_UI1;
            case 2:
                return isSigned ? VT_I2 : VT_UI2;
            case 4:
                return isSigned ? VT_I4 : VT_UI4;
            default:
                return isSigned ? VT_I8 : VT_UI8;
        }
    }

private:
    using Payload =
        std::variant<std::monostate, int8_t, uint8_t, int16_t, uint16_t, int32_t, uint32_t, int64_t,
                     uint64_t, float, double, VARIANT_BOOL, BSTR, CComPtr<IUnknown>, SAFEARRAY>;

    VARIANT(VARTYPE vt, Payload payload) noexcept : m_vt(vt), m_payload(std::move(payload)) {}
    // The zero value of a type that an array element or a converted value can have (VT_EMPTY
    // for VT_VARIANT).
    static VARIANT ZeroOf(VARTYPE vt);

    friend class SAFEARRAY;

    VARTYPE m_vt = VT_EMPTY;
    Payload m_payload;
};

// Leaves VT_EMPTY (what the value held is released: nothing here can leak).
void VariantInit(VARIANT* value);
// Releases what the value holds and leaves VT_EMPTY. E_POINTER for a null pointer.
HRESULT VariantClear(VARIANT* value);
// A deep copy of *source into *destination.
HRESULT VariantCopy(VARIANT* destination, const VARIANT* source);
// *source converted to `vt` into *destination (which may be source itself); on failure
// *destination is unchanged. The rules:
// - the same type is a copy; VT_EMPTY and VT_NULL may be asked for from anything (the value is
//   dropped); an array converts only to its own type;
// - between numbers (VT_I1..VT_UI8, VT_INT, VT_UINT, VT_R4, VT_R8, VT_DATE, VT_BOOL):
//   fractions round half to even, a value out of the target's range is DISP_E_OVERFLOW,
//   VT_BOOL is -1 or 0 and any nonzero number becomes VARIANT_TRUE;
// - VT_EMPTY becomes 0, false, an empty string or a null object;
// - numbers to VT_BSTR: decimal text, floating point with up to 15 (VT_R4: 7) significant
//   digits; VT_BOOL gives "-1"/"0", or "True"/"False" with VARIANT_ALPHABOOL;
// - VT_BSTR to numbers: decimal or floating-point text with surrounding blanks; to VT_BOOL also
//   "True"/"False" in any case;
// - VT_DISPATCH to VT_UNKNOWN keeps the object; VT_UNKNOWN to VT_DISPATCH asks the object for
//   IDispatch;
// - everything else (VT_NULL to a value, VT_ERROR, objects to values, dates as text) is
//   DISP_E_TYPEMISMATCH; a target code that no VARIANT holds is DISP_E_BADVARTYPE.
HRESULT VariantChangeType(VARIANT* destination, const VARIANT* source, USHORT flags, VARTYPE vt);
