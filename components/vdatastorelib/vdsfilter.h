#pragma once
// CVDSFilter: the query filter grammar of the datastore, and nothing more. A filter is empty
// (only blanks: every item of the queried class), or exactly one of
//
//     Class.Property = "value"      the property holds that text
//     Class.Property = 42           the property holds that integer
//
// Class and Property are names ([A-Za-z_][A-Za-z0-9_]*); blanks (space, tab) may stand around
// the "=" and at either end. Inside the quotes \" stands for " and \\ for \; any other
// backslash is an error, every other character (control and non-ASCII characters included) is
// data. The integer is decimal with an optional "-", within 64 bits. The property "GUID" of
// class "Item" names the item's identifier. A filter is at most k_maxLength characters.
//
// Anything else raises VDSERR_INVALID_FILTER: "The filter <text> is not understood: <reason>."
// with the context value "Filter". The parsed value is never pasted into SQL; the store binds
// it as a parameter.
//
// Stateless; any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

struct SVDSFilter {
    std::wstring className;
    std::wstring property;
    std::variant<std::wstring, int64_t> value;

    bool IsGuid() const { return className == L"Item" && property == L"GUID"; }
};

class CVDSFilter {
public:
    static constexpr size_t k_maxLength = 65536;

    // The filter of the text; nullopt for an empty filter.
    static std::optional<SVDSFilter> Parse(std::wstring_view text);

    // Whether text is a name of the grammar (class, property, schema type).
    static bool IsName(std::wstring_view text);
};
