#include "vtranscodeserver/vregistryscript.h"

#include <array>
#include <cwctype>
#include <utility>

#include "qlib/qsys/nocase.h"
#include "qlib/qutilitylib/qcatch.h"

namespace {

constexpr std::array<std::pair<std::wstring_view, std::wstring_view>, 5> k_roots{{
    {L"HKCR", L"HKEY_CLASSES_ROOT"},
    {L"HKCU", L"HKEY_CURRENT_USER"},
    {L"HKLM", L"HKEY_LOCAL_MACHINE"},
    {L"HKU", L"HKEY_USERS"},
    {L"HKCC", L"HKEY_CURRENT_CONFIG"},
}};

struct Token {
    enum class Kind { End, OpenBrace, CloseBrace, Equals, Word, Quoted } kind = Kind::End;
    std::wstring text;
    int line = 1;
};

// Reads the script token by token and builds the key tree; every method raises on bad input.
class Parser {
public:
    Parser(std::wstring_view text, const CVRegistryScript::Replacements& replacements)
        : m_text(text), m_replacements(replacements) {
        Advance();
    }

    std::vector<SVRegistryScriptKey> Script() {
        std::vector<SVRegistryScriptKey> roots;
        while (m_token.kind != Token::Kind::End) {
            SVRegistryScriptKey root;
            root.name = RootName(Expect(Token::Kind::Word, L"a root key").text);
            root.removal = EVKeyRemoval::NeverRemoved;
            Expect(Token::Kind::OpenBrace, L"'{'");
            Body(root, 1);
            roots.push_back(std::move(root));
        }
        return roots;
    }

private:
    [[noreturn]] void Fail(std::wstring_view what) const {
        CQException error(L"Invalid registration script: " + std::wstring(what) + L".",
                          QERR_INVALID_STRING_FORMAT);
        error.AddValue(L"Line", m_token.line);
        throw error;
    }

    std::wstring RootName(std::wstring_view word) const {
        for (const auto& [shortName, fullName] : k_roots) {
            if (qsys::EqualsIgnoreCase(word, shortName) || qsys::EqualsIgnoreCase(word, fullName)) {
                return std::wstring(fullName);
            }
        }
        Fail(L"unknown root key '" + std::wstring(word) + L"'");
    }

    // Key and named-value entries up to the closing brace (already past the opening one).
    void Body(SVRegistryScriptKey& key, int depth) {
        if (depth > CVRegistryScript::k_maxDepth) {
            Fail(L"keys nested too deeply");
        }
        while (m_token.kind != Token::Kind::CloseBrace) {
            if (IsKeyword(L"val")) {
                Advance();
                std::wstring name = Text(L"a value name");
                Expect(Token::Kind::Equals, L"'='");
                key.values.emplace_back(std::move(name), Value());
            } else {
                key.subkeys.push_back(Key(depth));
            }
        }
        Advance();
    }

    SVRegistryScriptKey Key(int depth) {
        SVRegistryScriptKey key;
        if (IsKeyword(L"NoRemove")) {
            key.removal = EVKeyRemoval::NeverRemoved;
            Advance();
        } else if (IsKeyword(L"ForceRemove")) {
            key.removal = EVKeyRemoval::Recreated;
            Advance();
        }
        key.name = Text(L"a key name");
        if (key.name.empty() || key.name.find_first_of(L"\\/") != std::wstring::npos) {
            Fail(L"a key name must be one non-empty level");
        }
        if (m_token.kind == Token::Kind::Equals) {
            Advance();
            key.defaultValue = Value();
        }
        if (m_token.kind == Token::Kind::OpenBrace) {
            Advance();
            Body(key, depth + 1);
        }
        return key;
    }

    qsys::RegistryValue Value() {
        const bool isString = IsKeyword(L"s");
        if (!isString && !IsKeyword(L"d")) {
            Fail(L"a value type ('s' or 'd') expected");
        }
        Advance();
        const std::wstring text = Text(L"a value");
        if (isString) {
            return qsys::RegistryValue::FromString(text);
        }
        return qsys::RegistryValue::FromDWord(Number(text));
    }

