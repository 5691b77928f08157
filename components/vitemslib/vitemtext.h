#pragma once
// CVItemText: the readable dump of an item behind IVItem::GetText, for log lines. One line for
// the item (class name, GUID, datastore), then one line per property, indented, with its
// namespace and value; an item-valued property is dumped in place, one level further in, and
// an enumeration lists its items the same way:
//
//     Item "Video" {5B1E...} datastore "Library"
//       Type [http://www.zelto.com/Ve2e/ns/transcode] = 4 (VT_I4)
//       Source = Item "File" {7C2D...}
//         URI [http://www.zelto.com/VdE] = "/music/a.mp3" (VT_BSTR)
//       Self = Item "Video" {5B1E...} (shown above)
//
// Bounded: an item already being dumped further out (a cycle) is named, not entered again;
// nesting stops at k_maxDepth; the text stops at about k_maxLength characters and then says it
// was cut. Strings are quoted with control characters escaped, so one value is one line.
//
// Works through the interfaces only. One dumper per dump, used by one thread.

#include <set>
#include <string>
#include <string_view>

#include "qlib/qcom/variant.h"
#include "vtranscoder/vitemsinterfaces.h"

class CVItemText {
public:
    static constexpr size_t k_maxLength = 64 * 1024;
    static constexpr int k_maxDepth = 16;

    std::wstring Dump(IVItem* item);

private:
    void AppendItem(IVItem* item, int depth);
    void AppendEnum(IVEnum* items, int depth);
    void AppendProperties(IVItem* item, int depth);
    // The value after "name = ", ending its line (nested lines follow for items).
    void AppendValue(const VARIANT& value, int depth);
    void AppendScalar(const VARIANT& value);
    void AppendQuoted(std::wstring_view text);
    void Append(std::wstring_view text);
    void NewLine(int depth);
    bool Full() const { return m_text.size() >= k_maxLength; }

    std::wstring m_text;
    std::set<IUnknown*> m_open;  // identities of the items and enumerations being dumped
};
