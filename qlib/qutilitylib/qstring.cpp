#include "qlib/qutilitylib/qstring.h"

#include <algorithm>
#include <cwchar>
#include <vector>

#include "qlib/qsys/textcodec.h"
#include "qlib/qutilitylib/qbuf.h"
#include "qlib/qutilitylib/qlockholder.h"

namespace {

using Kind = CQStringHelper::FormatArgument::Kind;

// One conversion of a format: "%", flags, width, precision, length, conversion character.
struct Conversion {
    std::wstring flags;  // flags, width and precision as written ("-08", ".3")
    wchar_t type = 0;    // the conversion character; 0 when the format ends inside the conversion
    size_t end = 0;      // index just past the conversion in the format
};

constexpr std::wstring_view k_flagCharacters = L"-+ #0123456789.*";
constexpr std::wstring_view k_lengthCharacters = L"hlLqjztI";

Conversion ParseConversion(std::wstring_view format, size_t percent) {
    Conversion conversion;
    size_t index = percent + 1;
    while (index < format.size() &&
           k_flagCharacters.find(format[index]) != std::wstring_view::npos) {
        conversion.flags += format[index++];
    }
    // Length modifiers are dropped: the argument's own type decides the width.
    while (index < format.size() &&
           k_lengthCharacters.find(format[index]) != std::wstring_view::npos) {
        if (format[index] == L'I' && format.substr(index, 3) == L"I64") {
            index += 2;
        } else if (format[index] == L'I' && format.substr(index, 3) == L"I32") {
            index += 2;
        }
        ++index;
    }
    if (index < format.size()) {
        conversion.type = format[index++];
    }
    conversion.end = index;
    return conversion;
}

// Longest text one conversion may produce: far beyond any width the program writes.
constexpr size_t k_longestConversion = size_t{1} << 20;

// swprintf of one value into out, growing the buffer up to k_longestConversion characters.
// swprintf reports a buffer too small and a failure of its own (a width beyond INT_MAX, a
// character it cannot write) alike, so the growth is bounded: false, with out unchanged, when
// the text has not fitted by then.
template <typename T>
[[nodiscard]] bool AppendPrintf(std::wstring& out, const std::wstring& format, T value) {
    std::vector<wchar_t> buffer(64);
    for (;;) {
        const int written = std::swprintf(buffer.data(), buffer.size(), format.c_str(), value);
        if (written >= 0 && static_cast<size_t>(written) < buffer.size()) {
            out.append(buffer.data(), static_cast<size_t>(written));
            return true;
        }
        if (buffer.size() >= k_longestConversion) {
            return false;
        }
        buffer.resize(std::min(buffer.size() * 2, k_longestConversion));
    }
}

// The argument's bits as an unsigned value of its own width.
unsigned long long AsUnsigned(const CQStringHelper::FormatArgument& argument) {
    if (argument.GetKind() == Kind::Unsigned) {
        return argument.GetUnsigned();
    }
    const auto value = static_cast<unsigned long long>(argument.GetSigned());
    const size_t bits = argument.GetSize() * 8;
    return bits >= 64 ? value : value & ((1ull << bits) - 1);
}

// The decimal number at index (moving index past it), held at k_longestConversion + 1.
size_t ReadNumber(std::wstring_view text, size_t& index) {
    size_t value = 0;
    for (; index < text.size() && text[index] >= L'0' && text[index] <= L'9'; ++index) {
        value =
            std::min(value * 10 + static_cast<size_t>(text[index] - L'0'), k_longestConversion + 1);
    }
    return value;
}

// "%s" with its flags ("-", width, ".precision"; others mean nothing for text). Written here
// rather than by swprintf, so that texts of any length pass.
[[nodiscard]] bool AppendText(std::wstring& out, std::wstring_view flags, std::wstring_view text) {
    size_t index = flags.find_first_not_of(L"-+ #0");
    index = std::min(index, flags.size());
    const size_t width = ReadNumber(flags, index);
    if (index < flags.size() && flags[index] == L'.') {
        ++index;
        text = text.substr(0, ReadNumber(flags, index));
    }
    if (width > k_longestConversion) {
        return false;
    }
    const size_t padding = width > text.size() ? width - text.size() : 0;
    const bool left = flags.find(L'-') != std::wstring_view::npos;
    out.append(left ? 0 : padding, L' ');
    out += text;
    out.append(left ? padding : 0, L' ');
    return true;
}

// The argument in its natural form, with the conversion's flags.
[[nodiscard]] bool AppendNatural(std::wstring& out, const std::wstring& flags,
                                 const CQStringHelper::FormatArgument& argument) {
    switch (argument.GetKind()) {
        case Kind::Signed:
            return AppendPrintf(out, L"%" + flags + L"lld", argument.GetSigned());
        case Kind::Unsigned:
            return AppendPrintf(out, L"%" + flags + L"llu", argument.GetUnsigned());
        case Kind::Floating:
            return AppendPrintf(out, L"%" + flags + L"g", argument.GetFloating());
        case Kind::Text:
            return AppendText(out, flags, argument.GetText());
        case Kind::Pointer:
            return AppendPrintf(out, L"%" + flags + L"p", argument.GetPointer());
    }
    return false;
}

bool IsInteger(const CQStringHelper::FormatArgument& argument) {
    return argument.GetKind() == Kind::Signed || argument.GetKind() == Kind::Unsigned;
}

// False (out unchanged) when the C library cannot write the conversion.
[[nodiscard]] bool AppendConversion(std::wstring& out, const Conversion& conversion,
                                    const CQStringHelper::FormatArgument& argument) {
    const std::wstring prefix = L"%" + conversion.flags;
    switch (conversion.type) {
        case L'd':
        case L'i':
            if (argument.GetKind() == Kind::Signed) {
                return AppendPrintf(out, prefix + L"lld", argument.GetSigned());
            }
            break;
        case L'u':
        case L'x':
        case L'X':
        case L'o':
            if (IsInteger(argument)) {
                return AppendPrintf(out, prefix + L"ll" + conversion.type, AsUnsigned(argument));
            }
            break;
        case L'c':
        case L'C':
            if (IsInteger(argument)) {
                return AppendPrintf(out, prefix + L"lc", static_cast<wint_t>(AsUnsigned(argument)));
            }
            break;
        case L'f':
        case L'F':
        case L'e':
        case L'E':
        case L'g':
        case L'G':
        case L'a':
        case L'A':
            if (argument.GetKind() == Kind::Floating) {
                return AppendPrintf(out, prefix + conversion.type, argument.GetFloating());
            }
            break;
        default:
            break;
    }
    return AppendNatural(out, conversion.flags, argument);
}

}  // namespace

