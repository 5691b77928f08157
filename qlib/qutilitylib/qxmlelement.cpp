#include "qlib/qutilitylib/qxmlelement.h"

#include <array>
#include <cstdint>
#include <cwchar>
#include <unordered_set>
#include <utility>

#include "qlib/qutilitylib/qstring.h"

namespace {

struct Entity {
    wchar_t character;
    std::wstring_view reference;
};

constexpr std::array k_entities{
    Entity{L'&', L"&amp;"}, Entity{L'"', L"&quot;"}, Entity{L'\'', L"&apos;"},
    Entity{L'<', L"&lt;"},  Entity{L'>', L"&gt;"},
};

// The longest reference decoded: "&#x" and eight hexadecimal digits, then ";".
constexpr size_t k_longestReference = 12;
constexpr std::wstring_view k_whiteSpace = L" \t\r\n";
constexpr std::wstring_view k_nameEnd = L" /\t\r\n>";

bool IsWhiteSpace(wchar_t character) {
    return k_whiteSpace.find(character) != std::wstring_view::npos;
}

std::wstring_view Trim(std::wstring_view text) {
    const size_t first = text.find_first_not_of(k_whiteSpace);
    if (first == std::wstring_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(k_whiteSpace) - first + 1);
}

// The character of a reference "&#NN;" or "&#xHH;" (without "&" and ";"), if it names a
// Unicode scalar value.
std::optional<wchar_t> DecodeCharacterReference(std::wstring_view body) {
    if (body.size() < 2 || body[0] != L'#') {
        return std::nullopt;
    }
    const bool hex = body[1] == L'x' || body[1] == L'X';
    const std::wstring_view digits = body.substr(hex ? 2 : 1);
    if (digits.empty() || digits.size() > 8) {
        return std::nullopt;
    }
    unsigned long value = 0;
    for (wchar_t digit : digits) {
        const int base = hex ? 16 : 10;
        int number = -1;
        if (digit >= L'0' && digit <= L'9') {
            number = digit - L'0';
        } else if (hex && digit >= L'a' && digit <= L'f') {
            number = digit - L'a' + 10;
        } else if (hex && digit >= L'A' && digit <= L'F') {
            number = digit - L'A' + 10;
        }
        if (number < 0) {
            return std::nullopt;
        }
        value = value * base + static_cast<unsigned long>(number);
    }
    if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return std::nullopt;
    }
    return static_cast<wchar_t>(value);
}

// Whether XML 1.0 allows the character anywhere in a document.
bool IsXmlCharacter(wchar_t character) {
    const auto value = static_cast<std::uint32_t>(character);
    return value == 0x9 || value == 0xA || value == 0xD || (value >= 0x20 && value <= 0xD7FF) ||
           (value >= 0xE000 && value <= 0xFFFD) || (value >= 0x10000 && value <= 0x10FFFF);
}

wchar_t XmlCharacter(wchar_t character) {
    constexpr wchar_t k_replacement = 0xFFFD;
    return IsXmlCharacter(character) ? character : k_replacement;
}

std::wstring XmlCharacters(std::wstring_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (wchar_t character : text) {
        out += XmlCharacter(character);
    }
    return out;
}

// Names keep to ASCII: readers that follow older editions of XML 1.0 (expat among them) reject
// some letters that newer editions allow.
bool IsAsciiLetter(wchar_t character) {
    return (character >= L'a' && character <= L'z') || (character >= L'A' && character <= L'Z');
}

bool IsNameCharacter(wchar_t character) {
    return IsAsciiLetter(character) || (character >= L'0' && character <= L'9') ||
           character == L'_' || character == L'-' || character == L'.';
}

enum class TextPlace { Content, AttributeValue };

std::wstring CharacterReference(wchar_t character) {
    return L"&#" + std::to_wstring(static_cast<int>(character)) + L';';
}

// A reader trims white space at the ends of a text and turns CR into LF (in an attribute value,
// tab, CR and LF into spaces); those characters are written as references so that the text
// comes back as it was.
bool NeedsReference(wchar_t character, bool atEdge, TextPlace place) {
    if (character == L'\r') {
        return true;
    }
    if (place == TextPlace::AttributeValue) {
        return character == L'\t' || character == L'\n';
    }
    return atEdge && IsWhiteSpace(character);
}

