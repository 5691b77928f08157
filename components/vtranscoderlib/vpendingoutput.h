#pragma once
// CVPendingOutput: the file a conversion writes before it is complete. It is an unnamed file
// (O_TMPFILE) on the destination's file system, so that nothing can be planted at its name,
// and a process killed in the middle, server or helper, leaves nothing behind. The helper
// receives its descriptor and never opens it by name. Commit flushes it to the disk, creates
// the missing destination folders and gives it its name, replacing a file of that name
// atomically; otherwise the destructor discards it.
//
// On a file system without unnamed files it falls back to a hidden file with a short name in
// the destination folder (created at once, like the missing folders), opened exclusively and
// never followed through a link; that file is removed unless committed.
//
// Owned by one conversion; used by one thread at a time.

#include <filesystem>
#include <vector>

#include "qlib/qsys/uniquefd.h"

class CVPendingOutput {
public:
    // Prepares the file. Raises CVTranscodeError with EVTranscodeResult_OutputUnwritable when
    // the destination cannot be written.
    explicit CVPendingOutput(std::filesystem::path destination);
    // Discards the file and the folders made for it unless committed. Never throws.
    ~CVPendingOutput();

    CVPendingOutput(const CVPendingOutput&) = delete;
    CVPendingOutput& operator=(const CVPendingOutput&) = delete;

    // The file, open for reading and writing; still owned by this object.
    int Descriptor() const { return m_fd.Get(); }

    // Gives the file its final name, replacing a file of that name. Raises CVTranscodeError
    // with EVTranscodeResult_OutputUnwritable when it cannot be flushed or named; the
    // destination is then not left behind.
    void Commit();

private:
    // The nearest existing folder of the destination; the missing ones go to m_missingFolders.
    std::filesystem::path FindExistingFolder();
    void CreateFolders();
    void OpenUnnamedFile(const std::filesystem::path& folder);
    void CreateHiddenFile(const std::filesystem::path& folder);
    // Links the unnamed file at the destination.
    void NameUnnamedFile();
    // Removes what Commit or the fallback made. Never throws.
    void Discard() noexcept;

    std::filesystem::path m_destination;
    std::filesystem::path m_folder;                       // the destination's folder
    std::vector<std::filesystem::path> m_missingFolders;  // outermost first
    std::vector<std::filesystem::path> m_createdFolders;  // outermost first
    qsys::UniqueFd m_fd;
    std::filesystem::path m_hidden;  // the fallback's named file; empty for an unnamed file
    bool m_committed = false;
};
