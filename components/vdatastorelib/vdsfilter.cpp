#include "components/vdatastorelib/vdsfilter.h"

#include <charconv>
#include <limits>

#include "components/vdatastorelib/vdatastorelib.h"
#include "qlib/qutilitylib/qexception.h"

namespace {

bool IsNameCharacter(wchar_t character, bool first) {
    const bool letter = (character >= L'A' && character <= L'Z') ||
                        (character >= L'a' && character <= L'z') || character == L'_';
    return letter || (!first && character >= L'0' && character <= L'9');
}

// A filter text is read left to right; every failure names the filter and what went wrong.
class FilterReader {
public:
    explicit FilterReader(std::wstring_view text) : m_text(text) {}

    SVDSFilter Read() {
        SVDSFilter filter;
        SkipBlanks();
        filter.className = ReadName(L"a class name");
        Expect(L'.', L"a \".\" after the class name");
        filter.property = ReadName(L"a property name");
        SkipBlanks();
        Expect(L'=', L"\"=\" after the property name");
        SkipBlanks();
        if (AtEnd()) {
            Fail(L"a value is missing after \"=\"");
        }
        if (m_text[m_position] == L'"') {
            filter.value = ReadQuoted();
        } else {
            filter.value = ReadInteger();
        }
        SkipBlanks();
        if (!AtEnd()) {
            Fail(L"unexpected text after the value");
        }
        return filter;
    }

    [[noreturn]] void Fail(std::wstring_view reason) const {
        CQException error(
            L"The filter " + Quote(m_text) + L" is not understood: " + std::wstring(reason) + L".",
            VDSERR_INVALID_FILTER);
        error.AddValue(L"Filter", m_text);
        throw error;
    }

private:
    static std::wstring Quote(std::wstring_view text) {
        constexpr size_t k_shown = 200;
        std::wstring shown(text.substr(0, k_shown));
        return L"'" + shown + (text.size() > k_shown ? L"...'" : L"'");
    }

    bool AtEnd() const { return m_position >= m_text.size(); }

    void SkipBlanks() {
        while (!AtEnd() && (m_text[m_position] == L' ' || m_text[m_position] == L'\t')) {
            ++m_position;
        }
    }

    // what: a literal, measured only when it is reported.
    void Expect(wchar_t character, const wchar_t* what) {
        if (AtEnd() || m_text[m_position] != character) {
            Fail(L"expected " + std::wstring(what));
        }
        ++m_position;
    }

    std::wstring ReadName(const wchar_t* what) {
        const size_t start = m_position;
        while (!AtEnd() && IsNameCharacter(m_text[m_position], m_position == start)) {
            ++m_position;
        }
        if (m_position == start) {
            Fail(L"expected " + std::wstring(what));
        }
        return std::wstring(m_text.substr(start, m_position - start));
    }

    std::wstring ReadQuoted() {
        ++m_position;  // the opening quote
        std::wstring value;
        value.reserve(m_text.size() - m_position);
        while (!AtEnd() && m_text[m_position] != L'"') {
            wchar_t character = m_text[m_position++];
            if (character == L'\\') {
                if (AtEnd() || (m_text[m_position] != L'"' && m_text[m_position] != L'\\')) {
                    Fail(L"a backslash inside the quotes must be followed by \" or \\");
                }
                character = m_text[m_position++];
            }
            value += character;
        }
        if (AtEnd()) {
            Fail(L"the closing quote is missing");
        }
        ++m_position;  // the closing quote
        return value;
    }

    int64_t ReadInteger() {
        const size_t start = m_position;
        if (m_text[m_position] == L'-') {
            ++m_position;
        }
        std::string digits = m_text[start] == L'-' ? "-" : "";
        while (!AtEnd() && m_text[m_position] >= L'0' && m_text[m_position] <= L'9') {
            digits += static_cast<char>(m_text[m_position++]);
        }
        if (digits.empty() || digits == "-") {
            Fail(L"the value must be a quoted text or a decimal integer");
        }
        int64_t value = 0;
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (error != std::errc() || end != digits.data() + digits.size()) {
            Fail(L"the integer does not fit in 64 bits");
        }
        return value;
    }

    std::wstring_view m_text;
    size_t m_position = 0;
};

}  // namespace

std::optional<SVDSFilter> CVDSFilter::Parse(std::wstring_view text) {
    FilterReader reader(text);
    if (text.size() > k_maxLength) {
        reader.Fail(L"it is longer than 65536 characters");
    }
    if (text.find_first_not_of(L" \t") == std::wstring_view::npos) {
        return std::nullopt;
    }
    SVDSFilter filter = reader.Read();
    if (filter.IsGuid() && !std::holds_alternative<std::wstring>(filter.value)) {
        reader.Fail(L"Item.GUID takes a quoted value");
    }
    return filter;
}

bool CVDSFilter::IsName(std::wstring_view text) {
    if (text.empty()) {
        return false;
    }
    for (size_t index = 0; index < text.size(); ++index) {
        if (!IsNameCharacter(text[index], index == 0)) {
            return false;
        }
    }
    return true;
}