std::wstring EncodeText(std::wstring_view text, TextPlace place) {
    std::wstring out;
    out.reserve(text.size());
    const size_t first = text.find_first_not_of(k_whiteSpace);
    const size_t last = text.find_last_not_of(k_whiteSpace);
    for (size_t index = 0; index < text.size(); ++index) {
        const wchar_t character = text[index];
        const bool atEdge = first == std::wstring_view::npos || index < first || index > last;
        const Entity* found = nullptr;
        for (const auto& entity : k_entities) {
            if (entity.character == character) {
                found = &entity;
            }
        }
        if (found != nullptr) {
            out += found->reference;
        } else if (NeedsReference(character, atEdge, place)) {
            out += CharacterReference(character);
        } else {
            out += XmlCharacter(character);
        }
    }
    return out;
}

std::wstring WrittenText(std::wstring_view text, TextPlace place, bool encode) {
    return encode ? EncodeText(text, place) : XmlCharacters(text);
}

// No "--" inside and no "-" at the end, which would close the comment early.
std::wstring SafeComment(std::wstring_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (wchar_t character : text) {
        if (character == L'-' && !out.empty() && out.back() == L'-') {
            out += L' ';
        }
        out += XmlCharacter(character);
    }
    if (!out.empty() && out.back() == L'-') {
        out += L' ';
    }
    return out;
}

std::wstring SafeCData(std::wstring_view text) {
    // A "]]>" inside the text ends one block and starts the next.
    std::wstring out = XmlCharacters(text);
    for (size_t at = out.find(L"]]>"); at != std::wstring::npos; at = out.find(L"]]>", at + 15)) {
        out.replace(at, 3, L"]]]]><![CDATA[>");
    }
    return out;
}

void AppendTag(std::wstring& out, std::wstring_view name,
               const std::vector<SQXMLAttribute>& attributes, bool encode) {
    out += L'<';
    out += name;
    std::unordered_set<std::wstring> written;
    for (const auto& attribute : attributes) {
        std::wstring attributeName = CQXMLElement::MakeName(attribute.name);
        if (attributes.size() > 1 && !written.insert(attributeName).second) {
            continue;
        }
        out += L' ';
        out += attributeName;
        out += L"=\"";
        out += WrittenText(attribute.value, TextPlace::AttributeValue, encode);
        out += L'"';
    }
}

}  // namespace

// Parses one element at a time, recursively, with a bounded depth. Every function either
// consumes input or records an error and returns false, so a parse always ends.
class CQXMLParser {
public:
    CQXMLParser(std::wstring_view text, SQXMLParseState& state) : m_text(text), m_state(state) {}

    bool ParseDocument(CQXMLElement& root) {
        for (;;) {
            m_position = m_text.find(L'<', m_position);
            if (m_position == std::wstring_view::npos) {
                return Fail(EQXMLError_NotClosed, m_text.size(), L"Element must be closed.");
            }
            if (StartsWith(L"<?")) {
                if (!SkipPast(L"?>", L"<? must be closed with ?>")) {
                    return false;
                }
            } else if (StartsWith(L"<!--")) {
                if (!SkipPast(L"-->", L"<!-- must be closed with -->")) {
                    return false;
                }
            } else if (StartsWith(L"<!")) {
                if (!SkipDeclaration()) {
                    return false;
                }
            } else {
                return ParseElement(root, 1);
            }
        }
    }

private:
    bool Fail(int code, size_t position, std::wstring text) {
        if (!m_state.error) {
            m_state.error = true;
            m_state.errorCode = code;
            m_state.errorPosition = position;
            m_state.errorText = std::move(text);
        }
        return false;
    }

    bool StartsWith(std::wstring_view prefix) const {
        return m_text.substr(m_position).starts_with(prefix);
    }

    // Moves past the next terminator, or fails without reading past the end.
    bool SkipPast(std::wstring_view terminator, const wchar_t* error) {
        const size_t end = m_text.find(terminator, m_position);
        if (end == std::wstring_view::npos) {
            return Fail(EQXMLError_NotClosed, m_position, error);
        }
        m_position = end + terminator.size();
        return true;
    }

    // "<!DOCTYPE ...>" and the like, with an internal subset in brackets.
    bool SkipDeclaration() {
        int brackets = 0;
        for (size_t index = m_position + 2; index < m_text.size(); ++index) {
            const wchar_t character = m_text[index];
            if (character == L'[') {
                ++brackets;
            } else if (character == L']' && brackets > 0) {
                --brackets;
            } else if (character == L'>' && brackets == 0) {
                m_position = index + 1;
                return true;
            }
        }
        return Fail(EQXMLError_NotClosed, m_position, L"<! must be closed with >");
    }

