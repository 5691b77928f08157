#include "qlib/qutilitylib/qfileutilities.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <source_location>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "qlib/qcom/hresult.h"
#include "qlib/qsys/files.h"
#include "qlib/qsys/knownfolders.h"
#include "qlib/qsys/textcodec.h"
#include "qlib/qsys/uniquefd.h"
#include "qlib/qutilitylib/qbufmalloc.h"
#include "qlib/qutilitylib/qcatch.h"
#include "qlib/qutilitylib/qexception.h"
#include "qlib/qutilitylib/qfile.h"
#include "qlib/qutilitylib/qlockholder.h"
#include "qlib/qutilitylib/qstring.h"
#include "qlib/qutilitylib/qtime.h"

namespace {

using Location = std::source_location;

constexpr std::wstring_view k_extendedPrefix = L"\\\\?\\";
constexpr std::wstring_view k_extendedUncPrefix = L"\\\\?\\UNC\\";
constexpr std::wstring_view k_uncPrefix = L"\\\\";
// Mode of a file that WriteTextFile creates by replacement (the umask cannot be read safely
// while other threads run); appended files are created 0666 less the umask, which is the same
// for the usual umask 022.
constexpr mode_t k_newTextFileMode = 0644;
// The platform's end-of-file error, for a file that ends before its size says.
constexpr int k_errorHandleEof = 38;
constexpr auto k_removeRetryDelay = std::chrono::milliseconds(10);

std::mutex s_writeFailureMutex;
CQFileUtilities::WriteFailure s_writeFailure;  // guarded by s_writeFailureMutex

bool IsSeparator(wchar_t character) {
    return character == L'/' || character == L'\\';
}

bool IsDriveQualified(std::wstring_view path) {
    return path.size() >= 2 && path[1] == L':';
}

std::string SystemPath(const std::wstring& path) {
    return qsys::ToUtf8(path);
}

std::wstring ErrnoText(int error) {
    return CQStringHelper::MultiByteToString(std::generic_category().message(error));
}

// A failed system call followed by the library entry of the operation that made it, with the
// context values on the library entry.
[[noreturn]] void RaiseOperationError(int error, int code,
                                      std::initializer_list<SQExceptionValue> context,
                                      const Location& location = Location::current()) {
    CQException exception(ErrnoText(error), HResultFromErrno(error), location);
    exception.AddEntry(CQException::GetErrorCodeText(code), code, location);
    for (const SQExceptionValue& value : context) {
        exception.AddValue(value.name, value.value);
    }
    throw exception;
}

// Runs body; a CQException leaving it gets the context values.
template <typename Body>
decltype(auto) WithContext(std::initializer_list<SQExceptionValue> context, Body&& body) {
    try {
        return std::forward<Body>(body)();
    } catch (CQException& exception) {
        for (const SQExceptionValue& value : context) {
            exception.AddValue(value.name, value.value);
        }
        throw;
    }
}

std::optional<struct stat> StatEntry(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return status;
}

// --- Names and their length in bytes of UTF-8 ---

size_t Utf8Size(wchar_t character) {
    const auto value = static_cast<uint32_t>(character);
    if (value < 0x80) {
        return 1;
    }
    if (value < 0x800) {
        return 2;
    }
    // Surrogates and values above U+10FFFF are written as U+FFFD, three bytes.
    return value >= 0x10000 && value <= 0x10FFFF ? 4 : 3;
}

size_t Utf8Length(std::wstring_view text) {
    size_t length = 0;
    for (const wchar_t character : text) {
        length += Utf8Size(character);
    }
    return length;
}

// The longest start of text that takes at most limit bytes of UTF-8.
std::wstring CutToUtf8Length(std::wstring_view text, size_t limit) {
    size_t length = 0;
    size_t count = 0;
    while (count < text.size() && length + Utf8Size(text[count]) <= limit) {
        length += Utf8Size(text[count++]);
    }
    return std::wstring(text.substr(0, count));
}

// base + tag + extension, cut to the longest name the file system takes: the base is shortened
// and "~" marks the cut. An extension too long to keep counts as part of the base.
std::wstring FitFileName(const std::wstring& base, const std::wstring& tag,
                         const std::wstring& extension) {
    constexpr size_t k_limit = CQFileUtilities::k_maxFileNameLength;
    if (Utf8Length(base) + Utf8Length(tag) + Utf8Length(extension) <= k_limit) {
        return base + tag + extension;
    }
    std::wstring stem = base;
    std::wstring suffix = extension;
    if (Utf8Length(tag) + Utf8Length(suffix) + 1 >= k_limit) {
        stem += suffix;
        suffix.clear();
    }
    const size_t keep = k_limit - 1 - Utf8Length(tag) - Utf8Length(suffix);
    return CutToUtf8Length(stem, keep) + L"~" + tag + suffix;
}

// --- Deleting folder trees without following symbolic links ---

struct DirectoryCloser {
    void operator()(DIR* directory) const { ::closedir(directory); }
};
using DirectoryStream = std::unique_ptr<DIR, DirectoryCloser>;

[[noreturn]] void RaiseForPath(int error, const std::string& path) {
    CQException::RaiseSystemError(error, {{L"Path", qsys::FromUtf8(path)}});
}

// The names in the folder open as descriptor (without "." and ".."). Read in full before
// anything is deleted, so that deleting cannot make the listing skip entries.
std::vector<std::string> ListFolder(int descriptor, const std::string& path) {
    const int listing = ::openat(descriptor, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0) {
        RaiseForPath(errno, path);
    }
    const DirectoryStream stream(::fdopendir(listing));
    if (!stream) {
        const int error = errno;
        ::close(listing);
        RaiseForPath(error, path);
    }
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = ::readdir(stream.get())) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
        errno = 0;
    }
    if (errno != 0) {
        RaiseForPath(errno, path);
    }
    return names;
}

