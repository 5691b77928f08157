#pragma once
// CQEventMessageFile: the message file that the event-source registration names. Viewers of
// the system's event log look each entry's event id up in a message table; this file holds a
// table whose only message, id 1, is "%1" and a line end, so an entry shows exactly the text
// it was logged with.
//
// The file is a resource-only 32-bit Windows DLL of exactly 1536 bytes, built here field by
// field rather than stored as an opaque blob: the headers (512 bytes) and one ".rsrc" section
// (1024 bytes) holding the resource tree type 11 (message table) -> id 1 -> language 1033 ->
// the table: one block for ids 1..1 with one Unicode entry.
//
// Stateless; safe on any thread.

#include <array>
#include <cstdint>
#include <string>

class CQEventMessageFile {
public:
    static constexpr size_t k_fileSize = 1536;
    static constexpr uint16_t k_languageId = 1033;
    static constexpr uint32_t k_messageId = 1;

    // The bytes of the file.
    static std::array<uint8_t, k_fileSize> Build();
    // Writes the file at path (its folder is created when missing). Raises on failure.
    static void Write(const std::wstring& path);
};
