#include "qlib/qsys/registryvalue.h"

#include <cerrno>

#include "qlib/qsys/systemerror.h"
#include "qlib/qsys/textcodec.h"

namespace qsys {
namespace {

void AppendUtf16(std::vector<uint8_t>& data, std::wstring_view text) {
    const std::string bytes = ToUtf16(text, ByteOrder::LittleEndian);
    data.insert(data.end(), bytes.begin(), bytes.end());
    data.push_back(0);
    data.push_back(0);
}

// The UTF-16 strings of `data`, split at NUL characters (an unterminated tail counts too).
std::vector<std::wstring> SplitUtf16(const std::vector<uint8_t>& data) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    const size_t end = data.size() & ~size_t{1};
    for (size_t i = 0; i <= end; i += 2) {
        if (i == end || (data[i] == 0 && data[i + 1] == 0)) {
            const std::string_view bytes(reinterpret_cast<const char*>(data.data()) + start,
                                         i - start);
            parts.push_back(FromUtf16(bytes, ByteOrder::LittleEndian));
            start = i + 2;
        }
    }
    return parts;
}

}  // namespace

RegistryValue RegistryValue::FromString(std::wstring_view text, RegistryType type) {
    if (type != RegistryType::String && type != RegistryType::ExpandString) {
        ThrowSystemError(EINVAL, "a string value must be REG_SZ or REG_EXPAND_SZ");
    }
    std::vector<uint8_t> data;
    AppendUtf16(data, text);
    return RegistryValue(type, std::move(data));
}

RegistryValue RegistryValue::FromDWord(uint32_t value) {
    return RegistryValue(RegistryType::DWord,
                         {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                          static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)});
}

RegistryValue RegistryValue::FromMultiString(const std::vector<std::wstring>& strings) {
    std::vector<uint8_t> data;
    for (const std::wstring& text : strings) {
        if (text.empty() || text.find(L'\0') != std::wstring::npos) {
            ThrowSystemError(EINVAL, "a multi-string value cannot hold an empty string or a NUL");
        }
        AppendUtf16(data, text);
    }
    data.push_back(0);
    data.push_back(0);
    return RegistryValue(RegistryType::MultiString, std::move(data));
}

RegistryValue RegistryValue::FromBinary(std::vector<uint8_t> bytes) {
    return RegistryValue(RegistryType::Binary, std::move(bytes));
}

std::optional<std::wstring> RegistryValue::AsString() const {
    if (m_type != RegistryType::String && m_type != RegistryType::ExpandString) {
        return std::nullopt;
    }
    return SplitUtf16(m_data).front();
}

std::optional<uint32_t> RegistryValue::AsDWord() const {
    if (m_type != RegistryType::DWord || m_data.size() != 4) {
        return std::nullopt;
    }
    return uint32_t{m_data[0]} | uint32_t{m_data[1]} << 8 | uint32_t{m_data[2]} << 16 |
           uint32_t{m_data[3]} << 24;
}

std::optional<std::vector<std::wstring>> RegistryValue::AsMultiString() const {
    if (m_type != RegistryType::MultiString) {
        return std::nullopt;
    }
    std::vector<std::wstring> strings;
    for (std::wstring& part : SplitUtf16(m_data)) {
        if (part.empty()) {
            break;  // the empty string between the last terminator and the list's end mark
        }
        strings.push_back(std::move(part));
    }
    return strings;
}

}  // namespace qsys
