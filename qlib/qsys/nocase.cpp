#include "qlib/qsys/nocase.h"

#include <locale.h>
#include <wctype.h>

namespace qsys {
namespace {

// Created once and never freed: comparisons may run during static destruction.
locale_t InvariantLocale() {
    static const locale_t s_locale = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    return s_locale;
}

}  // namespace

wchar_t ToUpperInvariant(wchar_t c) {
    if (c < 0x80) {  // most names are ASCII; the table lookup costs far more
        return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - (L'a' - L'A')) : c;
    }
    const locale_t locale = InvariantLocale();
    const wint_t upper = locale != locale_t{} ? ::towupper_l(static_cast<wint_t>(c), locale)
                                              : ::towupper(static_cast<wint_t>(c));
    return static_cast<wchar_t>(upper);
}

std::wstring FoldCase(std::wstring_view text) {
    std::wstring folded(text);
    for (wchar_t& c : folded) {
        c = ToUpperInvariant(c);
    }
    return folded;
}

int CompareIgnoreCase(std::wstring_view left, std::wstring_view right) {
    const size_t common = left.size() < right.size() ? left.size() : right.size();
    for (size_t i = 0; i < common; ++i) {
        const wchar_t a = ToUpperInvariant(left[i]);
        const wchar_t b = ToUpperInvariant(right[i]);
        if (a != b) {
            return a < b ? -1 : 1;
        }
    }
    if (left.size() == right.size()) {
        return 0;
    }
    return left.size() < right.size() ? -1 : 1;
}

bool EqualsIgnoreCase(std::wstring_view left, std::wstring_view right) {
    return left.size() == right.size() && CompareIgnoreCase(left, right) == 0;
}

}  // namespace qsys
