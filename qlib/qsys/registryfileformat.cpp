#include "qlib/qsys/registryfileformat.h"

#include <charconv>
#include <cstdio>
#include <optional>
#include <vector>

#include "qlib/qsys/nocase.h"
#include "qlib/qsys/registryformaterror.h"
#include "qlib/qsys/registrypath.h"
#include "qlib/qsys/textcodec.h"

namespace qsys {
namespace {

constexpr std::string_view k_header = "REGEDIT4";
constexpr std::string_view k_utf8Mark = "\xEF\xBB\xBF";
constexpr size_t k_hexLineWidth = 77;  // where the registry editor breaks long hex lines

std::string_view Trim(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Reads a hive file line by line and builds its tree; every failure names the line.
class HiveParser {
public:
    HiveParser(std::string_view text, std::wstring_view rootName, const std::string& fileName)
        : m_text(text), m_root(std::wstring(rootName)), m_fileName(fileName) {
        if (m_text.starts_with(k_utf8Mark)) {
            m_text.remove_prefix(k_utf8Mark.size());
        }
    }

    RegistryKeyNode Parse() {
        bool headerSeen = false;
        while (std::optional<std::string_view> line = NextLine()) {
            const std::string_view content = Trim(*line);
            if (content.empty() || content.front() == ';') {
                continue;
            }
            if (!headerSeen) {
                if (content != k_header) {
                    Fail("the file does not start with \"REGEDIT4\"");
                }
                headerSeen = true;
            } else if (content.front() == '[') {
                ParseKeyLine(content);
            } else {
                ParseValueLine(content);
            }
        }
        return std::move(m_root);
    }

private:
    std::optional<std::string_view> NextLine() {
        if (m_position >= m_text.size()) {
            return std::nullopt;
        }
        size_t end = m_text.find('\n', m_position);
        if (end == std::string_view::npos) {
            end = m_text.size();
        }
        std::string_view line = m_text.substr(m_position, end - m_position);
        m_position = end + 1;
        ++m_lineNumber;
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        return line;
    }

    [[noreturn]] void Fail(const std::string& reason) const {
        throw RegistryFormatError(m_fileName, m_lineNumber, reason);
    }

    std::wstring Decode(std::string_view bytes) const {
        std::optional<std::wstring> text = FromUtf8Strict(bytes);
        if (!text) {
            Fail("the line is not valid UTF-8");
        }
        return std::move(*text);
    }

    void ParseKeyLine(std::string_view content) {
        if (!content.ends_with(']')) {
            Fail("a key line must end with \"]\"");
        }
        const std::string_view path = content.substr(1, content.size() - 2);
        if (path.starts_with('-')) {
            Fail("deleting entries (\"[-...]\") cannot appear in a stored hive");
        }
        std::vector<std::wstring> levels = RegistryPath::SplitLevels(Decode(path));
        if (levels.empty() || !EqualsIgnoreCase(levels.front(), m_root.Name())) {
            Fail("the key does not belong to " + ToUtf8(m_root.Name()));
        }
        levels.erase(levels.begin());
        m_currentKey = m_root.Create(levels).first;
    }

    void ParseValueLine(std::string_view content) {
        if (m_currentKey == nullptr) {
            Fail("a value appears before the first key line");
        }
        std::wstring name;
        if (content.front() == '@') {
            content.remove_prefix(1);
        } else if (content.front() == '"') {
            name = ParseQuoted(content);
        } else {
            Fail("a value line must start with a quoted name or \"@\"");
        }
        content = Trim(content);
        if (!content.starts_with('=')) {
            Fail("\"=\" is missing after the value name");
        }
        content = Trim(content.substr(1));
        m_currentKey->SetValue(name, ParseData(content));
    }

    // Reads a quoted string at the start of `content` (with \\ and \" escapes) and removes it
    // from `content`.
    std::wstring ParseQuoted(std::string_view& content) const {
        std::string bytes;
        for (size_t i = 1; i < content.size(); ++i) {
            const char c = content[i];
            if (c == '"') {
                content.remove_prefix(i + 1);
                return Decode(bytes);
            }
            if (c == '\\') {
                if (i + 1 == content.size() || (content[i + 1] != '\\' && content[i + 1] != '"')) {
                    Fail("only \\\\ and \\\" may follow a backslash in a quoted string");
                }
                ++i;
            }
            bytes += content[i];
        }
        Fail("a quoted string is not closed");
    }

    RegistryValue ParseData(std::string_view data) {
        if (data.starts_with('"')) {
            std::wstring text = ParseQuoted(data);
            if (!Trim(data).empty()) {
                Fail("unexpected text after the closing quotation mark");
            }
            return RegistryValue::FromString(text);
        }
        if (data.starts_with("dword:")) {
            return RegistryValue::FromDWord(ParseDWord(data.substr(6)));
        }
        if (data.starts_with("hex:")) {
            return RegistryValue(RegistryType::Binary, ParseHexBytes(data.substr(4)));
        }
        if (data.starts_with("hex(")) {
            const size_t close = data.find("):");
            uint32_t type = 0;
            if (close == std::string_view::npos ||
                !ParseHexNumber(data.substr(4, close - 4), type)) {
                Fail("hex(N): needs the type number N in hexadecimal");
            }
            return RegistryValue(static_cast<RegistryType>(type),
                                 ParseHexBytes(data.substr(close + 2)));
        }
        if (data == "-") {
            Fail("deleting entries (\"=-\") cannot appear in a stored hive");
        }
        Fail("the value data must be a quoted string, dword:, hex: or hex(N):");
    }

    static bool ParseHexNumber(std::string_view digits, uint32_t& value) {
        if (digits.empty() || digits.size() > 8) {
            return false;
        }
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
        return error == std::errc{} && end == digits.data() + digits.size();
    }

    uint32_t ParseDWord(std::string_view digits) const {
        uint32_t value = 0;
        if (!ParseHexNumber(Trim(digits), value)) {
            Fail("dword: needs one to eight hexadecimal digits");
        }
        return value;
    }

    // Comma-separated hex bytes; a line ending in "\" continues on the next line.
    std::vector<uint8_t> ParseHexBytes(std::string_view list) {
        std::vector<uint8_t> bytes;
        for (;;) {
            std::string_view rest = Trim(list);
            const bool continued = rest.ends_with('\\');
            if (continued) {
                rest.remove_suffix(1);
            }
            AppendHexBytes(rest, bytes);
            if (!continued) {
                return bytes;
            }
            const std::optional<std::string_view> next = NextLine();
            if (!next) {
                Fail("the file ends inside a continued hex list");
            }
            list = *next;
        }
    }

    void AppendHexBytes(std::string_view rest, std::vector<uint8_t>& bytes) const {
        while (!(rest = Trim(rest)).empty()) {
            const size_t comma = rest.find(',');
            const std::string_view token = Trim(rest.substr(0, comma));
            uint32_t value = 0;
            if (token.size() > 2 || !ParseHexNumber(token, value)) {
                Fail("a hex list holds something that is not a byte: \"" + std::string(token) +
                     "\"");
            }
            bytes.push_back(static_cast<uint8_t>(value));
            if (comma == std::string_view::npos) {
                break;
            }
            rest.remove_prefix(comma + 1);
        }
    }

    std::string_view m_text;
    RegistryKeyNode m_root;
    const std::string& m_fileName;
    size_t m_position = 0;
    int m_lineNumber = 0;
    RegistryKeyNode* m_currentKey = nullptr;
};

std::string Quote(std::wstring_view text) {
    std::string quoted = "\"";
    for (const char c : ToUtf8(text)) {
        if (c == '\\' || c == '"') {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted + '"';
}

// The text of a REG_SZ whose data is exactly that text in UTF-16LE with one terminator and
// which fits on one line between quotes; nullopt when it must be written as hex(1):.
std::optional<std::wstring> QuotableText(const RegistryValue& value) {
    if (value.Type() != RegistryType::String) {
        return std::nullopt;
    }
    std::optional<std::wstring> text = value.AsString();
    if (!text || text->find_first_of(L"\r\n") != std::wstring::npos ||
        RegistryValue::FromString(*text) != value) {
        return std::nullopt;
    }
    return text;
}

void AppendHexData(std::string& out, const RegistryValue& value) {
    static constexpr char k_digits[] = "0123456789abcdef";
    if (value.Type() == RegistryType::Binary) {
        out += "hex:";
    } else {
        char type[16];
        const auto end =
            std::to_chars(type, type + sizeof type, static_cast<uint32_t>(value.Type()), 16).ptr;
        out += "hex(" + std::string(type, end) + "):";
    }
    size_t column = out.size() - out.rfind('\n') - 1;
    const std::vector<uint8_t>& data = value.Data();
    for (size_t i = 0; i < data.size(); ++i) {
        if (column + 3 > k_hexLineWidth) {
            out += "\\\n  ";
            column = 2;
        }
        out += k_digits[data[i] >> 4];
        out += k_digits[data[i] & 0x0F];
        column += 2;
        if (i + 1 < data.size()) {
            out += ',';
            ++column;
        }
    }
}

void AppendValue(std::string& out, const NamedRegistryValue& entry) {
    out += entry.name.empty() ? std::string("@") : Quote(entry.name);
    out += '=';
    if (const std::optional<std::wstring> text = QuotableText(entry.value)) {
        out += Quote(*text);
    } else if (const std::optional<uint32_t> number = entry.value.AsDWord()) {
        char digits[9];
        std::snprintf(digits, sizeof digits, "%08x", *number);
        out += "dword:";
        out += digits;
    } else {
        AppendHexData(out, entry.value);
    }
    out += '\n';
}

void AppendKey(std::string& out, const RegistryKeyNode& key, const std::wstring& path) {
    out += "\n[" + ToUtf8(path) + "]\n";
    for (const NamedRegistryValue& entry : key.Values()) {
        AppendValue(out, entry);
    }
    for (const auto& subKey : key.SubKeys()) {
        AppendKey(out, *subKey, path + L'\\' + subKey->Name());
    }
}

}  // namespace

RegistryKeyNode RegistryFileFormat::Parse(std::string_view text, std::wstring_view rootName,
                                          const std::string& fileName) {
    return HiveParser(text, rootName, fileName).Parse();
}

std::string RegistryFileFormat::Write(const RegistryKeyNode& root) {
    std::string out(k_header);
    out += '\n';
    AppendKey(out, root, root.Name());
    return out;
}

bool RegistryFileFormat::IsValidValueName(std::wstring_view name) {
    return name.find_first_of(std::wstring_view(L"\0\r\n", 3)) == std::wstring_view::npos;
}

bool RegistryFileFormat::IsValidKeyName(std::wstring_view name) {
    return !name.empty() && IsValidValueName(name) &&
           name.find_first_of(L"\\/") == std::wstring_view::npos;
}

}  // namespace qsys
