#pragma once
// Conversions between the program's wide strings (UTF-32 on Linux) and the byte encodings
// found at its edges: UTF-8 (files, D-Bus, SQLite, FFmpeg, XML) and UTF-16 (log files, text
// files with a UTF-16 mark). Every layer converts through these functions only.
//
// Stateless; safe to call from any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qsys {

enum class ByteOrder { LittleEndian, BigEndian };

// Wide text to UTF-8. Code points that are not valid Unicode scalar values (lone surrogates,
// values above U+10FFFF) are written as U+FFFD.
std::string ToUtf8(std::wstring_view text);

// UTF-8 to wide text; nullopt when the bytes hold an invalid or truncated sequence, an
// overlong form or a surrogate.
std::optional<std::wstring> FromUtf8Strict(std::string_view bytes);

// UTF-8 to wide text; every invalid sequence becomes U+FFFD.
std::wstring FromUtf8(std::string_view bytes);

// Latin-1 (ISO 8859-1) bytes to wide text: each byte is the character of its value. Never fails.
std::wstring FromLatin1(std::string_view bytes);

// Wide text to UTF-16 bytes in the given byte order (no byte-order mark).
std::string ToUtf16(std::wstring_view text, ByteOrder order);

// UTF-16 bytes to wide text; an odd last byte is dropped, unpaired surrogates become U+FFFD.
std::wstring FromUtf16(std::string_view bytes, ByteOrder order);

}  // namespace qsys
