#pragma once
// CQFileUtilities: the program's file and path functions on wide-character paths: splitting
// and joining, existence tests, creating and deleting folder trees, moving and deleting files,
// reading and writing whole text files in four encodings, unique file names, and the user's
// folders. Every function runs inside the catch convention (failures leave as CQException with
// a "CQFileUtilities::<Name>" trace entry).
//
// Paths are native:
// - "/" separates and is what the builders (ConcatPathname, EnsurePathSeparatorAtEnd) insert;
//   the splitting functions (GetFilenameFromPath, GetPathFromFilename, the extension functions)
//   accept "/" and "\" alike. A path starting with "/" is absolute.
// - The system receives a path as it is (as UTF-8), so a "\" inside a name reaches the file
//   system as part of that name. The extended-length and UNC forms ("\\?\C:\a",
//   "\\?\UNC\server\share") mean nothing to this system: GetUnicodePath and
//   RemoveUnicodePath are pure string functions for text exchanged with clients that use those
//   forms; they handle drive-qualified and UNC paths and hand native paths back unchanged.
// - There are no short (8.3) names: GetShortFilePath answers the input with the flag false.
//   GetLongFilePath is the canonical absolute form (symbolic links, "." and ".." resolved) of a
//   path that exists, and the input itself for one that does not.
// - GetTempDirectory is $TMPDIR (when absolute) or /tmp in its long form, ending in "/";
//   SHGetFolder the local application-data folder, $XDG_DATA_HOME or ~/.local/share.
// - Names are limited to 255 bytes of UTF-8 (the file system's limit); MakeFilenameUnique
//   shortens by that measure, which equals the character count for ASCII names.
//
// Files and folders:
// - Deleting never follows a symbolic link: DeleteFileW and DeleteDirectory remove a link, not
//   what it points to, and DeleteDirectory refuses a link given as the folder itself. A file's
//   permissions do not govern its deletion here, so DeleteFileW leaves them alone (changing
//   them would also change every other hard link of the file); DeleteDirectory gives the owner
//   full rights on each folder of the tree (that folder only) so that read-only folders go too.
// - MoveFileW replaces an existing destination atomically (rename): there is no moment
//   without a file at the destination. Both paths must be on one file system.
// - WriteTextFile without append replaces the file atomically (temporary file, fsync,
//   rename): a failed write (full disk) leaves the old content whole. A file the user may not
//   write is refused as before; a symbolic link is written through to the file it names. With
//   append the bytes go to the end (O_APPEND); a failed write cuts the file back to its old
//   size when nobody else appended in between, so no torn text remains.
// - ReadTextFile reads regular files only (a FIFO or device named by a client would block or
//   never end) of at most k_maxTextFileSize bytes.
//
// Text encodings: ANSI is the process locale's multibyte encoding, which is UTF-8 on every
// system we run on; it is taken as UTF-8 without consulting the locale, because services often
// run in the C locale, whose ASCII would make every accented name unreadable. Text (ANSI or
// UTF-8) whose bytes are not valid UTF-8 is read whole as Latin-1, one character a byte, as a
// Western "ANSI" reading gives it: nothing is lost, so a file read, changed and written back
// keeps every character (written back as UTF-8).
// Without a byte-order mark, UTF-16 is recognised by its zero bytes (see FileContentToString).
//
// Stateless apart from the write-failure test seam; every function may be called from any
// thread. FileContentToString and StringToFileContent hold the buffer's lock while they use it.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>

#include "qlib/qutilitylib/qbuf.h"

// Text file encodings. The byte-order marks: none for ANSI, FF FE, FE FF, EF BB BF.
enum EQTextEncoding : int {
    EQTextEncoding_Ansi = 1,
    EQTextEncoding_Utf16LE = 2,
    EQTextEncoding_Utf16BE = 3,
    EQTextEncoding_Utf8 = 4,
};

class CQFileUtilities {
public:
    static constexpr wchar_t k_separator = L'/';
    // Longest file name, in bytes of UTF-8.
    static constexpr size_t k_maxFileNameLength = 255;
    // Largest file ReadTextFile accepts: far above any save, profile or log file, and small
    // enough that the decoded text (four bytes a character) stays a sane amount of memory.
    static constexpr uint64_t k_maxTextFileSize = uint64_t{64} << 20;
    // Longest part of the text that a failed WriteTextFile attaches to its error ("Content").
    static constexpr size_t k_maxContentInError = 4096;

    // --- Path strings (no file system access) ---

    // The extended-length form of a drive-qualified or UNC path ("C:/a" -> "\\?\C:\a",
    // "\\server\share" -> "\\?\UNC\server\share"); any other path unchanged.
    static std::wstring GetUnicodePath(const std::wstring& path);
    // Undoes GetUnicodePath: "\\?\UNC\" becomes "\\"; a leading "\\?\" is removed.
    static void RemoveUnicodePath(std::wstring& path);
    // A copy with every "\" written as the native "/".
    static std::wstring SetPathSeparator(const std::wstring& path);
    // True for an empty path; false for "/..." and for drive-qualified and UNC paths.
    static bool IsRelativePath(const std::wstring& path);
    // The text after the last separator; the whole path if there is none.
    static std::wstring GetFilenameFromPath(const std::wstring& path);
    // The text up to and including the last separator; empty if there is none.
    static std::wstring GetPathFromFilename(const std::wstring& path);
    // The file name without GetFileExtension: "x.tar.gz" -> "x.tar", ".profile" -> ".profile".
    static std::wstring GetFilenameWithoutExtension(const std::wstring& path);
    // From the file name's last "." to its end, unless that dot starts the name: "x.tar.gz" ->
    // ".gz"; "/a.b/file" and "/dir/.profile" -> "".
    static std::wstring GetFileExtension(const std::wstring& path);
    // Appends separator to a non-empty path that ends in neither "/" nor "\".
    static void EnsurePathSeparatorAtEnd(std::wstring& path, wchar_t separator = k_separator);
    // first + "/" + second, with no separator doubled (one leading separator of second is
    // dropped); first when second is empty. An empty first with a non-empty second raises
    // QERR_INVALID_PARAMETER.
    static std::wstring ConcatPathname(const std::wstring& first, const std::wstring& second);