// Removes the empty folder name in parent; a folder that is still busy (not empty yet,
// access refused for a moment) gets one more try after a short wait.
void RemoveFolderEntry(int parent, const std::string& name, const std::string& path) {
    if (::unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0) {
        return;
    }
    const int error = errno;
    if (error != ENOTEMPTY && error != EEXIST && error != EACCES && error != EPERM) {
        RaiseForPath(error, path);
    }
    std::this_thread::sleep_for(k_removeRetryDelay);
    if (::unlinkat(parent, name.c_str(), AT_REMOVEDIR) != 0) {
        RaiseForPath(errno, path);
    }
}

void RemoveTree(int parent, const std::string& name, const std::string& path,
                const struct stat& status);

void RemoveFolderContent(int folder, const std::string& path) {
    for (const std::string& name : ListFolder(folder, path)) {
        const std::string entryPath = path + "/" + name;
        struct stat status {};
        if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) {
                continue;  // gone already
            }
            RaiseForPath(errno, entryPath);
        }
        if (S_ISDIR(status.st_mode)) {
            RemoveTree(folder, name, entryPath, status);
        } else if (::unlinkat(folder, name.c_str(), 0) != 0 && errno != ENOENT) {
            RaiseForPath(errno, entryPath);
        }
    }
}

// Deletes the folder name in parent (status: its lstat) with everything in it. The folder is
// opened with O_NOFOLLOW, so a folder swapped for a link meanwhile is never entered; read-only
// folders are first given to their owner in full, that entry only.
void RemoveTree(int parent, const std::string& name, const std::string& path,
                const struct stat& status) {
    if ((status.st_mode & S_IRWXU) != S_IRWXU &&
        ::fchmodat(parent, name.c_str(), (status.st_mode & 07777) | S_IRWXU, AT_SYMLINK_NOFOLLOW) !=
            0) {
        RaiseForPath(errno, path);
    }
    const qsys::UniqueFd folder(
        ::openat(parent, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.IsValid()) {
        RaiseForPath(errno, path);
    }
    RemoveFolderContent(folder.Get(), path);
    RemoveFolderEntry(parent, name, path);
}

void DeleteTreeAt(const std::string& directory) {
    std::string path = directory;
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") {
        RaiseForPath(EINVAL, directory);
    }
    qsys::UniqueFd parent;
    if (slash != std::string::npos) {
        const std::string parentPath = slash == 0 ? "/" : path.substr(0, slash);
        parent.Reset(::open(parentPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!parent.IsValid()) {
            RaiseForPath(errno, directory);
        }
    }
    const int parentDescriptor = parent.IsValid() ? parent.Get() : AT_FDCWD;
    struct stat status {};
    if (::fstatat(parentDescriptor, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        RaiseForPath(errno, directory);
    }
    if (!S_ISDIR(status.st_mode)) {
        RaiseForPath(ENOTDIR, directory);  // a file, or a link that is not followed
    }
    RemoveTree(parentDescriptor, name, path, status);
}

// --- Text ---

struct SQDetectedEncoding {
    EQTextEncoding encoding;
    size_t markSize;
};

// Without a mark: zero bytes tell UTF-16 from the multibyte encodings (see the header).
EQTextEncoding DetectUnmarkedEncoding(const uint8_t* data, uint64_t size) {
    if (size < 2 || size % 2 != 0) {
        return EQTextEncoding_Ansi;
    }
    uint64_t zeroLow = 0;   // zero bytes at even offsets
    uint64_t zeroHigh = 0;  // zero bytes at odd offsets
    for (uint64_t index = 0; index < size; index += 2) {
        zeroLow += data[index] == 0 ? 1 : 0;
        zeroHigh += data[index + 1] == 0 ? 1 : 0;
    }
    const uint64_t units = size / 2;
    const auto looksLike = [units](uint64_t zeroSide, uint64_t otherSide) {
        return zeroSide * 16 >= units && zeroSide > 0 && otherSide * 4 <= zeroSide;
    };
    if (looksLike(zeroHigh, zeroLow)) {
        return EQTextEncoding_Utf16LE;
    }
    if (looksLike(zeroLow, zeroHigh)) {
        return EQTextEncoding_Utf16BE;
    }
    return EQTextEncoding_Ansi;
}

SQDetectedEncoding DetectEncoding(const uint8_t* data, uint64_t size) {
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        return {EQTextEncoding_Utf16LE, 2};
    }
    if (size >= 2 && data[0] == 0xFE && data[1] == 0xFF) {
        return {EQTextEncoding_Utf16BE, 2};
    }
    if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
        return {EQTextEncoding_Utf8, 3};
    }
    return {DetectUnmarkedEncoding(data, size), 0};
}

