#pragma once
// GUID with COM's layout, and its registry form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
// IID names an interface, CLSID a class. Value type; safe to use from any thread.

#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct GUID {
    uint32_t Data1 = 0;
    uint16_t Data2 = 0;
    uint16_t Data3 = 0;
    uint8_t Data4[8] = {};

    friend constexpr bool operator==(const GUID&, const GUID&) = default;
    friend constexpr std::strong_ordering operator<=>(const GUID&, const GUID&) = default;
};

using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline constexpr GUID GUID_NULL{};
inline constexpr IID IID_NULL{};

namespace guid_detail {
consteval uint64_t HexDigits(const char* text, size_t count) {
    uint64_t value = 0;
    for (size_t i = 0; i < count; ++i) {
        const char c = text[i];
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : throw "not a hexadecimal digit";
        value = value * 16 + static_cast<uint64_t>(digit);
    }
    return value;
}
}  // namespace guid_detail

// A GUID written in the source in registry form, checked while compiling:
//     static constexpr IID k_iid = MakeGuid("{B196B286-BAB4-101A-B69C-00AA00341D07}");
template <size_t N>
consteval GUID MakeGuid(const char (&literal)[N]) {
    static_assert(N == 37 || N == 39, "a GUID has 36 characters, or 38 with braces");
    const char* text = N == 39 ? literal + 1 : literal;
    if (text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') {
        throw "a GUID is grouped 8-4-4-4-12";
    }
    GUID guid;
    guid.Data1 = static_cast<uint32_t>(guid_detail::HexDigits(text, 8));
    guid.Data2 = static_cast<uint16_t>(guid_detail::HexDigits(text + 9, 4));
    guid.Data3 = static_cast<uint16_t>(guid_detail::HexDigits(text + 14, 4));
    guid.Data4[0] = static_cast<uint8_t>(guid_detail::HexDigits(text + 19, 2));
    guid.Data4[1] = static_cast<uint8_t>(guid_detail::HexDigits(text + 21, 2));
    for (size_t i = 0; i < 6; ++i) {
        guid.Data4[2 + i] = static_cast<uint8_t>(guid_detail::HexDigits(text + 24 + 2 * i, 2));
    }
    return guid;
}

// Registry form with braces and upper-case hexadecimal digits.
std::wstring GuidToString(const GUID& guid);

// Parses the registry form; braces are optional, hexadecimal digits of either case. nullopt
// for anything else.
std::optional<GUID> GuidFromString(std::wstring_view text);

// A fresh random GUID (version 4, from the system's random source).
GUID NewGuid();

template <>
struct std::hash<GUID> {
    size_t operator()(const GUID& guid) const noexcept;
};
