#pragma once
// SAFEARRAY: a one-dimensional array of automation values with a lower bound and one element
// type, carried in a VARIANT of type VT_ARRAY | element type. Element types are the scalar VT
// codes, VT_BSTR, VT_DISPATCH, VT_UNKNOWN and VT_VARIANT (whose elements may be of any type).
//
// A value type: copying copies every element (strings are copied, objects gain a reference),
// moving is cheap, destruction releases everything. Each element is kept as a VARIANT of the
// element type, so reading an element gives a VARIANT whose Vt() is the element type (any type
// for a VT_VARIANT array).
//
// Thread-compatible: one thread changes an array at a time.

#include <span>
#include <vector>

#include "qlib/qcom/comtypes.h"
#include "qlib/qcom/hresult.h"

class VARIANT;

class SAFEARRAY {
public:
    // `count` elements of `elementVt`, indexed from `lowerBound`, each the element type's zero
    // value (0, an empty string, a null object, VT_EMPTY in a VT_VARIANT array). An element
    // type that no array can hold is a programming error: it raises _com_error
    // (DISP_E_BADVARTYPE), and so does a size whose last index would not fit a LONG
    // (E_INVALIDARG).
    explicit SAFEARRAY(VARTYPE elementVt, ULONG count = 0, LONG lowerBound = 0);
    SAFEARRAY(const SAFEARRAY& other);
    SAFEARRAY(SAFEARRAY&& other) noexcept;
    SAFEARRAY& operator=(const SAFEARRAY& other);
    SAFEARRAY& operator=(SAFEARRAY&& other) noexcept;
    ~SAFEARRAY();

    static bool IsElementType(VARTYPE vt);

    VARTYPE ElementVt() const { return m_elementVt; }
    LONG LowerBound() const { return m_lowerBound; }
    // LowerBound() - 1 for an empty array.
    LONG UpperBound() const;
    ULONG Count() const;

    // The elements in index order, starting at LowerBound().
    std::span<const VARIANT> Elements() const;

    // DISP_E_BADINDEX outside LowerBound()..UpperBound().
    HRESULT GetElement(LONG index, VARIANT* value) const;
    // The value is converted to the element type as VariantChangeType does; that conversion's
    // failure (DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW) leaves the array unchanged.
    HRESULT PutElement(LONG index, const VARIANT& value);
    // Adds an element at UpperBound() + 1, converted as PutElement converts.
    HRESULT Append(const VARIANT& value);
    // Keeps the first `count` elements (adding zero values when it grows); the lower bound stays.
    HRESULT Redim(ULONG count);

    friend bool operator==(const SAFEARRAY& left, const SAFEARRAY& right);

private:
    HRESULT ConvertElement(const VARIANT& value, VARIANT* element) const;
    static bool FitsLong(LONG lowerBound, ULONG count);

    VARTYPE m_elementVt;
    LONG m_lowerBound;
    std::vector<VARIANT> m_elements;
};