std::wstring DecodeText(EQTextEncoding encoding, const uint8_t* data, uint64_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    switch (encoding) {
        case EQTextEncoding_Utf16LE:
            return qsys::FromUtf16(bytes, qsys::ByteOrder::LittleEndian);
        case EQTextEncoding_Utf16BE:
            return qsys::FromUtf16(bytes, qsys::ByteOrder::BigEndian);
        default:
            // ANSI is UTF-8 here, and Latin-1 where the bytes are no UTF-8 (see the header).
            return qsys::FromUtf8Strict(bytes).value_or(qsys::FromLatin1(bytes));
    }
}

std::string_view ByteOrderMark(EQTextEncoding encoding) {
    switch (encoding) {
        case EQTextEncoding_Utf16LE:
            return "\xFF\xFE";
        case EQTextEncoding_Utf16BE:
            return "\xFE\xFF";
        case EQTextEncoding_Utf8:
            return "\xEF\xBB\xBF";
        default:
            return {};
    }
}

std::string EncodeText(const std::wstring& text, EQTextEncoding encoding) {
    switch (encoding) {
        case EQTextEncoding_Ansi:
        case EQTextEncoding_Utf8:
            return CQStringHelper::StringToMultiByte(text);
        case EQTextEncoding_Utf16LE:
            return qsys::ToUtf16(text, qsys::ByteOrder::LittleEndian);
        case EQTextEncoding_Utf16BE:
            return qsys::ToUtf16(text, qsys::ByteOrder::BigEndian);
    }
    throw CQException(QERR_INVALID_PARAMETER);
}