    std::wstring Value(std::wstring_view raw) const {
        const std::wstring_view trimmed = m_state.trimValues ? Trim(raw) : raw;
        return m_state.decodeEntities ? CQXMLElement::DecodeEntities(trimmed)
                                      : std::wstring(trimmed);
    }

    void SkipWhiteSpace() {
        while (m_position < m_text.size() && IsWhiteSpace(m_text[m_position])) {
            ++m_position;
        }
    }

    // At "<" of a start tag: the whole element into element.
    bool ParseElement(CQXMLElement& element, int depth) {
        if (depth > CQXMLElement::k_maxDepth) {
            return Fail(EQXMLError_TooDeep, m_position,
                        CQStringHelper::Format(L"Elements are nested deeper than %d levels.",
                                               CQXMLElement::k_maxDepth));
        }
        ++m_position;
        const size_t nameEnd = std::min(m_text.find_first_of(k_nameEnd, m_position), m_text.size());
        element.m_name = m_text.substr(m_position, nameEnd - m_position);
        m_position = nameEnd;
        bool empty = false;
        if (!ParseAttributes(element, empty)) {
            return false;
        }
        return empty || ParseContent(element, depth);
    }

    // Attributes up to ">" or "/>"; empty tells which.
    bool ParseAttributes(CQXMLElement& element, bool& empty) {
        for (;;) {
            SkipWhiteSpace();
            if (m_position >= m_text.size()) {
                return Fail(EQXMLError_NotClosed, m_position, L"Element must be closed.");
            }
            if (m_text[m_position] == L'>') {
                ++m_position;
                return true;
            }
            if (StartsWith(L"/>")) {
                m_position += 2;
                empty = true;
                return true;
            }
            if (!ParseAttribute(element)) {
                return false;
            }
        }
    }

    bool ParseAttribute(CQXMLElement& element) {
        const size_t nameStart = m_position;
        const size_t nameEnd =
            std::min(m_text.find_first_of(L" \t\r\n=/>", m_position), m_text.size());
        const std::wstring_view name = m_text.substr(nameStart, nameEnd - nameStart);
        m_position = nameEnd;
        SkipWhiteSpace();
        if (name.empty() || m_position >= m_text.size() || m_text[m_position] != L'=') {
            return AttributeError(element, nameStart);
        }
        ++m_position;
        SkipWhiteSpace();
        if (m_position >= m_text.size() ||
            (m_text[m_position] != L'"' && m_text[m_position] != L'\'')) {
            return AttributeError(element, nameStart);
        }
        const wchar_t quote = m_text[m_position++];
        const size_t valueEnd = m_text.find(quote, m_position);
        if (valueEnd == std::wstring_view::npos) {
            return AttributeError(element, nameStart);
        }
        const std::wstring_view raw = m_text.substr(m_position, valueEnd - m_position);
        m_position = valueEnd + 1;
        // Appended as written (a repeated name stays repeated): looking each name up would
        // make an element with very many attributes quadratic.
        element.m_attributes.push_back({std::wstring(name), m_state.decodeEntities
                                                                ? CQXMLElement::DecodeEntities(raw)
                                                                : std::wstring(raw)});
        return true;
    }

    bool AttributeError(const CQXMLElement& element, size_t position) {
        return Fail(EQXMLError_Malformed, position,
                    CQStringHelper::Format(L"<%s> attribute has error ", element.m_name));
    }

    // After the start tag: text, children and the end tag.
    bool ParseContent(CQXMLElement& element, int depth) {
        std::wstring text;
        const auto finish = [&](bool result) {
            element.m_text = Value(text);
            return result;
        };
        for (;;) {
            const size_t next = m_text.find(L'<', m_position);
            if (next == std::wstring_view::npos) {
                return finish(Fail(EQXMLError_NotClosed, m_text.size(),
                                   CQStringHelper::Format(L"%s must be closed with </%s>",
                                                          element.m_name, element.m_name)));
            }
            text += m_text.substr(m_position, next - m_position);
            m_position = next;
            if (StartsWith(L"</")) {
                return finish(ParseEndTag(element));
            }
            if (!ParseChildNode(element, depth)) {
                return finish(false);
            }
        }
    }

    bool ParseEndTag(const CQXMLElement& element) {
        const size_t start = m_position;
        const size_t close = m_text.find(L'>', m_position);
        if (close == std::wstring_view::npos) {
            return Fail(EQXMLError_NotClosed, start,
                        CQStringHelper::Format(L"it must be closed with </%s>", element.m_name));
        }
        const std::wstring_view name = Trim(m_text.substr(start + 2, close - start - 2));
        m_position = close + 1;
        if (name != element.m_name) {
            return Fail(EQXMLError_NotNested, start,
                        CQStringHelper::Format(L"'<%s> ... </%s>' is not wel-formed.",
                                               element.m_name, name));
        }
        return true;
    }

