#pragma once
// CVSaveFile: how the queue's save file reaches the disk, so that a crash at any moment leaves a
// readable queue. Write puts the text (UTF-8 with byte-order mark) into "<file>.bak", fsyncs it,
// renames it over the file and fsyncs the folder: the file is always either the previous
// snapshot or the new one, whole. Pick answers which file to read back: the file itself, or its
// ".bak" when the file is missing (a crash before the first rename completed).
//
//     CVSaveFile::Write(path, xml);                      // raises CQException on any failure
//     std::wstring source = CVSaveFile::Pick(path);      // empty: nothing to load
//
// Test seam: SetWriteFailure installs a function asked before every write; a non-zero errno
// fails that write as the system would (ENOSPC for a full disk), before anything is touched.
//
// Stateless apart from the seam (guarded by its own mutex). Callers serialise writes of one file.

#include <functional>
#include <string>
#include <string_view>

class CVSaveFile {
public:
    static constexpr const wchar_t* k_backupSuffix = L".bak";

    // Writes the UTF-8 text durably to path through path + ".bak"; creates missing folders.
    // Failures raise the system error with the context value "File".
    static void Write(const std::wstring& path, std::string_view utf8Text);

    // path when it exists; else path + ".bak" when that exists; else empty.
    static std::wstring Pick(const std::wstring& path);

    // The errno to fail a write of that path with, or 0. Returns the function it replaces.
    using WriteFailure = std::function<int(const std::wstring& path)>;
    static WriteFailure SetWriteFailure(WriteFailure failure);
};
