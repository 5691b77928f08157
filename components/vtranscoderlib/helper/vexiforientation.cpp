#include "components/vtranscoderlib/helper/vexiforientation.h"

#include <cstdint>
#include <optional>

namespace {

constexpr int k_none = 1;
constexpr uint16_t k_orientationTag = 0x0112;
constexpr uint16_t k_shortType = 3;

// Reads numbers of one byte order from bounded bytes.
class CVByteReader {
public:
    CVByteReader(std::string_view bytes, bool bigEndian) : m_bytes(bytes), m_bigEndian(bigEndian) {}

    std::optional<uint32_t> Number(size_t offset, size_t size) const {
        if (offset > m_bytes.size() || size > m_bytes.size() - offset) {
            return std::nullopt;
        }
        uint32_t value = 0;
        for (size_t i = 0; i < size; ++i) {
            auto byte =
                static_cast<unsigned char>(m_bytes[offset + (m_bigEndian ? i : size - 1 - i)]);
            value = (value << 8) | byte;
        }
        return value;
    }

private:
    std::string_view m_bytes;
    bool m_bigEndian;
};

}  // namespace

int CVExifOrientation::Read(std::string_view start) {
    CVByteReader reader(start, true);
    if (reader.Number(0, 2) != 0xFFD8u) {
        return k_none;
    }
    size_t position = 2;
    for (;;) {
        auto marker = reader.Number(position, 2);
        auto length = reader.Number(position + 2, 2);
        if (!marker || !length || (*marker >> 8) != 0xFF || *length < 2 || *marker == 0xFFDA) {
            return k_none;
        }
        std::string_view payload = start.substr(position + 4);
        payload = payload.substr(0, *length - 2);
        if (*marker == 0xFFE1 && payload.size() > 6 &&
            payload.substr(0, 6) == std::string_view("Exif\0\0", 6)) {
            return FromTiff(payload.substr(6));
        }
        position += 2 + *length;
    }
}

int CVExifOrientation::FromTiff(std::string_view tiff) {
    if (tiff.size() < 8 || (tiff.substr(0, 2) != "MM" && tiff.substr(0, 2) != "II")) {
        return k_none;
    }
    CVByteReader reader(tiff, tiff[0] == 'M');
    auto magic = reader.Number(2, 2);
    auto directory = reader.Number(4, 4);
    auto entries = directory ? reader.Number(*directory, 2) : std::nullopt;
    if (magic != 42u || !entries) {
        return k_none;
    }
    for (uint32_t i = 0; i < *entries; ++i) {
        size_t entry = *directory + 2 + size_t{12} * i;
        auto tag = reader.Number(entry, 2);
        auto type = reader.Number(entry + 2, 2);
        auto value = reader.Number(entry + 8, 2);
        if (!tag || !type || !value) {
            return k_none;
        }
        if (*tag == k_orientationTag) {
            return *type == k_shortType && *value >= 1 && *value <= 8 ? static_cast<int>(*value)
                                                                      : k_none;
        }
    }
    return k_none;
}
