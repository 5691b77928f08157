#pragma once
// CVNoCaseMatcher: compares one wide text with many UTF-8 texts of a profile database (product
// codes, MIME types, codec names) ignoring case. ASCII texts, which is what the database holds,
// compare byte by byte without converting; any other text goes through the system's case rules
// (qsys::EqualsIgnoreCase), so the answer is the same either way.
//
// Refers to the text it was made with, which must outlive it. Thread-compatible.

#include <string>
#include <string_view>

class CVNoCaseMatcher {
public:
    explicit CVNoCaseMatcher(std::wstring_view text);

    bool Matches(std::string_view utf8) const;

private:
    std::wstring_view m_wide;
    std::string m_utf8;
    bool m_ascii;
};
