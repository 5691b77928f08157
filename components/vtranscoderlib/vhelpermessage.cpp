#include "components/vtranscoderlib/vhelpermessage.h"

#include "components/vtranscoderlib/vnumbertext.h"

namespace {

constexpr char k_hexDigits[] = "0123456789ABCDEF";

bool NeedsEscape(unsigned char byte) {
    return byte <= ' ' || byte == '%' || byte == '=' || byte == 0x7F;
}

std::string Escape(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (unsigned char byte : text) {
        if (NeedsEscape(byte)) {
            escaped += '%';
            escaped += k_hexDigits[byte >> 4];
            escaped += k_hexDigits[byte & 0xF];
        } else {
            escaped += static_cast<char>(byte);
        }
    }
    return escaped;
}

int HexValue(char digit) {
    if (digit >= '0' && digit <= '9') {
        return digit - '0';
    }
    if (digit >= 'A' && digit <= 'F') {
        return digit - 'A' + 10;
    }
    if (digit >= 'a' && digit <= 'f') {
        return digit - 'a' + 10;
    }
    return -1;
}

std::optional<std::string> Unescape(std::string_view text) {
    std::string plain;
    plain.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            plain += text[i];
            continue;
        }
        if (i + 2 >= text.size()) {
            return std::nullopt;
        }
        int high = HexValue(text[i + 1]);
        int low = HexValue(text[i + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        plain += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return plain;
}

}  // namespace

std::optional<CVHelperMessage> CVHelperMessage::Parse(std::string_view line) {
    // The type is one visible character: a line break or space there would split or shift the
    // line that Format writes back.
    if (line.empty() || NeedsEscape(static_cast<unsigned char>(line[0])) ||
        (line.size() > 1 && line[1] != ' ')) {
        return std::nullopt;
    }
    CVHelperMessage message(line[0]);
    size_t position = 2;
    while (position < line.size()) {
        size_t end = line.find(' ', position);
        if (end == std::string_view::npos) {
            end = line.size();
        }
        std::string_view field = line.substr(position, end - position);
        position = end + 1;
        if (field.empty()) {
            continue;
        }
        size_t equals = field.find('=');
        if (equals == std::string_view::npos || equals == 0) {
            return std::nullopt;
        }
        auto key = Unescape(field.substr(0, equals));
        auto value = Unescape(field.substr(equals + 1));
        if (!key || !value) {
            return std::nullopt;
        }
        message.m_fields[*key] = std::move(*value);
    }
    return message;
}

CVHelperMessage& CVHelperMessage::Set(const std::string& key, std::string value) {
    m_fields[key] = std::move(value);
    return *this;
}

CVHelperMessage& CVHelperMessage::Set(const std::string& key, int64_t value) {
    return Set(key, CVNumberText::Format(value));
}

CVHelperMessage& CVHelperMessage::Set(const std::string& key, double value) {
    return Set(key, CVNumberText::Format(value));
}

std::string CVHelperMessage::Text(const std::string& key) const {
    auto found = m_fields.find(key);
    return found != m_fields.end() ? found->second : std::string();
}

int64_t CVHelperMessage::Integer(const std::string& key, int64_t fallback) const {
    return CVNumberText::Parse<int64_t>(Text(key)).value_or(fallback);
}

double CVHelperMessage::Real(const std::string& key, double fallback) const {
    return CVNumberText::Parse<double>(Text(key)).value_or(fallback);
}

std::string CVHelperMessage::Format() const {
    std::string line(1, m_type);
    for (const auto& [key, value] : m_fields) {
        line += ' ';
        line += Escape(key);
        line += '=';
        line += Escape(value);
    }
    line += '\n';
    return line;
}
