#include "components/vprotectionprobe/vprotectionprobe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include "qlib/qsys/textcodec.h"
#include "qlib/qsys/uniquefd.h"

namespace {

using Guid = std::array<unsigned char, 16>;

// ASF object ids as they stand in the file (the first three fields little-endian).
constexpr Guid k_asfHeader{0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                           0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid k_asfHeaderExtension{0xB5, 0x03, 0xBF, 0x5F, 0x2E, 0xA9, 0xCF, 0x11,
                                    0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr Guid k_asfContentEncryption{0xFB, 0xB3, 0x11, 0x22, 0x23, 0xBD, 0xD2, 0x11,
                                      0xB4, 0xB7, 0x00, 0xA0, 0xC9, 0x55, 0xFC, 0x6E};
constexpr Guid k_asfExtendedContentEncryption{0x14, 0xE6, 0x8A, 0x29, 0x22, 0x26, 0x17, 0x4C,
                                              0xB9, 0x35, 0xDA, 0xE0, 0x7E, 0xE9, 0x28, 0x9C};
constexpr Guid k_asfAdvancedContentEncryption{0x33, 0x85, 0x05, 0x43, 0x81, 0x69, 0xE6, 0x49,
                                              0x9B, 0x74, 0xAD, 0x12, 0xCB, 0x86, 0xD5, 0x8C};

// Header object: id, size (8), object count (4), two reserved bytes.
constexpr size_t k_asfHeaderPreamble = 30;
// Header extension object: id, size, reserved id, reserved (2), data size (4).
constexpr size_t k_asfExtensionPreamble = 46;
constexpr size_t k_asfObjectHeader = 24;

constexpr std::array<std::string_view, 11> k_protectionBoxes{
    "sinf", "encv", "enca", "enct", "encs", "drms", "drmi", "pssh", "senc", "odrm", "odkm"};
constexpr std::array<std::string_view, 8> k_containerBoxes{"moov", "trak", "mdia", "minf",
                                                           "stbl", "stsd", "moof", "traf"};
constexpr std::array<std::string_view, 8> k_firstBoxes{"ftyp", "styp", "moov", "mdat",
                                                       "free", "skip", "wide", "pnot"};

uint64_t ReadBigEndian(const unsigned char* bytes, size_t count) {
    uint64_t value = 0;
    for (size_t i = 0; i < count; ++i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

uint64_t ReadLittleEndian(const unsigned char* bytes, size_t count) {
    uint64_t value = 0;
    for (size_t i = count; i > 0; --i) {
        value = (value << 8) | bytes[i - 1];
    }
    return value;
}

template <size_t N>
bool Contains(const std::array<std::string_view, N>& names, std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Positioned reads of one file with a budget of bytes; a read that fails, comes short or would
// overdraw the budget fails.
class CBoundedReader {
public:
    CBoundedReader(int fd, uint64_t size) : m_fd(fd), m_size(size) {}

    uint64_t Size() const { return m_size; }

    bool Read(uint64_t offset, void* buffer, size_t count) {
        if (count > m_budget || offset > m_size || count > m_size - offset) {
            return false;
        }
        m_budget -= count;
        auto* bytes = static_cast<unsigned char*>(buffer);
        size_t done = 0;
        while (done < count) {
            const ssize_t got =
                ::pread(m_fd, bytes + done, count - done, static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                return false;
            }
            done += static_cast<size_t>(got);
        }
        return true;
    }

private:
    int m_fd;
    uint64_t m_size;
    uint64_t m_budget = CVProtectionProbe::k_maxBytesRead;
};

// The box tree of an MP4 family file.
class CBoxWalker {
public:
    explicit CBoxWalker(CBoundedReader& reader) : m_reader(reader) {}

    bool IsProtected() {
        unsigned char first[8];
        if (!m_reader.Read(0, first, sizeof first) ||
            !Contains(k_firstBoxes, std::string_view(reinterpret_cast<char*>(first + 4), 4))) {
            return false;
        }
        return Walk(0, m_reader.Size(), 0);
    }

private:
    // Whether a protection box lies among the boxes in [begin, end) or below them.
    bool Walk(uint64_t begin, uint64_t end, int depth) {
        uint64_t offset = begin;
        while (end - offset >= 8 && m_boxes++ < CVProtectionProbe::k_maxBoxes) {
            unsigned char header[16];
            if (!m_reader.Read(offset, header, 8)) {
                return false;
            }
            const std::string_view type(reinterpret_cast<char*>(header + 4), 4);
            uint64_t size = ReadBigEndian(header, 4);
            uint64_t headerSize = 8;
            if (size == 1) {
                if (end - offset < 16 || !m_reader.Read(offset + 8, header + 8, 8)) {
                    return false;
                }
                size = ReadBigEndian(header + 8, 8);
                headerSize = 16;
            } else if (size == 0) {
                size = end - offset;  // to the end of the enclosing box or file
            }
            if (size < headerSize || size > end - offset) {
                return false;  // a damaged size: nothing after it can be trusted
            }
            if (Contains(k_protectionBoxes, type)) {
                return true;
            }
            // A sample description holds a version, flags and an entry count before its entries.
            const uint64_t childOffset = headerSize + (type == "stsd" ? 8 : 0);
            if (Contains(k_containerBoxes, type) && depth + 1 < CVProtectionProbe::k_maxDepth &&
                childOffset <= size && Walk(offset + childOffset, offset + size, depth + 1)) {
                return true;
            }
            offset += size;
        }
        return false;
    }

    CBoundedReader& m_reader;
    uint32_t m_boxes = 0;
};

// The header object of an ASF file.
class CAsfHeaderWalker {
public:
    explicit CAsfHeaderWalker(CBoundedReader& reader) : m_reader(reader) {}

    bool IsAsf() {
        unsigned char id[16];
        return m_reader.Read(0, id, sizeof id) && std::memcmp(id, k_asfHeader.data(), 16) == 0;
    }

    bool IsProtected() {
        unsigned char sizeBytes[8];
        if (!m_reader.Read(16, sizeBytes, sizeof sizeBytes)) {
            return false;
        }
        const uint64_t size = ReadLittleEndian(sizeBytes, 8);
        if (size < k_asfHeaderPreamble || size > m_reader.Size() ||
            size > CVProtectionProbe::k_maxBytesRead / 2) {
            return false;
        }
        std::vector<unsigned char> header(size);
        if (!m_reader.Read(0, header.data(), header.size())) {
            return false;
        }
        return Walk(header, k_asfHeaderPreamble, header.size(), true);
    }

private:
    bool Walk(const std::vector<unsigned char>& header, size_t begin, size_t end, bool top) {
        size_t offset = begin;
        while (end - offset >= k_asfObjectHeader) {
            const unsigned char* object = header.data() + offset;
            const uint64_t size = ReadLittleEndian(object + 16, 8);
            if (size < k_asfObjectHeader || size > end - offset) {
                return false;
            }
            if (IsId(object, k_asfContentEncryption) ||
                IsId(object, k_asfExtendedContentEncryption) ||
                IsId(object, k_asfAdvancedContentEncryption)) {
                return true;
            }
            if (top && IsId(object, k_asfHeaderExtension) && size >= k_asfExtensionPreamble &&
                Walk(header, offset + k_asfExtensionPreamble, offset + size, false)) {
                return true;
            }
            offset += size;
        }
        return false;
    }

    static bool IsId(const unsigned char* object, const Guid& id) {
        return std::memcmp(object, id.data(), id.size()) == 0;
    }

    CBoundedReader& m_reader;
};

}  // namespace

bool CVProtectionProbe::IsContentProtected(const std::wstring& path) noexcept {
    try {
        const qsys::UniqueFd fd(
            ::open(qsys::ToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
        struct stat status {};
        if (fd.Get() < 0 || ::fstat(fd.Get(), &status) != 0 || !S_ISREG(status.st_mode)) {
            return false;
        }
        CBoundedReader reader(fd.Get(), static_cast<uint64_t>(status.st_size));
        CAsfHeaderWalker asf(reader);
        if (asf.IsAsf()) {
            return asf.IsProtected();
        }
        return CBoxWalker(reader).IsProtected();
    } catch (...) {
        return false;  // out of memory for a path: not identified as protected
    }
}
