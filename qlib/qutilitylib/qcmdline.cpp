#include "qlib/qutilitylib/qcmdline.h"

#include <cwctype>

namespace {

struct Token {
    std::wstring text;
    bool isSwitch = false;
};

bool IsSpace(wchar_t c) {
    return std::iswspace(static_cast<wint_t>(c)) != 0;
}

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    }
    return text;
}

// Reads one token starting at `position` (not white space); leaves `position` after it.
std::wstring ReadToken(std::wstring_view line, size_t& position) {
    if (line[position] == L'"') {
        const size_t end = line.find(L'"', position + 1);
        const size_t stop = end == std::wstring_view::npos ? line.size() : end;
        std::wstring text(line.substr(position + 1, stop - position - 1));
        position = end == std::wstring_view::npos ? line.size() : end + 1;
        return text;
    }
    const size_t start = position;
    while (position < line.size() && !IsSpace(line[position])) {
        ++position;
    }
    return std::wstring(line.substr(start, position - start));
}

void SkipSpace(std::wstring_view line, size_t& position) {
    while (position < line.size() && IsSpace(line[position])) {
        ++position;
    }
}

std::vector<Token> Tokenize(std::wstring_view line) {
    std::vector<Token> tokens;
    size_t position = 0;
    for (SkipSpace(line, position); position < line.size(); SkipSpace(line, position)) {
        Token token;
        token.isSwitch = line[position] == L'-' || line[position] == L'/';
        if (token.isSwitch) {
            ++position;
        }
        token.text = position < line.size() ? ReadToken(line, position) : std::wstring();
        if (token.isSwitch && Lower(token.text) == L"cleards") {
            size_t argument = position;
            SkipSpace(line, argument);
            if (argument < line.size() && line[argument] == L'"') {
                token.text += L' ' + ReadToken(line, argument);
                position = argument;
            }
        }
        tokens.push_back(std::move(token));
    }
    return tokens;
}

}  // namespace

void CQCmdLine::Parse(std::wstring_view commandLine) {
    const std::vector<Token> tokens = Tokenize(commandLine);
    for (size_t index = 0; index < tokens.size(); ++index) {
        OnOption(tokens[index].text, tokens[index].isSwitch, index + 1 == tokens.size());
    }
}

std::wstring CQCmdLine::Join(const std::vector<std::wstring>& arguments) {
    std::wstring line;
    for (const std::wstring& argument : arguments) {
        if (!line.empty()) {
            line += L' ';
        }
        bool quote = argument.empty();
        for (wchar_t c : argument) {
            quote = quote || IsSpace(c);
        }
        line += quote ? L'"' + argument + L'"' : argument;
    }
    return line;
}

void CQCmdLine::OnOption(const std::wstring& token, bool isSwitch, bool /*isLast*/) {
    if (!isSwitch) {
        return;
    }
    const std::wstring name = Lower(token);
    if (name == L"regserver" || name == L"regserverperuser") {
        m_register = true;
        m_perUser = name.ends_with(L"peruser");
    } else if (name == L"unregserver" || name == L"unregserverperuser") {
        m_unregister = true;
        m_perUser = name.ends_with(L"peruser");
    } else if (name == L"embedding" || name == L"automation") {
        m_startedByClient = true;
    }
}
