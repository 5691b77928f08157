#include "qlib/qutilitylib/qeventmessagefile.h"

#include <fcntl.h>

#include <string_view>

#include "qlib/qutilitylib/qcatch.h"
#include "qlib/qutilitylib/qfile.h"

namespace {

// Where the parts of the image lie in the file.
constexpr uint32_t k_peHeaderOffset = 0x80;
constexpr uint32_t k_fileHeaderOffset = k_peHeaderOffset + 4;
constexpr uint32_t k_optionalHeaderOffset = k_fileHeaderOffset + 20;
constexpr uint32_t k_optionalHeaderSize = 0xE0;
constexpr uint32_t k_sectionHeaderOffset = k_optionalHeaderOffset + k_optionalHeaderSize;
constexpr uint32_t k_headersSize = 0x200;
constexpr uint32_t k_sectionRawSize = 0x400;
constexpr uint32_t k_sectionRva = 0x1000;
constexpr uint32_t k_sectionAlignment = 0x1000;
constexpr uint32_t k_imageSize = k_sectionRva + k_sectionAlignment;
static_assert(k_headersSize + k_sectionRawSize == CQEventMessageFile::k_fileSize);

// The resource tree, as offsets into the section.
constexpr uint32_t k_typeDirectory = 0x18;
constexpr uint32_t k_nameDirectory = 0x30;
constexpr uint32_t k_dataEntry = 0x48;
constexpr uint32_t k_messageTable = 0x58;
constexpr uint32_t k_subdirectoryFlag = 0x80000000;
constexpr uint16_t k_messageTableType = 11;  // RT_MESSAGETABLE

// The one message: "%1" and a line end, UTF-16LE, terminated and padded to four bytes.
constexpr std::u16string_view k_messageText = u"%1\r\n";
constexpr uint16_t k_unicodeEntry = 1;
constexpr uint32_t k_entryHeaderSize = 4;
constexpr uint32_t k_entrySize = k_entryHeaderSize + ((k_messageText.size() + 1) * 2 + 3) / 4 * 4;
constexpr uint32_t k_blockSize = 12;
constexpr uint32_t k_messageTableSize = 4 + k_blockSize + k_entrySize;
constexpr uint32_t k_resourceSize = k_messageTable + k_messageTableSize;

// The stub that a 16-bit system runs instead: it prints its message and ends.
constexpr uint8_t k_dosStubCode[] = {0x0E, 0x1F, 0xBA, 0x0E, 0x00, 0xB4, 0x09,
                                     0xCD, 0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21};
constexpr std::string_view k_dosStubText = "This program cannot be run in DOS mode.\r\r\n$";

class ImageWriter {
public:
    explicit ImageWriter(std::array<uint8_t, CQEventMessageFile::k_fileSize>& bytes)
        : m_bytes(bytes) {}

