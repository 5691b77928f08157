#pragma once
// CVPendingOutput: the file a conversion writes before it is complete. It lives under a hidden
// temporary name in the destination folder (so that the final rename stays on one file
// system and is atomic), creating missing folders first. Commit renames it to the destination;
// otherwise the destructor removes it together with the folders it created, so an aborted or
// failed conversion leaves nothing behind.
//
// Owned by one conversion; used by one thread at a time.

#include <filesystem>
#include <vector>

class CVPendingOutput {
public:
    // Creates the folders and an empty temporary file beside the destination. Raises
    // CVTranscodeError with EVTranscodeResult_OutputUnwritable when that is not possible.
    explicit CVPendingOutput(std::filesystem::path destination);
    // Removes the temporary file and the folders made for it unless committed. Never throws.
    ~CVPendingOutput();

    CVPendingOutput(const CVPendingOutput&) = delete;
    CVPendingOutput& operator=(const CVPendingOutput&) = delete;

    const std::filesystem::path& TemporaryPath() const { return m_temporary; }

    // Gives the file its final name, replacing a file of that name. Raises CVTranscodeError
    // with EVTranscodeResult_OutputUnwritable when the rename fails.
    void Commit();

private:
    void CreateFolders(const std::filesystem::path& folder);
    void CreateTemporaryFile(const std::filesystem::path& folder);
    // Removes the temporary file and the folders made for it.
    void Discard() noexcept;

    std::filesystem::path m_destination;
    std::filesystem::path m_temporary;
    std::vector<std::filesystem::path> m_createdFolders;  // outermost first
    bool m_committed = false;
};
