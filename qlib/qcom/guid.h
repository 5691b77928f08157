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