std::wstring CQStringHelper::FormatArguments(std::wstring_view format,
                                             std::span<const FormatArgument> arguments) {
    std::wstring out;
    out.reserve(format.size() + 16 * arguments.size());
    size_t next = 0;
    size_t index = 0;
    while (index < format.size()) {
        const size_t percent = format.find(L'%', index);
        if (percent == std::wstring_view::npos) {
            out += format.substr(index);
            break;
        }
        out += format.substr(index, percent - index);
        const Conversion conversion = ParseConversion(format, percent);
        index = conversion.end;
        if (conversion.type == L'%') {
            out += L'%';
        } else if (conversion.type == 0 || conversion.flags.find(L'*') != std::wstring::npos ||
                   next >= arguments.size() ||
                   !AppendConversion(out, conversion, arguments[next++])) {
            // Nothing to format it with (or a width taken from the arguments, which the
            // program never writes, or a conversion the C library cannot write): keep the
            // conversion as text.
            out += format.substr(percent, conversion.end - percent);
        }
    }
    return out;
}

std::wstring CQStringHelper::IntToString(int value) {
    return std::to_wstring(value);
}

std::wstring CQStringHelper::MultiByteToString(const std::string& text) {
    return qsys::FromUtf8(text);
}

std::string CQStringHelper::StringToMultiByte(std::wstring_view text) {
    return qsys::ToUtf8(text);
}

std::wstring CQStringHelper::MultiByteToString(const char* bytes, size_t count) {
    if (bytes == nullptr) {
        return std::wstring();
    }
    const std::string_view text =
        count == 0 ? std::string_view(bytes) : std::string_view(bytes, count);
    return qsys::FromUtf8Strict(text).value_or(std::wstring());
}

void CQStringHelper::StringToMultiByte(std::wstring_view text, CQBuf& buffer) {
    const std::string bytes = qsys::ToUtf8(text);
    const CQLockHolder holder(buffer);
    buffer.Copy(bytes.data(), bytes.size());
}

std::wstring CQStringHelper::ConvertNewlinesTo(std::wstring_view text) {
    std::wstring converted;
    converted.reserve(text.size() + text.size() / 16);
    for (size_t index = 0; index < text.size(); ++index) {
        const wchar_t character = text[index];
        if (character == L'\r' || character == L'\n') {
            converted += L"\r\n";
            if (character == L'\r' && index + 1 < text.size() && text[index + 1] == L'\n') {
                ++index;
            }
        } else {
            converted += character;
        }
    }
    return converted;
}