    // At "<" inside an element: a comment, CDATA block, declaration or child element.
    bool ParseChildNode(CQXMLElement& element, int depth) {
        if (StartsWith(L"<!--")) {
            return ParseBlock(element, L"<!--", L"-->", EQXMLKind_Comment);
        }
        if (StartsWith(L"<![CDATA[")) {
            return ParseBlock(element, L"<![CDATA[", L"]]>", EQXMLKind_CData);
        }
        if (StartsWith(L"<?")) {
            return SkipPast(L"?>", L"<? must be closed with ?>");
        }
        if (StartsWith(L"<!")) {
            return SkipDeclaration();
        }
        CQXMLElement child;
        const bool parsed = ParseElement(child, depth + 1);
        // A child without a name is dropped; one that failed keeps what it read.
        if (!child.m_name.empty()) {
            element.AppendChild(std::move(child));
        }
        return parsed;
    }

    bool ParseBlock(CQXMLElement& element, std::wstring_view open, std::wstring_view close,
                    EQXMLKind kind) {
        const size_t start = m_position + open.size();
        const size_t end = m_text.find(close, start);
        if (end == std::wstring_view::npos) {
            return Fail(EQXMLError_NotClosed, m_position,
                        CQStringHelper::Format(L"%s must be closed with %s", open, close));
        }
        std::wstring text(m_text.substr(start, end - start));
        element.AppendChild(kind == EQXMLKind_Comment ? CQXMLElement::Comment(std::move(text))
                                                      : CQXMLElement::CData(std::move(text)));
        m_position = end + close.size();
        return true;
    }

    std::wstring_view m_text;
    SQXMLParseState& m_state;
    size_t m_position = 0;
};

CQXMLElement::CQXMLElement(std::wstring name, std::wstring text, EQXMLKind kind)
    : m_name(std::move(name)), m_text(std::move(text)), m_kind(kind) {}

CQXMLElement::CQXMLElement(const CQXMLElement& other)
    : m_name(other.m_name),
      m_text(other.m_text),
      m_attributes(other.m_attributes),
      m_kind(other.m_kind) {
    m_children.reserve(other.m_children.size());
    for (const auto& child : other.m_children) {
        m_children.push_back(std::make_unique<CQXMLElement>(*child));
    }
    AdoptChildren();
}

CQXMLElement::CQXMLElement(CQXMLElement&& other) noexcept
    : m_name(std::move(other.m_name)),
      m_text(std::move(other.m_text)),
      m_children(std::move(other.m_children)),
      m_attributes(std::move(other.m_attributes)),
      m_kind(other.m_kind) {
    AdoptChildren();
}

CQXMLElement& CQXMLElement::operator=(const CQXMLElement& other) {
    if (this != &other) {
        *this = CQXMLElement(other);
    }
    return *this;
}

CQXMLElement& CQXMLElement::operator=(CQXMLElement&& other) noexcept {
    if (this != &other) {
        // The parent of this element stays; other's subtree moves under it.
        m_name = std::move(other.m_name);
        m_text = std::move(other.m_text);
        m_children = std::move(other.m_children);
        m_attributes = std::move(other.m_attributes);
        m_kind = other.m_kind;
        AdoptChildren();
    }
    return *this;
}

void CQXMLElement::AdoptChildren() {
    for (auto& child : m_children) {
        child->m_parent = this;
    }
}

CQXMLElement CQXMLElement::Comment(std::wstring text) {
    return CQXMLElement(std::wstring(k_commentName), std::move(text), EQXMLKind_Comment);
}

CQXMLElement CQXMLElement::CData(std::wstring text) {
    return CQXMLElement(std::wstring(k_cdataName), std::move(text), EQXMLKind_CData);
}

std::optional<std::wstring> CQXMLElement::GetAttribute(std::wstring_view name) const {
    for (const auto& attribute : m_attributes) {
        if (attribute.name == name) {
            return attribute.value;
        }
    }
    return std::nullopt;
}

void CQXMLElement::SetAttribute(std::wstring_view name, std::wstring value) {
    for (auto& attribute : m_attributes) {
        if (attribute.name == name) {
            attribute.value = std::move(value);
            return;
        }
    }
    m_attributes.push_back({std::wstring(name), std::move(value)});
}