// The whole content of a regular file into buffer.
void ReadWholeFile(const std::string& path, CQBufMalloc& buffer) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below.
    const qsys::UniqueFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat status {};
    if (!file.IsValid() || ::fstat(file.Get(), &status) != 0) {
        CQException::RaiseSystemError(errno);
    }
    if (S_ISDIR(status.st_mode)) {
        CQException::RaiseSystemError(EISDIR);
    }
    if (!S_ISREG(status.st_mode)) {
        throw CQException(L"Not a regular file.", HResultFromErrno(EINVAL));
    }
    const auto size = static_cast<uint64_t>(status.st_size);
    if (size > CQFileUtilities::k_maxTextFileSize) {
        throw CQException(
            CQStringHelper::Format(L"The file is larger than %u bytes, the most a text file may "
                                   L"hold.",
                                   CQFileUtilities::k_maxTextFileSize),
            HResultFromErrno(EFBIG));
    }
    buffer.Allocate(size);
    for (uint64_t done = 0; done < size;) {
        const ssize_t count = ::read(file.Get(), buffer.GetData() + done, size - done);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            CQException::RaiseSystemError(errno);
        }
        if (count == 0) {
            throw CQException(L"Reached the end of the file.",
                              HRESULT_FROM_WIN32(k_errorHandleEof));
        }
        done += static_cast<uint64_t>(count);
    }
}

void RaiseIfWriteFails(const std::wstring& path) {
    CQFileUtilities::WriteFailure failure;
    {
        const std::lock_guard lock(s_writeFailureMutex);
        failure = s_writeFailure;
    }
    if (const int error = failure ? failure(path) : 0) {
        CQException::RaiseSystemError(error);
    }
}

// Replaces the file (through a symbolic link) atomically with the encoded text. An existing
// file keeps its mode; one the user may not write is refused, as opening it would be.
void ReplaceTextFile(const std::string& path, const std::wstring& text, EQTextEncoding encoding) {
    std::string target = path;
    if (const std::optional<struct stat> entry = StatEntry(path);
        entry && S_ISLNK(entry->st_mode)) {
        if (char* resolved = ::realpath(path.c_str(), nullptr)) {
            target = resolved;
            std::free(resolved);
        }
    }
    if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0 && errno != ENOENT) {
        CQException::RaiseSystemError(errno);
    }
    CQBufMalloc content;
    CQFileUtilities::StringToFileContent(content, text, encoding, true);
    try {
        qsys::WriteFileAtomically(
            target,
            std::string_view(reinterpret_cast<const char*>(content.GetData()), content.GetSize()),
            k_newTextFileMode);
    } catch (const std::system_error& error) {
        CQException::RaiseSystemError(error);
    }
}

// Appends the encoded text; a mark only when the file is new or empty. A failed write cuts
// the file back to where it ended, unless someone else appended in between.
void AppendTextFile(const std::string& path, const std::wstring& text, EQTextEncoding encoding) {
    const qsys::UniqueFd file(
        ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_NOCTTY | O_CLOEXEC, 0666));
    struct stat status {};
    if (!file.IsValid() || ::fstat(file.Get(), &status) != 0) {
        CQException::RaiseSystemError(errno);
    }
    CQBufMalloc content;
    CQFileUtilities::StringToFileContent(content, text, encoding, status.st_size == 0);
    size_t written = 0;
    const int error = CQFile::WriteAll(file.Get(), content.GetData(), content.GetSize(), written);
    if (error == 0) {
        return;
    }
    struct stat after {};
    if (written > 0 && ::fstat(file.Get(), &after) == 0 &&
        after.st_size == status.st_size + static_cast<off_t>(written)) {
        // Best effort: the write's own error is what the caller needs to hear.
        static_cast<void>(::ftruncate(file.Get(), status.st_size));
    }
    CQException::RaiseSystemError(error);
}

std::wstring ContentForError(const std::wstring& text) {
    return text.size() <= CQFileUtilities::k_maxContentInError
               ? text
               : text.substr(0, CQFileUtilities::k_maxContentInError) + L"...";
}

}  // namespace

// --- Path strings ---

std::wstring CQFileUtilities::GetUnicodePath(const std::wstring& path) {
    return CQCatch::Internal([&] {
        if (!IsDriveQualified(path) && !path.starts_with(k_uncPrefix)) {
            return path;  // relative or native
        }
        std::wstring windowsPath = path;
        std::replace(windowsPath.begin(), windowsPath.end(), L'/', L'\\');
        if (windowsPath.starts_with(k_extendedPrefix)) {
            return windowsPath;
        }
        if (windowsPath.starts_with(k_uncPrefix)) {
            return std::wstring(k_extendedUncPrefix) + windowsPath.substr(k_uncPrefix.size());
        }
        return std::wstring(k_extendedPrefix) + windowsPath;
    });
}

