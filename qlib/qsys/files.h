#pragma once
// Whole-file helpers that the registry store and the layers above share: reading a file that
// may not exist, replacing a file so that readers and a crash see either the old or the new
// contents and never a torn mix, and creating folder chains. Paths are native byte strings.
//
// Failures throw std::system_error with errno (see systemerror.h). Stateless; safe to call
// from any thread (concurrent writers of one file must serialise themselves, see FileLock).

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qsys {

// Largest file ReadFileIfExists accepts; larger ones fail with EFBIG instead of exhausting memory.
constexpr size_t k_maxWholeFileSize = size_t{64} << 20;

// The file's bytes, or nullopt when it does not exist (ENOENT).
std::optional<std::string> ReadFileIfExists(const std::string& path);

// Replaces the file with `contents`: writes a temporary file in the same folder (under a
// short name, so that a target name of the longest length can be replaced), fsyncs it,
// renames it over `path` and fsyncs the folder. An existing file keeps its permission bits; a
// new one gets exactly `newFileMode` (the umask is not consulted: reading it is not
// thread-safe). Readers see either the old or the new contents, never a mix.
// A failure before the rename leaves the old file untouched and removes the temporary file. A
// failure of the folder's fsync comes after the rename: it is reported, but the new contents
// are already in place (a crash may still bring back the old file).
void WriteFileAtomically(const std::string& path, std::string_view contents, mode_t newFileMode);

// Writes `contents` into the file itself (created with `newFileMode` less the umask, or
// truncated), fsyncs and closes it. Not atomic: a failure or crash midway leaves a torn file.
// It is the first step of a replacement whose staging name the caller chooses (write, then
// rename over the target and SyncFolder). A symbolic link at `path` is refused (ELOOP).
void WriteFileDurably(const std::string& path, std::string_view contents, mode_t newFileMode);

// fsyncs the folder, so that entries created, renamed or removed in it survive a crash.
void SyncFolder(const std::string& folder);

// Creates the folder and any missing parents with `mode` (less the umask); existing folders
// are left as they are. Fails with ENOTDIR when a component exists but is not a folder.
void CreateDirectories(const std::string& path, mode_t mode);

// The folder part of a path ("/a/b/c" -> "/a/b", "c" -> ".").
std::string ParentFolder(const std::string& path);

}  // namespace qsys