    void Put16(uint32_t offset, uint16_t value) {
        m_bytes[offset] = static_cast<uint8_t>(value);
        m_bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
    }
    void Put32(uint32_t offset, uint32_t value) {
        Put16(offset, static_cast<uint16_t>(value));
        Put16(offset + 2, static_cast<uint16_t>(value >> 16));
    }
    template <typename Bytes>
    void PutBytes(uint32_t offset, const Bytes& bytes) {
        for (const auto byte : bytes) {
            m_bytes[offset++] = static_cast<uint8_t>(byte);
        }
    }

private:
    std::array<uint8_t, CQEventMessageFile::k_fileSize>& m_bytes;
};

void WriteDosHeader(ImageWriter& image) {
    image.PutBytes(0, std::string_view("MZ"));
    image.Put16(0x02, 0x90);    // bytes on the last page
    image.Put16(0x04, 3);       // pages
    image.Put16(0x08, 4);       // header paragraphs
    image.Put16(0x0C, 0xFFFF);  // most extra paragraphs
    image.Put16(0x10, 0xB8);    // initial stack pointer
    image.Put16(0x18, 0x40);    // relocation table offset
    image.Put32(0x3C, k_peHeaderOffset);
    image.PutBytes(0x40, k_dosStubCode);
    image.PutBytes(0x40 + sizeof k_dosStubCode, k_dosStubText);
}

void WriteFileHeader(ImageWriter& image) {
    image.PutBytes(k_peHeaderOffset, std::string_view("PE\0\0", 4));
    const uint32_t header = k_fileHeaderOffset;
    image.Put16(header, 0x014C);  // i386
    image.Put16(header + 2, 1);   // sections
    image.Put16(header + 16, k_optionalHeaderSize);
    image.Put16(header + 18, 0x2102);  // executable image, 32-bit machine, DLL
}

void WriteOptionalHeader(ImageWriter& image) {
    const uint32_t header = k_optionalHeaderOffset;
    image.Put16(header, 0x010B);                                // PE32
    image.PutBytes(header + 2, std::array<uint8_t, 2>{14, 0});  // linker version
    image.Put32(header + 8, k_sectionRawSize);                  // initialised data
    image.Put32(header + 20, k_sectionRva);                     // base of code
    image.Put32(header + 24, k_sectionRva);                     // base of data
    image.Put32(header + 28, 0x10000000);                       // image base
    image.Put32(header + 32, k_sectionAlignment);
    image.Put32(header + 36, 0x200);  // file alignment
    image.Put16(header + 40, 6);      // operating system version
    image.Put16(header + 48, 6);      // subsystem version
    image.Put32(header + 56, k_imageSize);
    image.Put32(header + 60, k_headersSize);
    image.Put16(header + 68, 2);       // subsystem: windows GUI
    image.Put16(header + 70, 0x0500);  // no SEH, NX compatible
    image.Put32(header + 72, 0x100000);
    image.Put32(header + 76, 0x1000);
    image.Put32(header + 80, 0x100000);
    image.Put32(header + 84, 0x1000);
    image.Put32(header + 92, 16);  // data directories
    constexpr uint32_t k_resourceDirectory = 96 + 2 * 8;
    image.Put32(header + k_resourceDirectory, k_sectionRva);
    image.Put32(header + k_resourceDirectory + 4, k_resourceSize);
}

void WriteSectionHeader(ImageWriter& image) {
    const uint32_t header = k_sectionHeaderOffset;
    image.PutBytes(header, std::string_view(".rsrc"));
    image.Put32(header + 8, k_resourceSize);
    image.Put32(header + 12, k_sectionRva);
    image.Put32(header + 16, k_sectionRawSize);
    image.Put32(header + 20, k_headersSize);
    image.Put32(header + 36, 0x40000040);  // initialised data, readable
}

// A resource directory at offset with one entry naming id, pointing at target.
void WriteDirectory(ImageWriter& image, uint32_t offset, uint32_t id, uint32_t target) {
    image.Put16(k_headersSize + offset + 14, 1);  // one entry by id
    image.Put32(k_headersSize + offset + 16, id);
    image.Put32(k_headersSize + offset + 20, target);
}

void WriteMessageTable(ImageWriter& image) {
    const uint32_t table = k_headersSize + k_messageTable;
    image.Put32(table, 1);  // blocks
    image.Put32(table + 4, CQEventMessageFile::k_messageId);
    image.Put32(table + 8, CQEventMessageFile::k_messageId);
    image.Put32(table + 12, 4 + k_blockSize);  // entries, from the start of the table
    const uint32_t entry = table + 4 + k_blockSize;
    image.Put16(entry, k_entrySize);
    image.Put16(entry + 2, k_unicodeEntry);
    uint32_t character = entry + k_entryHeaderSize;
    for (const char16_t unit : k_messageText) {
        image.Put16(character, unit);
        character += 2;
    }
}

void WriteResources(ImageWriter& image) {
    WriteDirectory(image, 0, k_messageTableType, k_subdirectoryFlag | k_typeDirectory);
    WriteDirectory(image, k_typeDirectory, CQEventMessageFile::k_messageId,
                   k_subdirectoryFlag | k_nameDirectory);
    WriteDirectory(image, k_nameDirectory, CQEventMessageFile::k_languageId, k_dataEntry);
    image.Put32(k_headersSize + k_dataEntry, k_sectionRva + k_messageTable);
    image.Put32(k_headersSize + k_dataEntry + 4, k_messageTableSize);
    WriteMessageTable(image);
}

}  // namespace

std::array<uint8_t, CQEventMessageFile::k_fileSize> CQEventMessageFile::Build() {
    std::array<uint8_t, k_fileSize> bytes{};
    ImageWriter image(bytes);
    WriteDosHeader(image);
    WriteFileHeader(image);
    WriteOptionalHeader(image);
    WriteSectionHeader(image);
    WriteResources(image);
    return bytes;
}

void CQEventMessageFile::Write(const std::wstring& path) {
    CQCatch::Internal([&] {
        const std::array<uint8_t, k_fileSize> bytes = Build();
        CQFile file;
        // A new file only: in a shared temporary folder a name planted by someone else (a
        // link to another file, say) must never be written through.
        file.OpenEx(path, O_WRONLY | O_CREAT | O_EXCL);
        file.WriteBytes(bytes);
    });
}
