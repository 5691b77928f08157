#pragma once
// RegistryValue is one value of the registry store as the system it stands in for keeps it: a
// type number and the raw data bytes. Strings are UTF-16LE with a terminating NUL (so a REG_SZ
// of n characters is (n + 1) * 2 bytes), a multi-string is NUL-separated strings ended by an
// extra NUL, a DWORD is 4 little-endian bytes. Keeping the raw form means a type this layer
// does not interpret (REG_QWORD, REG_NONE, ...) survives a round trip through a hive file.
//
// A value type; thread-compatible.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qsys {

// The registry's type numbers (REG_*).
enum class RegistryType : uint32_t {
    None = 0,          // REG_NONE
    String = 1,        // REG_SZ
    ExpandString = 2,  // REG_EXPAND_SZ
    Binary = 3,        // REG_BINARY
    DWord = 4,         // REG_DWORD (little-endian)
    MultiString = 7,   // REG_MULTI_SZ
    QWord = 11,        // REG_QWORD
};

class RegistryValue {
public:
    RegistryValue(RegistryType type, std::vector<uint8_t> data)
        : m_type(type), m_data(std::move(data)) {}

    // `type` must be String or ExpandString (EINVAL otherwise).
    static RegistryValue FromString(std::wstring_view text,
                                    RegistryType type = RegistryType::String);
    static RegistryValue FromDWord(uint32_t value);
    // Every string must be non-empty and free of NUL characters (EINVAL otherwise): the
    // stored form could not tell such a list apart from a shorter one.
    static RegistryValue FromMultiString(const std::vector<std::wstring>& strings);
    static RegistryValue FromBinary(std::vector<uint8_t> bytes);

    RegistryType Type() const { return m_type; }
    const std::vector<uint8_t>& Data() const { return m_data; }

    // The text of a String or ExpandString value up to its first NUL (unexpanded); nullopt for
    // any other type. Data without a terminator is read to its end; an odd last byte is ignored.
    std::optional<std::wstring> AsString() const;
    // The number of a DWord value of exactly 4 bytes; nullopt otherwise.
    std::optional<uint32_t> AsDWord() const;
    // The strings of a MultiString value; nullopt for any other type.
    std::optional<std::vector<std::wstring>> AsMultiString() const;

    friend bool operator==(const RegistryValue&, const RegistryValue&) = default;

private:
    RegistryType m_type;
    std::vector<uint8_t> m_data;
};

}  // namespace qsys
