#include "qlib/qsys/textcodec.h"

#include <type_traits>

namespace qsys {
namespace {

constexpr char32_t k_replacement = 0xFFFD;

bool IsScalarValue(char32_t c) {
    return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
}

void AppendUtf8(std::string& out, char32_t c) {
    if (!IsScalarValue(c)) {
        c = k_replacement;
    }
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Decodes one UTF-8 sequence at bytes[pos]; advances pos past it. Returns nullopt for an
// invalid sequence (pos then moves past the first byte only).
std::optional<char32_t> DecodeUtf8(std::string_view bytes, size_t& pos) {
    const auto lead = static_cast<unsigned char>(bytes[pos++]);
    if (lead < 0x80) {
        return lead;
    }
    int trailing = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        trailing = 1, c = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        trailing = 2, c = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        trailing = 3, c = lead & 0x07, minimum = 0x10000;
    } else {
        return std::nullopt;
    }
    if (pos + trailing > bytes.size()) {
        return std::nullopt;
    }
    for (int i = 0; i < trailing; ++i) {
        const auto next = static_cast<unsigned char>(bytes[pos + i]);
        if ((next & 0xC0) != 0x80) {
            return std::nullopt;
        }
        c = (c << 6) | (next & 0x3F);
    }
    pos += trailing;
    if (c < minimum || !IsScalarValue(c)) {
        return std::nullopt;
    }
    return c;
}

void AppendUnit(std::string& out, uint16_t unit, ByteOrder order) {
    const char low = static_cast<char>(unit & 0xFF);
    const char high = static_cast<char>(unit >> 8);
    if (order == ByteOrder::LittleEndian) {
        out += low, out += high;
    } else {
        out += high, out += low;
    }
}

uint16_t ReadUnit(std::string_view bytes, size_t index, ByteOrder order) {
    const auto first = static_cast<unsigned char>(bytes[2 * index]);
    const auto second = static_cast<unsigned char>(bytes[2 * index + 1]);
    return order == ByteOrder::LittleEndian ? static_cast<uint16_t>(first | (second << 8))
                                            : static_cast<uint16_t>((first << 8) | second);
}

// The length of the leading run of ASCII characters (code units below 0x80) of text.
template <class Char>
size_t AsciiPrefix(std::basic_string_view<Char> text) {
    size_t length = 0;
    while (length < text.size() &&
           static_cast<std::make_unsigned_t<Char>>(text[length]) < 0x80) {
        ++length;
    }
    return length;
}

}  // namespace

std::string ToUtf8(std::wstring_view text) {
    // Most texts are ASCII: their run is copied unit by unit without the encoder.
    const size_t ascii = AsciiPrefix(text);
    std::string out(ascii, '\0');
    for (size_t i = 0; i < ascii; ++i) {
        out[i] = static_cast<char>(text[i]);
    }
    if (ascii < text.size()) {
        out.reserve(text.size() + (text.size() - ascii) * 2);
        for (wchar_t c : text.substr(ascii)) {
            AppendUtf8(out, static_cast<char32_t>(c));
        }
    }
    return out;
}

std::optional<std::wstring> FromUtf8Strict(std::string_view bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    for (size_t pos = 0; pos < bytes.size();) {
        const auto c = DecodeUtf8(bytes, pos);
        if (!c) {
            return std::nullopt;
        }
        out += static_cast<wchar_t>(*c);
    }
    return out;
}

std::wstring FromUtf8(std::string_view bytes) {
    const size_t ascii = AsciiPrefix(bytes);
    std::wstring out(ascii, L'\0');
    for (size_t i = 0; i < ascii; ++i) {
        out[i] = static_cast<wchar_t>(bytes[i]);
    }
    out.reserve(bytes.size());
    for (size_t pos = ascii; pos < bytes.size();) {
        out += static_cast<wchar_t>(DecodeUtf8(bytes, pos).value_or(k_replacement));
    }
    return out;
}

std::wstring FromLatin1(std::string_view bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    for (char byte : bytes) {
        out += static_cast<wchar_t>(static_cast<unsigned char>(byte));
    }
    return out;
}

std::string ToUtf16(std::wstring_view text, ByteOrder order) {
    std::string out;
    out.reserve(text.size() * 2);
    for (wchar_t wide : text) {
        auto c = static_cast<char32_t>(wide);
        if (!IsScalarValue(c)) {
            c = k_replacement;
        }
        if (c < 0x10000) {
            AppendUnit(out, static_cast<uint16_t>(c), order);
        } else {
            c -= 0x10000;
            AppendUnit(out, static_cast<uint16_t>(0xD800 | (c >> 10)), order);
            AppendUnit(out, static_cast<uint16_t>(0xDC00 | (c & 0x3FF)), order);
        }
    }
    return out;
}

std::wstring FromUtf16(std::string_view bytes, ByteOrder order) {
    const size_t units = bytes.size() / 2;
    std::wstring out;
    out.reserve(units);
    for (size_t i = 0; i < units; ++i) {
        const uint16_t unit = ReadUnit(bytes, i, order);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
            const uint16_t low = ReadUnit(bytes, i + 1, order);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                out += static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        out += (unit >= 0xD800 && unit <= 0xDFFF) ? static_cast<wchar_t>(k_replacement)
                                                  : static_cast<wchar_t>(unit);
    }
    return out;
}

}  // namespace qsys
