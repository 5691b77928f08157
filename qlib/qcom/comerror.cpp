#include "qlib/qcom/comerror.h"

#include <cwchar>
#include <exception>
#include <new>
#include <utility>

#include "qlib/qsys/textcodec.h"

_com_error::_com_error(HRESULT hr, std::optional<ErrorInfo> info)
    : m_hr(hr), m_info(std::move(info)) {}

std::wstring _com_error::Description() const {
    return m_info ? m_info->description : std::wstring();
}

std::wstring _com_error::Source() const {
    return m_info ? m_info->source : std::wstring();
}

IID _com_error::GUID() const {
    return m_info ? m_info->interfaceId : GUID_NULL;
}

std::wstring _com_error::ErrorMessage() const {
    if (auto message = HResultMessage(m_hr)) {
        return *message;
    }
    const auto value = static_cast<uint32_t>(m_hr);
    wchar_t buffer[64];
    if (value >= 0x80040200u && value <= 0x8004FFFFu && (value & 0xFFFF) != 0x200) {
        std::swprintf(buffer, std::size(buffer), L"IDispatch error #%d",
                      static_cast<int>((value & 0xFFFF) - 0x200));
    } else {
        std::swprintf(buffer, std::size(buffer), L"Unknown error 0x%0lX",
                      static_cast<unsigned long>(value));
    }
    return buffer;
}

void ThrowIfFailed(HRESULT hr) {
    if (FAILED(hr)) {
        throw _com_error(hr, GetErrorInfo());
    }
}

namespace {

// Error information is a courtesy: without memory for it the HRESULT alone must do.
template <class Make>
void TrySetErrorInfo(Make make) noexcept {
    try {
        SetErrorInfo(make());
    } catch (...) {
    }
}

}  // namespace

HRESULT HResultFromCurrentException() noexcept {
    try {
        throw;
    } catch (const _com_error& error) {
        if (error.HasErrorInfo()) {
            TrySetErrorInfo([&] {
                return ErrorInfo{error.Description(), error.GUID(), error.Source()};
            });
        }
        return error.Error();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const std::exception& error) {
        TrySetErrorInfo([&] { return ErrorInfo{qsys::FromUtf8(error.what()), GUID_NULL, L""}; });
        return E_FAIL;
    } catch (...) {
        return E_UNEXPECTED;
    }
}
