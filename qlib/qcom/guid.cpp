#include "qlib/qcom/guid.h"

#include <random>

namespace {

// Writes the `digits` upper-case hexadecimal digits of value at out; returns the end.
wchar_t* WriteHex(wchar_t* out, uint64_t value, int digits) {
    static constexpr wchar_t k_digits[] = L"0123456789ABCDEF";
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
        *out++ = k_digits[(value >> shift) & 0xF];
    }
    return out;
}

std::optional<uint64_t> ParseHex(std::wstring_view text) {
    uint64_t value = 0;
    for (wchar_t c : text) {
        int digit = 0;
        if (c >= L'0' && c <= L'9') {
            digit = c - L'0';
        } else if (c >= L'a' && c <= L'f') {
            digit = c - L'a' + 10;
        } else if (c >= L'A' && c <= L'F') {
            digit = c - L'A' + 10;
        } else {
            return std::nullopt;
        }
        value = value * 16 + static_cast<uint64_t>(digit);
    }
    return value;
}

}  // namespace

std::wstring GuidToString(const GUID& guid) {
    // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
    std::wstring text(38, L'-');
    wchar_t* out = text.data();
    *out++ = L'{';
    out = WriteHex(out, guid.Data1, 8) + 1;
    out = WriteHex(out, guid.Data2, 4) + 1;
    out = WriteHex(out, guid.Data3, 4) + 1;
    out = WriteHex(out, guid.Data4[0], 2);
    out = WriteHex(out, guid.Data4[1], 2) + 1;
    for (int i = 2; i < 8; ++i) {
        out = WriteHex(out, guid.Data4[i], 2);
    }
    *out = L'}';
    return text;
}

std::optional<GUID> GuidFromString(std::wstring_view text) {
    if (text.size() == 38 && text.front() == L'{' && text.back() == L'}') {
        text = text.substr(1, 36);
    }
    if (text.size() != 36 || text[8] != L'-' || text[13] != L'-' || text[18] != L'-' ||
        text[23] != L'-') {
        return std::nullopt;
    }
    const auto data1 = ParseHex(text.substr(0, 8));
    const auto data2 = ParseHex(text.substr(9, 4));
    const auto data3 = ParseHex(text.substr(14, 4));
    const auto data4High = ParseHex(text.substr(19, 4));
    const auto data4Low = ParseHex(text.substr(24, 12));
    if (!data1 || !data2 || !data3 || !data4High || !data4Low) {
        return std::nullopt;
    }
    GUID guid;
    guid.Data1 = static_cast<uint32_t>(*data1);
    guid.Data2 = static_cast<uint16_t>(*data2);
    guid.Data3 = static_cast<uint16_t>(*data3);
    guid.Data4[0] = static_cast<uint8_t>(*data4High >> 8);
    guid.Data4[1] = static_cast<uint8_t>(*data4High);
    for (int i = 0; i < 6; ++i) {
        guid.Data4[2 + i] = static_cast<uint8_t>(*data4Low >> (8 * (5 - i)));
    }
    return guid;
}

GUID NewGuid() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    const uint64_t high = generator();
    const uint64_t low = generator();
    GUID guid;
    guid.Data1 = static_cast<uint32_t>(high >> 32);
    guid.Data2 = static_cast<uint16_t>(high >> 16);
    guid.Data3 = static_cast<uint16_t>((high & 0x0FFF) | 0x4000);
    for (int i = 0; i < 8; ++i) {
        guid.Data4[i] = static_cast<uint8_t>(low >> (8 * (7 - i)));
    }
    guid.Data4[0] = static_cast<uint8_t>((guid.Data4[0] & 0x3F) | 0x80);
    return guid;
}

size_t std::hash<GUID>::operator()(const GUID& guid) const noexcept {
    uint64_t value = (static_cast<uint64_t>(guid.Data1) << 32) ^
                     (static_cast<uint64_t>(guid.Data2) << 16) ^ guid.Data3;
    for (uint8_t byte : guid.Data4) {
        value = value * 1099511628211ull ^ byte;
    }
    return static_cast<size_t>(value);
}