CQXMLElement& CQXMLElement::AppendChild(CQXMLElement child) {
    m_children.push_back(std::make_unique<CQXMLElement>(std::move(child)));
    m_children.back()->m_parent = this;
    return *m_children.back();
}

CQXMLElement& CQXMLElement::AppendChild(std::wstring name, std::wstring text) {
    return AppendChild(CQXMLElement(std::move(name), std::move(text)));
}

CQXMLElement* CQXMLElement::FindChild(std::wstring_view name) {
    for (auto& child : m_children) {
        if (child->m_name == name) {
            return child.get();
        }
    }
    return nullptr;
}

const CQXMLElement* CQXMLElement::FindChild(std::wstring_view name) const {
    return const_cast<CQXMLElement*>(this)->FindChild(name);
}

bool CQXMLElement::Parse(std::wstring_view text, SQXMLParseState& state) {
    CQXMLElement* const parent = m_parent;
    *this = CQXMLElement();
    m_parent = parent;
    return CQXMLParser(text, state).ParseDocument(*this);
}

std::wstring CQXMLElement::Write(const SQXMLWriteOptions& options) const {
    std::wstring out;
    WriteTo(out, options, options.depth);
    return out;
}

void CQXMLElement::WriteTo(std::wstring& out, const SQXMLWriteOptions& options, int depth) const {
    if (m_kind == EQXMLKind_Document) {
        for (const auto& child : m_children) {
            child->WriteTo(out, options, depth);
        }
        return;
    }
    const auto newLine = [&] {
        if (options.newLines) {
            out += L"\r\n";
            out.append(static_cast<size_t>(std::max(depth, 0)), L'\t');
        }
    };
    newLine();
    if (m_kind == EQXMLKind_Comment) {
        out += L"<!--" + SafeComment(m_text) + L"-->";
        return;
    }
    if (m_kind == EQXMLKind_CData) {
        out += L"<![CDATA[" + SafeCData(m_text) + L"]]>";
        return;
    }
    const std::wstring name = MakeName(m_name);
    AppendTag(out, name, m_attributes, options.encodeEntities);
    if (m_children.empty() && m_text.empty()) {
        out += L"/>";
        return;
    }
    out += L'>';
    out += WrittenText(m_text, TextPlace::Content, options.encodeEntities);
    if (!m_children.empty()) {
        for (const auto& child : m_children) {
            child->WriteTo(out, options, depth + 1);
        }
        newLine();
    }
    out += L"</" + name + L'>';
}

std::wstring CQXMLElement::EncodeEntities(std::wstring_view text) {
    return EncodeText(text, TextPlace::Content);
}

std::wstring CQXMLElement::MakeName(std::wstring_view text) {
    std::wstring name;
    name.reserve(text.size() + 1);
    for (size_t index = 0; index < text.size(); ++index) {
        const wchar_t character = text[index];
        const std::wstring_view rest = text.substr(index);
        if (IsWhiteSpace(character)) {
            continue;
        }
        if (rest.starts_with(L"::") || rest.starts_with(L"()")) {
            name += L'.';
            ++index;
        } else {
            name += IsNameCharacter(character) ? character : L'_';
        }
    }
    if (name.empty() || !(IsAsciiLetter(name.front()) || name.front() == L'_')) {
        name.insert(name.begin(), L'_');
    }
    return name;
}

std::wstring CQXMLElement::DecodeEntities(std::wstring_view text) {
    std::wstring out;
    out.reserve(text.size());
    size_t index = 0;
    while (index < text.size()) {
        const size_t amp = text.find(L'&', index);
        if (amp == std::wstring_view::npos) {
            out += text.substr(index);
            break;
        }
        out += text.substr(index, amp - index);
        index = amp + 1;
        // References are short: look for ";" only nearby, so that text full of "&" stays
        // linear.
        const size_t semicolon = text.substr(0, amp + k_longestReference).find(L';', amp);
        if (semicolon == std::wstring_view::npos) {
            out += L'&';
            continue;
        }
        const std::wstring_view reference = text.substr(amp, semicolon - amp + 1);
        std::optional<wchar_t> decoded;
        for (const auto& entity : k_entities) {
            if (entity.reference == reference) {
                decoded = entity.character;
            }
        }
        if (!decoded) {
            decoded = DecodeCharacterReference(reference.substr(1, reference.size() - 2));
        }
        if (decoded) {
            out += *decoded;
            index = semicolon + 1;
        } else {
            out += L'&';
        }
    }
    return out;
}
