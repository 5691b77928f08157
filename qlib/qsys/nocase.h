#pragma once
// Case-insensitive comparison of names (registry keys and values), as the system this layer
// stands in for compares them: character by character after upper-casing with the Unicode
// simple mapping (the C.UTF-8 locale's table, so "é" matches "É" whatever the process locale).
//
// Stateless; safe to call from any thread.

#include <string>
#include <string_view>

namespace qsys {

wchar_t ToUpperInvariant(wchar_t c);

// The text upper-cased character by character: a key under which names that differ only in
// case are equal.
std::wstring FoldCase(std::wstring_view text);

bool EqualsIgnoreCase(std::wstring_view left, std::wstring_view right);

// <0, 0 or >0 like wcscmp, on the upper-cased texts.
int CompareIgnoreCase(std::wstring_view left, std::wstring_view right);

}  // namespace qsys
