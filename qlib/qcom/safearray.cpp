#include "qlib/qcom/safearray.h"

#include <cstdint>
#include <limits>
#include <utility>

#include "qlib/qcom/comerror.h"
#include "qlib/qcom/variant.h"

SAFEARRAY::SAFEARRAY(VARTYPE elementVt, ULONG count, LONG lowerBound)
    : m_elementVt(elementVt), m_lowerBound(lowerBound) {
    if (!IsElementType(elementVt)) {
        throw _com_error(DISP_E_BADVARTYPE);
    }
    if (!FitsLong(lowerBound, count)) {
        throw _com_error(E_INVALIDARG);
    }
    m_elements.assign(count, VARIANT::ZeroOf(elementVt));
}

SAFEARRAY::SAFEARRAY(const SAFEARRAY& other) = default;
SAFEARRAY::SAFEARRAY(SAFEARRAY&& other) noexcept = default;
SAFEARRAY& SAFEARRAY::operator=(const SAFEARRAY& other) = default;
SAFEARRAY& SAFEARRAY::operator=(SAFEARRAY&& other) noexcept = default;
SAFEARRAY::~SAFEARRAY() = default;

bool SAFEARRAY::IsElementType(VARTYPE vt) {
    switch (vt) {
        case VT_I1:
        case VT_UI1:
        case VT_I2:
        case VT_UI2:
        case VT_I4:
        case VT_UI4:
        case VT_I8:
        case VT_UI8:
        case VT_INT:
        case VT_UINT:
        case VT_R4:
        case VT_R8:
        case VT_DATE:
        case VT_BOOL:
        case VT_ERROR:
        case VT_BSTR:
        case VT_DISPATCH:
        case VT_UNKNOWN:
        case VT_VARIANT:
            return true;
        default:
            return false;
    }
}

bool SAFEARRAY::FitsLong(LONG lowerBound, ULONG count) {
    const int64_t last = int64_t{lowerBound} + int64_t{count} - 1;
    return last <= std::numeric_limits<LONG>::max();
}

LONG SAFEARRAY::UpperBound() const {
    return static_cast<LONG>(int64_t{m_lowerBound} + static_cast<int64_t>(m_elements.size()) - 1);
}

ULONG SAFEARRAY::Count() const {
    return static_cast<ULONG>(m_elements.size());
}

std::span<const VARIANT> SAFEARRAY::Elements() const {
    return m_elements;
}

HRESULT SAFEARRAY::GetElement(LONG index, VARIANT* value) const {
    if (value == nullptr) {
        return E_POINTER;
    }
    if (index < m_lowerBound || index > UpperBound()) {
        return DISP_E_BADINDEX;
    }
    *value = m_elements[static_cast<size_t>(int64_t{index} - m_lowerBound)];
    return S_OK;
}

HRESULT SAFEARRAY::ConvertElement(const VARIANT& value, VARIANT* element) const {
    if (m_elementVt == VT_VARIANT) {
        *element = value;
        return S_OK;
    }
    return VariantChangeType(element, &value, 0, m_elementVt);
}

HRESULT SAFEARRAY::PutElement(LONG index, const VARIANT& value) {
    if (index < m_lowerBound || index > UpperBound()) {
        return DISP_E_BADINDEX;
    }
    VARIANT converted;
    const HRESULT hr = ConvertElement(value, &converted);
    if (SUCCEEDED(hr)) {
        m_elements[static_cast<size_t>(int64_t{index} - m_lowerBound)] = std::move(converted);
    }
    return hr;
}

HRESULT SAFEARRAY::Append(const VARIANT& value) {
    if (!FitsLong(m_lowerBound, Count() + 1)) {
        return E_INVALIDARG;
    }
    VARIANT converted;
    const HRESULT hr = ConvertElement(value, &converted);
    if (SUCCEEDED(hr)) {
        m_elements.push_back(std::move(converted));
    }
    return hr;
}

HRESULT SAFEARRAY::Redim(ULONG count) {
    if (!FitsLong(m_lowerBound, count)) {
        return E_INVALIDARG;
    }
    m_elements.resize(count, VARIANT::ZeroOf(m_elementVt));
    return S_OK;
}

bool operator==(const SAFEARRAY& left, const SAFEARRAY& right) {
    return left.m_elementVt == right.m_elementVt && left.m_lowerBound == right.m_lowerBound &&
           left.m_elements == right.m_elements;
}
