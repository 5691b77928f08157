#pragma once
// CVTranscodeUtils: the fixed table of file extensions and MIME types that the service uses to
// name a file's MIME type from its name alone, and to name the extension of an output MIME type.
// The table is searched top to bottom and the first match wins, so an extension listed twice
// (".m4a", ".ogg", ".oga", ".ogv") always gives its first MIME type, and a MIME type listed
// under several extensions gives its first extension (".wav" for "audio/wav").
//
//     CVTranscodeUtils::GetMIMETypeFromExtension(L".MP4");          // "video/mp4"
//     CVTranscodeUtils::GetExtensionFromMIMEType(L"audio/x-ogg");   // ".ogg"
//
// Stateless apart from the constant table; safe on any thread.

#include <span>
#include <string>
#include <string_view>

// One row of the table; the extension includes its leading dot.
struct SVMimeTypeEntry {
    std::wstring_view extension;
    std::wstring_view mimeType;
};

class CVTranscodeUtils {
public:
    // What a file whose extension is in no row is.
    static constexpr std::wstring_view k_defaultMIMEType = L"application/octet-stream";

    // The MIME type of the first row whose extension equals extension ignoring case;
    // k_defaultMIMEType when none does (an empty extension included).
    static std::wstring GetMIMETypeFromExtension(std::wstring_view extension);
    // The extension of the first row whose MIME type equals mimeType ignoring case; empty when
    // none does.
    static std::wstring GetExtensionFromMIMEType(std::wstring_view mimeType);
    // The MIME type of a file from its name: the extension after the last "." of the file name
    // (not a leading one; "/" and "\" both separate folders). The file is not opened.
    static std::wstring GetMIMETypeFromPath(const std::wstring& path);

    // The rows in their search order.
    static std::span<const SVMimeTypeEntry> GetMIMETable();
};
