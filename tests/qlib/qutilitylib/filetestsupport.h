#pragma once
// Helpers of the file tests: a fresh folder that removes itself with everything in it (whatever
// permissions a test left), a scope that runs as an unprivileged user so that permission checks
// apply even when the tests run as root, raw byte access to files, and the entries of a raised
// CQException.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qlib/qutilitylib/qexception.h"

namespace qutilitylib::test {

// Made with mode 0711 under $TMPDIR (or /tmp).
class FileTestFolder {
public:
    FileTestFolder();
    ~FileTestFolder();
    FileTestFolder(const FileTestFolder&) = delete;
    FileTestFolder& operator=(const FileTestFolder&) = delete;

    // The folder, without a trailing "/".
    const std::wstring& Path() const { return m_path; }
    // Path() + "/" + name.
    std::wstring Wide(std::wstring_view name) const;
    // The same as the system's byte string.
    std::string Native(std::wstring_view name) const;

private:
    std::wstring m_path;
};

// While it lives, the effective user and group are "nobody" (65534) if the process runs as
// root, and the folder belongs to that user; otherwise nothing changes. One thread only.
class UnprivilegedScope {
public:
    explicit UnprivilegedScope(const FileTestFolder& folder);
    ~UnprivilegedScope();
    UnprivilegedScope(const UnprivilegedScope&) = delete;
    UnprivilegedScope& operator=(const UnprivilegedScope&) = delete;

private:
    bool m_switched = false;
};

std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, std::string_view bytes);

// One entry of an exception that is not a trace entry.
struct SRaisedEntry {
    int code = 0;
    std::wstring description;
    std::wstring function;
    std::map<std::wstring, std::wstring> values;
};

// The CQException that body raises; nullopt when it raises none.
std::optional<CQException> Raised(const std::function<void()>& body);
// Its entries without the trace entries, oldest first.
std::vector<SRaisedEntry> RealEntries(const CQException& exception);

}  // namespace qutilitylib::test