void CQFileUtilities::RemoveUnicodePath(std::wstring& path) {
    CQCatch::Internal([&] {
        if (path.starts_with(k_extendedUncPrefix)) {
            path.replace(0, k_extendedUncPrefix.size(), k_uncPrefix);
        } else if (path.starts_with(k_extendedPrefix)) {
            path.erase(0, k_extendedPrefix.size());
        }
    });
}

std::wstring CQFileUtilities::SetPathSeparator(const std::wstring& path) {
    return CQCatch::Internal([&] {
        std::wstring nativePath = path;
        std::replace(nativePath.begin(), nativePath.end(), L'\\', k_separator);
        return nativePath;
    });
}

bool CQFileUtilities::IsRelativePath(const std::wstring& path) {
    return CQCatch::Internal([&] {
        return path.empty() ||
               !(path.front() == L'/' || IsDriveQualified(path) || path.starts_with(k_uncPrefix));
    });
}

std::wstring CQFileUtilities::GetFilenameFromPath(const std::wstring& path) {
    return CQCatch::Internal([&] {
        const size_t separator = path.find_last_of(L"/\\");
        return separator == std::wstring::npos ? path : path.substr(separator + 1);
    });
}

std::wstring CQFileUtilities::GetPathFromFilename(const std::wstring& path) {
    return CQCatch::Internal([&] {
        const size_t separator = path.find_last_of(L"/\\");
        return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator + 1);
    });
}

std::wstring CQFileUtilities::GetFilenameWithoutExtension(const std::wstring& path) {
    return CQCatch::Internal([&] {
        const std::wstring name = GetFilenameFromPath(path);
        return name.substr(0, name.size() - GetFileExtension(name).size());
    });
}

std::wstring CQFileUtilities::GetFileExtension(const std::wstring& path) {
    return CQCatch::Internal([&] {
        const std::wstring name = GetFilenameFromPath(path);
        const size_t dot = name.rfind(L'.');
        return dot == std::wstring::npos || dot == 0 ? std::wstring() : name.substr(dot);
    });
}

void CQFileUtilities::EnsurePathSeparatorAtEnd(std::wstring& path, wchar_t separator) {
    CQCatch::Internal([&] {
        if (!path.empty() && !IsSeparator(path.back())) {
            path += separator;
        }
    });
}

std::wstring CQFileUtilities::ConcatPathname(const std::wstring& first,
                                             const std::wstring& second) {
    return CQCatch::Internal([&] {
        if (second.empty()) {
            return first;
        }
        if (first.empty()) {
            CQException exception(QERR_INVALID_PARAMETER);
            exception.AddValue(L"CQFileUtilities::ConcatPathname() str1", first);
            exception.AddValue(L"CQFileUtilities::ConcatPathname() str2", second);
            throw exception;
        }
        std::wstring path = first;
        EnsurePathSeparatorAtEnd(path);
        path.append(second, IsSeparator(second.front()) ? 1 : 0);
        return path;
    });
}

// --- Files and folders ---

bool CQFileUtilities::FileExists(const std::wstring& path) {
    return CQCatch::Internal([&] { return StatEntry(SystemPath(path)).has_value(); });
}

void CQFileUtilities::CheckFileExists(const std::wstring& path) {
    CQCatch::Internal([&] {
        if (!FileExists(path)) {
            CQException::RaiseSystemError(ENOENT, {{L"File", path}});
        }
    });
}

bool CQFileUtilities::IsDirectory(const std::wstring& path) {
    return CQCatch::Internal([&] {
        struct stat status {};
        return ::stat(SystemPath(path).c_str(), &status) == 0 && S_ISDIR(status.st_mode);
    });
}

void CQFileUtilities::BuildDirectory(const std::wstring& directory) {
    CQCatch::Internal([&] {
        if (FileExists(directory)) {
            if (IsDirectory(directory)) {
                return;
            }
            CQException exception(QERR_CREATE_DIRECTORY);
            exception.AddValue(L"Directory", directory);
            throw exception;
        }
        if (directory.empty()) {
            throw CQException(QERR_INVALID_PARAMETER);
        }
        try {
            qsys::CreateDirectories(SystemPath(directory), 0777);
        } catch (const std::system_error& error) {
            CQException::RaiseSystemError(error, {{L"Directory", directory}});
        }
    });
}

