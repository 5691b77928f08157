#include "vtranscodeserver/vnocasematcher.h"

#include <algorithm>

#include "qlib/qsys/nocase.h"
#include "qlib/qsys/textcodec.h"

namespace {

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

char AsciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

CVNoCaseMatcher::CVNoCaseMatcher(std::wstring_view text)
    : m_wide(text), m_utf8(qsys::ToUtf8(text)), m_ascii(IsAscii(m_utf8)) {}

bool CVNoCaseMatcher::Matches(std::string_view utf8) const {
    if (m_ascii && IsAscii(utf8)) {
        return utf8.size() == m_utf8.size() &&
               std::equal(utf8.begin(), utf8.end(), m_utf8.begin(),
                          [](char a, char b) { return AsciiUpper(a) == AsciiUpper(b); });
    }
    return qsys::EqualsIgnoreCase(qsys::FromUtf8(utf8), m_wide);
}
