#pragma once
// CVValueText: automation values as text for people and as JSON for scripts. An item becomes
// {"class", "guid", "datastore", "properties": [{"name", "namespace", "kind", "value"}]}, an
// enumeration a list of items, an array a list, a string a JSON string (escaped), a number a
// number, a flag true/false, VT_EMPTY/VT_NULL null. Nesting stops at k_maxDepth.
//
// Stateless; any thread.

#include <string>

#include "qlib/qcom/variant.h"
#include "vtranscoder/vitemsinterfaces.h"

class CVValueText {
public:
    static constexpr int k_maxDepth = 16;

    static std::string ToJson(const VARIANT& value, int depth = 0);
    static std::string ToJson(IVItem* item, int depth = 0);
    static std::string JsonString(const std::wstring& text);
    // A value for a person: strings as they are, items as their readable dump.
    static std::wstring ToText(const VARIANT& value);
    // The property `name` in namespace `uri` (VT_EMPTY when the item lacks it).
    static VARIANT Property(IVItem* item, const wchar_t* name, const wchar_t* uri);
};