void CQFileUtilities::BuildParentDirectory(const std::wstring& path) {
    CQCatch::Internal([&] {
        const size_t slash = path.rfind(k_separator);
        if (slash != std::wstring::npos) {
            BuildDirectory(slash == 0 ? std::wstring(1, k_separator) : path.substr(0, slash));
        }
    });
}

bool CQFileUtilities::DeleteDirectory(const std::wstring& directory) {
    return CQCatch::Internal([&] {
        return WithContext({{L"CQFileUtilities::DeleteDirectory() Path", directory}}, [&] {
            DeleteTreeAt(SystemPath(directory));
            return true;
        });
    });
}

void CQFileUtilities::MoveFileW(const std::wstring& source, const std::wstring& destination) {
    CQCatch::Internal([&] {
        if (::rename(SystemPath(source).c_str(), SystemPath(destination).c_str()) != 0) {
            RaiseOperationError(errno, QERR_MOVE_FILE,
                                {{L"SrcFile", source}, {L"DstFile", destination}});
        }
    });
}

void CQFileUtilities::DeleteFileW(const std::wstring& path) {
    CQCatch::Internal([&] {
        const std::string systemPath = SystemPath(path);
        if (!StatEntry(systemPath)) {
            CQFile::RaiseRuntimeError(errno, {{L"File", path}});
        }
        if (::unlink(systemPath.c_str()) != 0) {
            RaiseOperationError(errno, QERR_DELETE_FILE, {{L"File", path}});
        }
    });
}

void CQFileUtilities::SetFileReadonly(const std::wstring& path) {
    CQCatch::Internal([&] {
        const std::string systemPath = SystemPath(path);
        const std::optional<struct stat> status = StatEntry(systemPath);
        if (!status) {
            CQFile::RaiseRuntimeError(errno, {{L"File", path}});
        }
        if (S_ISLNK(status->st_mode)) {
            return;  // a link has no permissions of its own
        }
        const mode_t mode = (status->st_mode & 07777) | S_IRUSR | S_IWUSR;
        if (::fchmodat(AT_FDCWD, systemPath.c_str(), mode, AT_SYMLINK_NOFOLLOW) != 0) {
            CQFile::RaiseRuntimeError(errno, {{L"File", path}});
        }
    });
}

void CQFileUtilities::MakeFilenameUnique(std::wstring& path) {
    CQCatch::Internal([&] {
        const std::wstring directory = GetPathFromFilename(path);
        const std::wstring base = GetFilenameWithoutExtension(path);
        const std::wstring extension = GetFileExtension(path);
        if (base.empty() && extension.empty()) {
            CQException exception(QERR_INVALID_PARAMETER);
            exception.AddValue(L"Path", path);
            throw exception;
        }
        std::wstring candidate = directory + FitFileName(base, L"", extension);
        for (int counter = 1; FileExists(candidate); ++counter) {
            const std::wstring tag = L"[" + std::to_wstring(counter) + L"]";
            candidate = directory + FitFileName(base, tag, extension);
        }
        path = candidate;
    });
}

