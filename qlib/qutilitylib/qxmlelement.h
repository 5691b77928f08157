#pragma once
// CQXMLElement: the utility library's small XML element tree, with its parser and writer. It
// carries exceptions (CQException is one tree named "error"); the program's other XML
// documents use pugixml.
//
// Ownership: an element owns its children and its attributes; the parent pointer does not own.
// Copying an element copies its whole subtree (the copy has no parent); moving keeps the
// children's parent pointers right.
//
// The parser reads one element (with everything below it) into an element. Malformed text never
// raises: the parse state records the first error (flag, position, code, text) and the tree
// keeps what was read before it. Text may come from other processes, so the parser bounds the
// nesting depth (k_maxDepth, reported as an error rather than a deep recursion), never reads past
// the end of an unterminated comment, CDATA block, declaration or quoted value, and consumes
// input at every step.
//
// Decisions where the format leaves us free:
// - Before the root element, declarations ("<?...?>"), comments and "<!DOCTYPE ...>" are
//   skipped; anything after the root element is ignored. Inside an element, declarations and
//   DOCTYPE blocks are skipped.
// - Text split by child elements is joined, then trimmed (space, tab, CR, LF) and decoded; a
//   whitespace-only text becomes empty. Besides the five entities, "&#NN;" and "&#xHH;" are
//   decoded; any other reference stays as written.
// - Comment and CDATA texts are kept exactly as written.
// - Attribute values must be quoted; an unquoted value is an attribute error. A repeated
//   attribute name is kept as written; GetAttribute gives the first.
// - The writer also writes the text of an element that has children (before the children), so
//   that no text is lost; a parse gives it back.
//
// Every text the writer produces is well-formed XML 1.0 that any standard parser reads, whatever
// the tree holds:
// - Element and attribute names pass through MakeName; an attribute whose written name repeats
//   an earlier one of the same element is left out (GetAttribute gives the first anyway).
// - Characters XML 1.0 forbids (control characters other than tab, CR and LF, lone surrogates,
//   U+FFFE, U+FFFF) become U+FFFD in every text, comment and CDATA block.
// - Texts and attribute values are entity-encoded (see EncodeEntities). So that a reader gets
//   them back unchanged, CR and the white space at either end of a text, and tab, CR and LF in
//   attribute values, are written as character references.
// - A comment's "--" is written "- -" and a final "-" gets a space after it.
// - A "]]>" inside CDATA ends one block and starts the next.
// With SQXMLWriteOptions::encodeEntities off, texts and attribute values are written as they
// stand (the caller vouches for their markup); names, characters and comments are still mended.
// The parser still reads what older writers produced (names such as "A::B()C", raw control
// characters); writing such a tree again gives the mended form.
//
// An element is used by one thread at a time; distinct trees may be used on distinct threads.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum EQXMLKind {
    EQXMLKind_Element,
    EQXMLKind_Document,  // writes only its children
    EQXMLKind_Comment,   // named "#COMMENT"
    EQXMLKind_CData,     // named "#CDATA", text kept unchanged
};

// Error codes of a failed parse.
enum EQXMLError : int {
    EQXMLError_None = 0,
    EQXMLError_Malformed = 1,  // malformed start tag or attribute
    EQXMLError_NotClosed = 2,  // element (or comment, CDATA, declaration) not closed
    EQXMLError_NotNested = 3,  // end tag names another element
    EQXMLError_TooDeep = 4,    // nesting deeper than CQXMLElement::k_maxDepth
};

struct SQXMLAttribute {
    std::wstring name;
    std::wstring value;
};

// Options and result of one parse. Reuse across parses keeps the first error.
struct SQXMLParseState {
    bool trimValues = true;
    bool decodeEntities = true;
    bool error = false;
    size_t errorPosition = 0;  // index into the parsed text where the error was found
    int errorCode = EQXMLError_None;
    std::wstring errorText;
};

struct SQXMLWriteOptions {
    bool newLines = true;  // "\r\n" and one tab per level before each element
    int depth = 0;         // level of the element written
    bool encodeEntities = true;
};

class CQXMLElement {
public:
    static constexpr int k_maxDepth = 256;
    static constexpr std::wstring_view k_commentName = L"#COMMENT";
    static constexpr std::wstring_view k_cdataName = L"#CDATA";

    CQXMLElement() = default;
    explicit CQXMLElement(std::wstring name, std::wstring text = {},
                          EQXMLKind kind = EQXMLKind_Element);
    CQXMLElement(const CQXMLElement& other);
    CQXMLElement(CQXMLElement&& other) noexcept;
    CQXMLElement& operator=(const CQXMLElement& other);
    CQXMLElement& operator=(CQXMLElement&& other) noexcept;
    ~CQXMLElement() = default;

    static CQXMLElement Comment(std::wstring text);
    static CQXMLElement CData(std::wstring text);

    const std::wstring& GetName() const { return m_name; }
    void SetName(std::wstring name) { m_name = std::move(name); }
    const std::wstring& GetText() const { return m_text; }
    void SetText(std::wstring text) { m_text = std::move(text); }
    EQXMLKind GetKind() const { return m_kind; }
    CQXMLElement* GetParent() const { return m_parent; }

    const std::vector<SQXMLAttribute>& GetAttributes() const { return m_attributes; }
    std::optional<std::wstring> GetAttribute(std::wstring_view name) const;
    // Replaces the value of an attribute of that name, or appends a new attribute.
    void SetAttribute(std::wstring_view name, std::wstring value);

    const std::vector<std::unique_ptr<CQXMLElement>>& GetChildren() const { return m_children; }
    // Appends child (taking it over) and returns the appended element.
    CQXMLElement& AppendChild(CQXMLElement child);
    CQXMLElement& AppendChild(std::wstring name, std::wstring text);
    // The first child of that name, or nullptr.
    CQXMLElement* FindChild(std::wstring_view name);
    const CQXMLElement* FindChild(std::wstring_view name) const;
    void RemoveChildren() { m_children.clear(); }

    // Replaces this element by the element that text holds. True on success; on failure the
    // state holds the first error and this element what was read before it.
    bool Parse(std::wstring_view text, SQXMLParseState& state);

    // The element (a document: its children) as XML text.
    std::wstring Write(const SQXMLWriteOptions& options = {}) const;

    // The five predefined entities encoded ("&" -> "&amp;", ...); CR and the white space at
    // either end as character references; characters XML 1.0 forbids become U+FFFD.
    static std::wstring EncodeEntities(std::wstring_view text);
    // The predefined entities and character references decoded; others kept as written.
    static std::wstring DecodeEntities(std::wstring_view text);

    // A name that XML 1.0 accepts, made from any text in one fixed way: white space is removed;
    // "::" and "()" become "."; ":" (namespace-aware readers take it for a prefix) and every
    // other character that cannot stand in a name become "_"; a name that does not begin with a
    // letter or "_" gets "_" in front, and nothing at all becomes "_". A valid name without ":"
    // comes out unchanged ("CQFileUtilities::DeleteDirectory() Path" becomes
    // "CQFileUtilities.DeleteDirectory.Path").
    static std::wstring MakeName(std::wstring_view text);

private:
    friend class CQXMLParser;

    void WriteTo(std::wstring& out, const SQXMLWriteOptions& options, int depth) const;
    void AdoptChildren();

    std::wstring m_name;
    std::wstring m_text;
    std::vector<std::unique_ptr<CQXMLElement>> m_children;
    std::vector<SQXMLAttribute> m_attributes;
    CQXMLElement* m_parent = nullptr;
    EQXMLKind m_kind = EQXMLKind_Element;
};
