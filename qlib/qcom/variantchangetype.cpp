// VariantChangeType: conversions between automation values (rules in variant.h).

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>
#include <utility>

#include "qlib/qcom/variant.h"
#include "qlib/qsys/nocase.h"

namespace {

// A number read from a value, before it is narrowed to the target type.
struct Number {
    enum class Kind { Signed, Unsigned, Real };
    Kind kind = Kind::Signed;
    int64_t signedValue = 0;
    uint64_t unsignedValue = 0;
    double realValue = 0.0;

    static Number Signed(int64_t value) { return {Kind::Signed, value, 0, 0.0}; }
    static Number Unsigned(uint64_t value) { return {Kind::Unsigned, 0, value, 0.0}; }
    static Number Real(double value) { return {Kind::Real, 0, 0, value}; }

    bool IsZero() const {
        switch (kind) {
            case Kind::Signed:
                return signedValue == 0;
            case Kind::Unsigned:
                return unsignedValue == 0;
            case Kind::Real:
                return realValue == 0.0;
        }
        return true;
    }
    double AsReal() const {
        switch (kind) {
            case Kind::Signed:
                return static_cast<double>(signedValue);
            case Kind::Unsigned:
                return static_cast<double>(unsignedValue);
            case Kind::Real:
                return realValue;
        }
        return 0.0;
    }
};

bool IsValueVt(VARTYPE vt) {
    if ((vt & VT_ARRAY) != 0) {
        return (vt & ~(VT_ARRAY | VT_TYPEMASK)) == 0 &&
               SAFEARRAY::IsElementType(static_cast<VARTYPE>(vt & VT_TYPEMASK));
    }
    return vt == VT_EMPTY || vt == VT_NULL || (vt != VT_VARIANT && SAFEARRAY::IsElementType(vt));
}

std::wstring_view Trim(std::wstring_view text) {
    const auto blank = [](wchar_t c) { return c == L' ' || c == L'\t'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// Decimal integer or floating-point text, with an optional sign.
HRESULT ParseNumber(std::wstring_view text, Number* number) {
    text = Trim(text);
    std::string ascii;
    for (wchar_t c : text) {
        if (c < 0 || c > 0x7F) {
            return DISP_E_TYPEMISMATCH;
        }
        ascii.push_back(static_cast<char>(c));
    }
    const std::string_view digits =
        !ascii.empty() && ascii.front() == '+' ? std::string_view(ascii).substr(1) : ascii;
    if (digits.empty() || (digits.size() != ascii.size() && digits.front() == '-')) {
        return DISP_E_TYPEMISMATCH;
    }
    const char* end = digits.data() + digits.size();
    int64_t signedValue = 0;
    auto parsed = std::from_chars(digits.data(), end, signedValue);
    if (parsed.ptr == end && parsed.ec == std::errc()) {
        *number = Number::Signed(signedValue);
        return S_OK;
    }
    uint64_t unsignedValue = 0;
    parsed = std::from_chars(digits.data(), end, unsignedValue);
    if (parsed.ptr == end && parsed.ec == std::errc()) {
        *number = Number::Unsigned(unsignedValue);
        return S_OK;
    }
    double realValue = 0.0;
    parsed = std::from_chars(digits.data(), end, realValue);
    if (parsed.ptr == end && parsed.ec == std::errc::result_out_of_range) {
        return DISP_E_OVERFLOW;
    }
    if (parsed.ptr != end || parsed.ec != std::errc() || !std::isfinite(realValue)) {
        return DISP_E_TYPEMISMATCH;
    }
    *number = Number::Real(realValue);
    return S_OK;
}

HRESULT NumberOf(const VARIANT& value, VARTYPE target, Number* number) {
    switch (value.Vt()) {
        case VT_EMPTY:
            *number = Number::Signed(0);
            return S_OK;
        case VT_I1:
            *number = Number::Signed(value.Get<int8_t>());
            return S_OK;
        case VT_I2:
            *number = Number::Signed(value.Get<int16_t>());
            return S_OK;
        case VT_I4:
        case VT_INT:
            *number = Number::Signed(value.Get<int32_t>());
            return S_OK;
        case VT_I8:
            *number = Number::Signed(value.Get<int64_t>());
            return S_OK;
        case VT_UI1:
            *number = Number::Unsigned(value.Get<uint8_t>());
            return S_OK;
        case VT_UI2:
            *number = Number::Unsigned(value.Get<uint16_t>());
            return S_OK;
        case VT_UI4:
        case VT_UINT:
            *number = Number::Unsigned(value.Get<uint32_t>());
            return S_OK;
        case VT_UI8:
            *number = Number::Unsigned(value.Get<uint64_t>());
            return S_OK;
        case VT_R4:
            *number = Number::Real(value.Get<float>());
            return S_OK;
        case VT_R8:
        case VT_DATE:
            *number = Number::Real(value.Get<double>());
            return S_OK;
        case VT_BOOL:
            *number = Number::Signed(value.Get<VARIANT_BOOL>());
            return S_OK;
        case VT_BSTR: {
            const std::wstring_view text = Trim(value.Get<BSTR>());
            if (target == VT_BOOL &&
                (qsys::EqualsIgnoreCase(text, L"true") || qsys::EqualsIgnoreCase(text, L"false"))) {
                *number = Number::Signed(qsys::EqualsIgnoreCase(text, L"true") ? -1 : 0);
                return S_OK;
            }
            return ParseNumber(text, number);
        }
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

// Half-way cases go to the even neighbour, as automation does.
double RoundHalfToEven(double value) {
    const double floor = std::floor(value);
    const double fraction = value - floor;
    if (fraction > 0.5) {
        return floor + 1.0;
    }
    if (fraction < 0.5) {
        return floor;
    }
    return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

template <class T>
HRESULT ToInteger(const Number& number, T* result) {
    switch (number.kind) {
        case Number::Kind::Signed:
            if (!std::in_range<T>(number.signedValue)) {
                return DISP_E_OVERFLOW;
            }
            *result = static_cast<T>(number.signedValue);
            return S_OK;
        case Number::Kind::Unsigned:
            if (!std::in_range<T>(number.unsignedValue)) {
                return DISP_E_OVERFLOW;
            }
            *result = static_cast<T>(number.unsignedValue);
            return S_OK;
        case Number::Kind::Real: {
            const double rounded = RoundHalfToEven(number.realValue);
            // (double)max + 1 is exact for every target width: 2^7 ... 2^64.
            const double lowest = static_cast<double>(std::numeric_limits<T>::min());
            const double limit = static_cast<double>(std::numeric_limits<T>::max()) + 1.0;
            if (!std::isfinite(rounded) || rounded < lowest || rounded >= limit) {
                return DISP_E_OVERFLOW;
            }
            *result = static_cast<T>(rounded);
            return S_OK;
        }
    }
    return DISP_E_TYPEMISMATCH;
}

template <class T, class Make>
HRESULT MakeInteger(const Number& number, VARIANT* result, Make make) {
    T value{};
    const HRESULT hr = ToInteger(number, &value);
    if (SUCCEEDED(hr)) {
        *result = make(value);
    }
    return hr;
}

template <class T>
HRESULT MakeInteger(const Number& number, VARIANT* result) {
    return MakeInteger<T>(number, result, [](T value) { return VARIANT(value); });
}

HRESULT ToNumber(const Number& number, VARTYPE vt, VARIANT* result) {
    switch (vt) {
        case VT_I1:
            return MakeInteger<int8_t>(number, result);
        case VT_UI1:
            return MakeInteger<uint8_t>(number, result);
        case VT_I2:
            return MakeInteger<int16_t>(number, result);
        case VT_UI2:
            return MakeInteger<uint16_t>(number, result);
        case VT_I4:
            return MakeInteger<int32_t>(number, result);
        case VT_UI4:
            return MakeInteger<uint32_t>(number, result);
        case VT_I8:
            return MakeInteger<int64_t>(number, result);
        case VT_UI8:
            return MakeInteger<uint64_t>(number, result);
        case VT_INT:
            return MakeInteger<INT>(number, result, VARIANT::Int);
        case VT_UINT:
            return MakeInteger<UINT>(number, result, VARIANT::UInt);
        case VT_BOOL:
            *result = VARIANT(!number.IsZero());
            return S_OK;
        case VT_R8:
            *result = VARIANT(number.AsReal());
            return S_OK;
        case VT_DATE:
            *result = VARIANT::Date(number.AsReal());
            return S_OK;
        case VT_R4: {
            const double real = number.AsReal();
            if (std::isfinite(real) && std::fabs(real) > std::numeric_limits<float>::max()) {
                return DISP_E_OVERFLOW;
            }
            *result = VARIANT(static_cast<float>(real));
            return S_OK;
        }
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

// Up to `precision` significant digits, the exponent written with a capital E ("1E+20").
std::wstring RealText(double value, int precision) {
    char buffer[64];
    const auto written =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, precision);
    std::wstring text;
    for (const char* c = buffer; c != written.ptr; ++c) {
        text.push_back(*c == 'e' ? L'E' : static_cast<wchar_t>(*c));
    }
    return text;
}

HRESULT ToText(const VARIANT& value, USHORT flags, VARIANT* result) {
    switch (value.Vt()) {
        case VT_EMPTY:
            *result = VARIANT(BSTR());
            return S_OK;
        case VT_BOOL: {
            const bool isTrue = value.Get<VARIANT_BOOL>() != VARIANT_FALSE;
            if ((flags & VARIANT_ALPHABOOL) != 0) {
                *result = VARIANT(isTrue ? L"True" : L"False");
            } else {
                *result = VARIANT(isTrue ? L"-1" : L"0");
            }
            return S_OK;
        }
        case VT_R4:
            *result = VARIANT(RealText(value.Get<float>(), 7));
            return S_OK;
        case VT_R8:
            *result = VARIANT(RealText(value.Get<double>(), 15));
            return S_OK;
        case VT_DATE:
            return DISP_E_TYPEMISMATCH;
        default:
            break;
    }
    Number number;
    if (FAILED(NumberOf(value, VT_BSTR, &number))) {
        return DISP_E_TYPEMISMATCH;
    }
    *result = VARIANT(number.kind == Number::Kind::Signed ? std::to_wstring(number.signedValue)
                                                          : std::to_wstring(number.unsignedValue));
    return S_OK;
}

HRESULT ToObject(const VARIANT& value, VARTYPE vt, VARIANT* result) {
    switch (value.Vt()) {
        case VT_EMPTY:
            *result = vt == VT_DISPATCH ? VARIANT(static_cast<IDispatch*>(nullptr))
                                        : VARIANT(static_cast<IUnknown*>(nullptr));
            return S_OK;
        case VT_DISPATCH:
            *result = VARIANT(value.Unknown());
            return S_OK;
        case VT_UNKNOWN: {
            CComPtr<IUnknown> object(value.Unknown());
            CComPtr<IDispatch> dispatch;
            if (object != nullptr && FAILED(object.QueryInterface(&dispatch))) {
                return DISP_E_TYPEMISMATCH;
            }
            *result = VARIANT(dispatch.Get());
            return S_OK;
        }
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

HRESULT Convert(const VARIANT& value, VARTYPE vt, USHORT flags, VARIANT* result) {
    if (value.Vt() == vt) {
        *result = value;
        return S_OK;
    }
    if (vt == VT_EMPTY) {
        *result = VARIANT();
        return S_OK;
    }
    if (vt == VT_NULL) {
        *result = VARIANT::Null();
        return S_OK;
    }
    if (((value.Vt() | vt) & VT_ARRAY) != 0) {
        return DISP_E_TYPEMISMATCH;
    }
    switch (vt) {
        case VT_BSTR:
            return ToText(value, flags, result);
        case VT_UNKNOWN:
        case VT_DISPATCH:
            return ToObject(value, vt, result);
        case VT_ERROR:
            return DISP_E_TYPEMISMATCH;
        default: {
            Number number;
            const HRESULT hr = NumberOf(value, vt, &number);
            return FAILED(hr) ? hr : ToNumber(number, vt, result);
        }
    }
}

}  // namespace

HRESULT VariantChangeType(VARIANT* destination, const VARIANT* source, USHORT flags, VARTYPE vt) {
    if (destination == nullptr || source == nullptr) {
        return E_POINTER;
    }
    if (!IsValueVt(vt)) {
        return DISP_E_BADVARTYPE;
    }
    VARIANT result;
    const HRESULT hr = Convert(*source, vt, flags, &result);
    if (SUCCEEDED(hr)) {
        *destination = std::move(result);
    }
    return hr;
}