uint64_t CQFileUtilities::GetFileSize(const std::wstring& path) {
    return CQCatch::Internal([&] {
        struct stat status {};
        if (::stat(SystemPath(path).c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
            return uint64_t{0};
        }
        return static_cast<uint64_t>(status.st_size);
    });
}

double CQFileUtilities::GetFileTime(const std::wstring& path) {
    return CQCatch::Internal([&] {
        const qsys::UniqueFd file(::open(SystemPath(path).c_str(), O_PATH | O_CLOEXEC));
        if (!file.IsValid()) {
            RaiseOperationError(errno, QERR_OPEN_FILE, {{L"File", path}});
        }
        struct stat status {};
        if (::fstat(file.Get(), &status) != 0) {
            RaiseOperationError(errno, QERR_GET_FILE_TIME, {{L"File", path}});
        }
        std::tm utc{};
        if (::gmtime_r(&status.st_mtim.tv_sec, &utc) == nullptr) {
            CQException::RaiseSystemError(errno, {{L"File", path}});
        }
        // Years beyond the field's range stay out of range, so that the conversion refuses them.
        const int year = std::clamp(utc.tm_year + 1900, 0, 0xFFFF);
        const SYSTEMTIME time{
            static_cast<uint16_t>(year),        static_cast<uint16_t>(utc.tm_mon + 1),
            static_cast<uint16_t>(utc.tm_wday), static_cast<uint16_t>(utc.tm_mday),
            static_cast<uint16_t>(utc.tm_hour), static_cast<uint16_t>(utc.tm_min),
            static_cast<uint16_t>(utc.tm_sec),  0};
        return CQTime::SystemTimeToVariantTime(time);
    });
}

// --- Text files ---

std::wstring CQFileUtilities::ReadTextFile(const std::wstring& path) {
    return CQCatch::Internal([&] {
        return WithContext({{L"Filename", path}}, [&] {
            CQBufMalloc buffer;
            ReadWholeFile(SystemPath(path), buffer);
            return FileContentToString(buffer);
        });
    });
}

std::wstring CQFileUtilities::FileContentToString(CQBuf& buffer) {
    return CQCatch::Internal([&] {
        const CQLockHolder holder(buffer);
        const uint8_t* data = buffer.GetData();
        const uint64_t size = buffer.GetSize();
        const SQDetectedEncoding detected = DetectEncoding(data, size);
        return DecodeText(detected.encoding, data + detected.markSize, size - detected.markSize);
    });
}

void CQFileUtilities::WriteTextFile(const std::wstring& path, const std::wstring& text, bool append,
                                    EQTextEncoding encoding) {
    CQCatch::Internal([&] {
        WithContext({{L"Filename", path}, {L"Content", ContentForError(text)}}, [&] {
            BuildParentDirectory(path);
            RaiseIfWriteFails(path);
            if (append) {
                AppendTextFile(SystemPath(path), text, encoding);
            } else {
                ReplaceTextFile(SystemPath(path), text, encoding);
            }
        });
    });
}

void CQFileUtilities::StringToFileContent(CQBuf& buffer, const std::wstring& text,
                                          EQTextEncoding encoding, bool byteOrderMark) {
    CQCatch::Internal([&] {
        const std::string bytes = EncodeText(text, encoding);
        const CQLockHolder holder(buffer);
        if (byteOrderMark) {
            const std::string_view mark = ByteOrderMark(encoding);
            buffer.Append(mark.data(), mark.size());
        }
        buffer.Append(bytes.data(), bytes.size());
    });
}

// --- Folders of the user ---

std::wstring CQFileUtilities::GetTempDirectory() {
    return CQCatch::Internal([&] {
        std::wstring directory = GetLongFilePath(qsys::TemporaryDirectory());
        EnsurePathSeparatorAtEnd(directory);
        return directory;
    });
}

std::wstring CQFileUtilities::GetLongFilePath(const std::wstring& path) {
    return CQCatch::Internal([&] {
        const std::string systemPath = SystemPath(path);
        char* resolved = ::realpath(systemPath.c_str(), nullptr);
        if (resolved == nullptr) {
            if (errno == ENOENT || errno == ENOTDIR) {
                return path;
            }
            CQException::RaiseSystemError(
                errno, {{L"File", path}, {L"FileSentToWin32", qsys::FromUtf8(systemPath)}});
        }
        const std::unique_ptr<char, decltype(&std::free)> owner(resolved, &std::free);
        return qsys::FromUtf8(resolved);
    });
}

std::wstring CQFileUtilities::GetShortFilePath(const std::wstring& path, bool* succeeded) {
    return CQCatch::Internal([&] {
        if (succeeded != nullptr) {
            *succeeded = false;
        }
        return path;
    });
}

std::wstring CQFileUtilities::SHGetFolder() {
    return CQCatch::Internal([&] {
        try {
            return qsys::LocalAppDataDirectory();
        } catch (const std::system_error&) {
            return std::wstring();  // no home folder known
        }
    });
}

CQFileUtilities::WriteFailure CQFileUtilities::SetWriteFailure(WriteFailure failure) {
    const std::lock_guard lock(s_writeFailureMutex);
    std::swap(failure, s_writeFailure);
    return failure;
}
