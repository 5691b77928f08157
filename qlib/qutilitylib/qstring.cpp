#include "qlib/qutilitylib/qstring.h"

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

// swprintf of one value into out, growing the buffer until the text fits.
template <typename T>
void AppendPrintf(std::wstring& out, const std::wstring& format, T value) {
    std::vector<wchar_t> buffer(64);
    for (;;) {
        const int written = std::swprintf(buffer.data(), buffer.size(), format.c_str(), value);
        if (written >= 0 && static_cast<size_t>(written) < buffer.size()) {
            out.append(buffer.data(), static_cast<size_t>(written));
            return;
        }
        buffer.resize(buffer.size() * 2);
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

void AppendText(std::wstring& out, const std::wstring& flags, std::wstring_view text) {
    if (flags.empty()) {
        out += text;
        return;
    }
    AppendPrintf(out, L"%" + flags + L"ls", std::wstring(text).c_str());
}

// The argument in its natural form, with the conversion's flags.
void AppendNatural(std::wstring& out, const std::wstring& flags,
                   const CQStringHelper::FormatArgument& argument) {
    switch (argument.GetKind()) {
        case Kind::Signed:
            AppendPrintf(out, L"%" + flags + L"lld", argument.GetSigned());
            break;
        case Kind::Unsigned:
            AppendPrintf(out, L"%" + flags + L"llu", argument.GetUnsigned());
            break;
        case Kind::Floating:
            AppendPrintf(out, L"%" + flags + L"g", argument.GetFloating());
            break;
        case Kind::Text:
            AppendText(out, flags, argument.GetText());
            break;
        case Kind::Pointer:
            AppendPrintf(out, L"%" + flags + L"p", argument.GetPointer());
            break;
    }
}

bool IsInteger(const CQStringHelper::FormatArgument& argument) {
    return argument.GetKind() == Kind::Signed || argument.GetKind() == Kind::Unsigned;
}

void AppendConversion(std::wstring& out, const Conversion& conversion,
                      const CQStringHelper::FormatArgument& argument) {
    const std::wstring prefix = L"%" + conversion.flags;
    switch (conversion.type) {
        case L'd':
        case L'i':
            if (argument.GetKind() == Kind::Signed) {
                AppendPrintf(out, prefix + L"lld", argument.GetSigned());
                return;
            }
            break;
        case L'u':
        case L'x':
        case L'X':
        case L'o':
            if (IsInteger(argument)) {
                AppendPrintf(out, prefix + L"ll" + conversion.type, AsUnsigned(argument));
                return;
            }
            break;
        case L'c':
        case L'C':
            if (IsInteger(argument)) {
                AppendPrintf(out, prefix + L"lc", static_cast<wint_t>(AsUnsigned(argument)));
                return;
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
                AppendPrintf(out, prefix + conversion.type, argument.GetFloating());
                return;
            }
            break;
        default:
            break;
    }
    AppendNatural(out, conversion.flags, argument);
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
                   next >= arguments.size()) {
            // Nothing to format it with (or a width taken from the arguments, which the
            // program never writes): keep the conversion as text.
            out += format.substr(percent, conversion.end - percent);
        } else {
            AppendConversion(out, conversion, arguments[next++]);
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