    // --- Files and folders ---

    // Whether an entry of that name exists (a folder or a dangling symbolic link included).
    static bool FileExists(const std::wstring& path);
    // Raises 0x80070002 with the context value "File" when FileExists is false.
    static void CheckFileExists(const std::wstring& path);
    // Whether path names a folder (or a symbolic link to one).
    static bool IsDirectory(const std::wstring& path);
    // Creates every missing level. An existing folder is left alone; an existing entry of
    // another kind raises QERR_CREATE_DIRECTORY with "Directory"; an empty path raises
    // QERR_INVALID_PARAMETER; any other failure raises the system error.
    static void BuildDirectory(const std::wstring& directory);
    // BuildDirectory of the folder the system sees path's file in (the text before its last
    // "/"); nothing for a name without a folder.
    static void BuildParentDirectory(const std::wstring& path);
    // Deletes the folder and everything in it; true, or raises (context value
    // "CQFileUtilities::DeleteDirectory() Path", written "CQFileUtilities.DeleteDirectory.Path").
    static bool DeleteDirectory(const std::wstring& directory);
    // Moves source to destination, replacing it. Raises the system error followed by
    // QERR_MOVE_FILE with "SrcFile" and "DstFile".
    static void MoveFileW(const std::wstring& source, const std::wstring& destination);
    // Deletes one file (a symbolic link itself). A missing file raises the C library's error
    // number as code; a failed delete the system error followed by QERR_DELETE_FILE ("File").
    static void DeleteFileW(const std::wstring& path);
    // Gives the owner read and write permission (clears "read-only"); nothing for a symbolic
    // link. Failures raise the C library's error number as code.
    static void SetFileReadonly(const std::wstring& path);
    // Makes path name an entry that does not exist yet: "clip.mp4" -> "clip[1].mp4",
    // "clip[2].mp4", ...; names over 255 bytes are cut and marked with "~" before the tag and
    // extension. A path without a file name raises QERR_INVALID_PARAMETER.
    static void MakeFilenameUnique(std::wstring& path);
    // The size of a file (through symbolic links); 0 if it is no regular file or not there.
    static uint64_t GetFileSize(const std::wstring& path);
    // The last-write time as an automation date in UTC (days since 1899-12-30, whole
    // seconds). Raises the system error followed by QERR_OPEN_FILE or QERR_GET_FILE_TIME
    // ("File").
    static double GetFileTime(const std::wstring& path);

    // --- Text files ---

    // The whole file decoded by FileContentToString. Failures carry the context value
    // "Filename".
    static std::wstring ReadTextFile(const std::wstring& path);
    // Decodes the buffer: a byte-order mark decides (FF FE, FE FF, EF BB BF); without one, an
    // even number of bytes of which at least one unit in sixteen has a zero high byte and at
    // most a quarter as many have a zero low byte is UTF-16LE (the same mirrored is UTF-16BE):
    // text of any language holds spaces, digits or line ends, which UTF-16 writes with a zero
    // byte and the multibyte encodings never do. Anything else is ANSI. UTF-16 without any
    // character below U+0100 therefore needs its mark.
    static std::wstring FileContentToString(CQBuf& buffer);
    // Writes text in encoding; without append the file is replaced and starts with the
    // encoding's byte-order mark; with append a new or empty file gets the mark and a file
    // with content gets none. Creates missing folders. Failures carry the context values
    // "Filename" and "Content" (its first k_maxContentInError characters).
    static void WriteTextFile(const std::wstring& path, const std::wstring& text, bool append,
                              EQTextEncoding encoding);
    // Appends the encoded text to the buffer, after the byte-order mark when byteOrderMark is
    // set. An encoding outside the enumeration raises QERR_INVALID_PARAMETER.
    static void StringToFileContent(CQBuf& buffer, const std::wstring& text,
                                    EQTextEncoding encoding, bool byteOrderMark);

    // --- Folders of the user ---

    static std::wstring GetTempDirectory();
    static std::wstring GetLongFilePath(const std::wstring& path);
    // The input unchanged; *succeeded (when given) false: this system has no short names.
    static std::wstring GetShortFilePath(const std::wstring& path, bool* succeeded = nullptr);
    // The local application-data folder without a trailing "/"; empty when it cannot be found.
    static std::wstring SHGetFolder();

    // --- Test seam ---

    // Asked before WriteTextFile writes: the errno to fail that write with (ENOSPC for a full
    // disk), or 0 to write. Process-wide; an empty function (the default) writes everything.
    // Returns the function it replaces.
    using WriteFailure = std::function<int(const std::wstring& path)>;
    static WriteFailure SetWriteFailure(WriteFailure failure);
};