    uint32_t Number(const std::wstring& text) const {
        const bool hex = text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X');
        const size_t start = hex ? 2 : 0;
        if (text.size() == start || text.size() - start > (hex ? 8 : 10)) {
            Fail(L"'" + text + L"' is no 32-bit number");
        }
        uint64_t value = 0;
        for (size_t i = start; i < text.size(); ++i) {
            const wchar_t c = text[i];
            const int digit = std::iswdigit(c)                ? c - L'0'
                              : hex && std::iswxdigit(c) != 0 ? (std::towlower(c) - L'a' + 10)
                                                              : -1;
            if (digit < 0) {
                Fail(L"'" + text + L"' is no 32-bit number");
            }
            value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
        }
        if (value > UINT32_MAX) {
            Fail(L"'" + text + L"' is no 32-bit number");
        }
        return static_cast<uint32_t>(value);
    }

    bool IsKeyword(std::wstring_view keyword) const {
        return m_token.kind == Token::Kind::Word && qsys::EqualsIgnoreCase(m_token.text, keyword);
    }

    std::wstring Text(std::wstring_view what) {
        if (m_token.kind != Token::Kind::Word && m_token.kind != Token::Kind::Quoted) {
            Fail(std::wstring(what) + L" expected");
        }
        std::wstring text = Replace(m_token.text);
        Advance();
        return text;
    }

    Token Expect(Token::Kind kind, std::wstring_view what) {
        if (m_token.kind != kind) {
            Fail(std::wstring(what) + L" expected");
        }
        Token token = std::move(m_token);
        Advance();
        return token;
    }

    std::wstring Replace(std::wstring_view text) const {
        std::wstring result;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] != L'%') {
                result += text[i];
                continue;
            }
            const size_t end = text.find(L'%', i + 1);
            if (end == std::wstring_view::npos) {
                Fail(L"a '%' without its closing '%'");
            }
            const std::wstring name(text.substr(i + 1, end - i - 1));
            if (name.empty()) {
                result += L'%';
            } else if (const auto found = m_replacements.find(name);
                       found != m_replacements.end()) {
                result += found->second;
            } else {
                Fail(L"no replacement for %" + name + L"%");
            }
            i = end;
        }
        return result;
    }

    void Advance() {
        SkipBlanks();
        m_token = Token{Token::Kind::End, {}, m_line};
        if (m_position == m_text.size()) {
            return;
        }
        const wchar_t c = m_text[m_position];
        if (c == L'{' && m_position + 1 < m_text.size() && !IsDelimiter(m_text[m_position + 1])) {
            // A word in braces, such as a class id: it ends at a blank, '=' or a quote.
            m_token.kind = Token::Kind::Word;
            while (m_position < m_text.size() && !IsBracedWordEnd(m_text[m_position])) {
                m_token.text += m_text[m_position++];
            }
        } else if (c == L'{' || c == L'}' || c == L'=') {
            m_token.kind = c == L'{'   ? Token::Kind::OpenBrace
                           : c == L'}' ? Token::Kind::CloseBrace
                                       : Token::Kind::Equals;
            ++m_position;
        } else if (c == L'\'') {
            Quoted();
        } else {
            m_token.kind = Token::Kind::Word;
            while (m_position < m_text.size() && !IsDelimiter(m_text[m_position])) {
                m_token.text += m_text[m_position++];
            }
        }
    }

    void Quoted() {
        m_token.kind = Token::Kind::Quoted;
        ++m_position;
        for (;;) {
            if (m_position == m_text.size()) {
                Fail(L"a quoted text without its closing quote");
            }
            const wchar_t c = m_text[m_position++];
            if (c == L'\n') {
                Fail(L"a quoted text ends at the end of its line");
            }
            if (c != L'\'') {
                m_token.text += c;
            } else if (m_position < m_text.size() && m_text[m_position] == L'\'') {
                m_token.text += c;
                ++m_position;
            } else {
                return;
            }
        }
    }

    static bool IsBracedWordEnd(wchar_t c) {
        return std::iswspace(c) != 0 || c == L'=' || c == L'\'';
    }

    static bool IsDelimiter(wchar_t c) {
        return std::iswspace(c) != 0 || c == L'{' || c == L'}' || c == L'=' || c == L'\'';
    }

    void SkipBlanks() {
        while (m_position < m_text.size() && std::iswspace(m_text[m_position]) != 0) {
            m_line += m_text[m_position] == L'\n' ? 1 : 0;
            ++m_position;
        }
    }

    std::wstring_view m_text;
    const CVRegistryScript::Replacements& m_replacements;
    size_t m_position = 0;
    int m_line = 1;
    Token m_token;
};

}  // namespace

CVRegistryScript CVRegistryScript::Parse(std::wstring_view text, const Replacements& replacements) {
    return CQCatch::Internal([&] {
        CVRegistryScript script;
        script.m_roots = Parser(text, replacements).Script();
        return script;
    });
}
