#include "tests/qlib/qutilitylib/filetestsupport.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "qlib/qsys/textcodec.h"

namespace qutilitylib::test {
namespace {

constexpr uid_t k_nobody = 65534;

// Gives the owner full rights on every folder of the tree (links not followed), so that the
// tree can be removed by any user.
void OpenUpTree(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        return;
    }
    ::chmod(path.c_str(), 0700);
    DIR* directory = ::opendir(path.c_str());
    if (directory == nullptr) {
        return;
    }
    while (const dirent* entry = ::readdir(directory)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            OpenUpTree(path + "/" + name);
        }
    }
    ::closedir(directory);
}

void ChangeOwnerOfTree(const std::string& path, uid_t user, gid_t group) {
    ::lchown(path.c_str(), user, group);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path)) {
        ::lchown(entry.path().c_str(), user, group);
    }
}

}  // namespace

FileTestFolder::FileTestFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qfile-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    // Others may pass through (not list): an UnprivilegedScope of a folder made inside this
    // one must reach it.
    ::chmod(pattern.c_str(), 0711);
    m_path = qsys::FromUtf8(pattern);
}

FileTestFolder::~FileTestFolder() {
    const std::string path = qsys::ToUtf8(m_path);
    OpenUpTree(path);
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::wstring FileTestFolder::Wide(std::wstring_view name) const {
    return m_path + L"/" + std::wstring(name);
}

std::string FileTestFolder::Native(std::wstring_view name) const {
    return qsys::ToUtf8(Wide(name));
}

UnprivilegedScope::UnprivilegedScope(const FileTestFolder& folder) {
    if (::geteuid() != 0) {
        return;
    }
    ChangeOwnerOfTree(qsys::ToUtf8(folder.Path()), k_nobody, k_nobody);
    if (::setegid(k_nobody) != 0 || ::seteuid(k_nobody) != 0) {
        throw std::runtime_error("cannot become the unprivileged user");
    }
    m_switched = true;
}

UnprivilegedScope::~UnprivilegedScope() {
    if (m_switched) {
        static_cast<void>(::seteuid(0));
        static_cast<void>(::setegid(0));
    }
}

std::string ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

void WriteBytes(const std::string& path, std::string_view bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::optional<CQException> Raised(const std::function<void()>& body) {
    try {
        body();
    } catch (const CQException& exception) {
        return exception;
    }
    return std::nullopt;
}

std::vector<SRaisedEntry> RealEntries(const CQException& exception) {
    static const std::map<std::wstring, std::wstring SRaisedEntry::*> k_fields{
        {L"description", &SRaisedEntry::description}, {L"sourcefunction", &SRaisedEntry::function}};
    std::vector<SRaisedEntry> entries;
    for (const auto& element : exception.GetElement().GetChildren()) {
        SRaisedEntry entry;
        for (const auto& child : element->GetChildren()) {
            if (child->GetName() == L"errorcode") {
                entry.code = std::stoi(child->GetText());
            } else if (const auto field = k_fields.find(child->GetName());
                       field != k_fields.end()) {
                entry.*(field->second) = child->GetText();
            } else if (child->GetName() != L"sourcefile" && child->GetName() != L"sourceline") {
                entry.values[child->GetName()] = child->GetText();
            }
        }
        if (entry.code != QERR_STACKTRACE) {
            entries.push_back(entry);
        }
    }
    return entries;
}

}  // namespace qutilitylib::test
