#include "qlib/qsys/kernelobjectname.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "qlib/qsys/files.h"
#include "qlib/qsys/knownfolders.h"
#include "qlib/qsys/nocase.h"
#include "qlib/qsys/systemerror.h"
#include "qlib/qsys/textcodec.h"

namespace qsys {
namespace {

constexpr std::wstring_view k_globalPrefix = L"Global\\";
constexpr std::wstring_view k_localPrefix = L"Local\\";
constexpr const char* k_globalFolder = "/tmp/zelto-global";
constexpr size_t k_maxFileName = 255;
constexpr size_t k_maxSemaphoreName = 251;  // NAME_MAX less the "sem." that glibc puts first
constexpr size_t k_longestSuffix = 16;      // room left for the suffix of a lock file

bool StartsWithIgnoreCase(std::wstring_view text, std::wstring_view prefix) {
    return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

bool KeepsItsForm(char c, bool first) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || (c == '.' && !first);
}

uint64_t Fnv1a(std::string_view bytes) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (const char c : bytes) {
        hash = (hash ^ static_cast<uint8_t>(c)) * 0x100000001b3ull;
    }
    return hash;
}

constexpr mode_t k_privateMode = 0700;
constexpr mode_t k_sharedMode = 01777;

void Refuse(const std::string& folder) {
    ThrowSystemError(EACCES, "not a safe folder for kernel objects: " + folder);
}

struct stat InspectFolder(const std::string& folder) {
    struct stat status {};
    if (::lstat(folder.c_str(), &status) != 0) {
        ThrowLastError("inspect " + folder);
    }
    return status;
}

std::string MakeFolder(const std::string& folder, KernelNamespace space) {
    const mode_t mode = space == KernelNamespace::Global ? k_sharedMode : k_privateMode;
    if (::mkdir(folder.c_str(), mode) != 0 && errno != EEXIST) {
        ThrowLastError("create " + folder);
    }
    KernelObjectName::CheckFolder(folder, space);
    return folder;
}

// The session's runtime folder itself must be ours and closed to others: whoever may write to
// it may replace the folder of our kernel objects inside it. It is not ours to repair.
void CheckRuntimeFolder(const std::string& folder) {
    const struct stat status = InspectFolder(folder);
    if (!S_ISDIR(status.st_mode) || status.st_uid != ::geteuid() || (status.st_mode & 077) != 0) {
        Refuse(folder);
    }
}

std::string UserFolder() {
    if (const std::optional<std::wstring> runtime = RuntimeDirectory()) {
        const std::string runtimeFolder = ToUtf8(*runtime);
        CreateDirectories(runtimeFolder, k_privateMode);
        CheckRuntimeFolder(runtimeFolder);
        return MakeFolder(runtimeFolder + "/zelto", KernelNamespace::User);
    }
    return MakeFolder("/tmp/zelto-" + std::to_string(::geteuid()), KernelNamespace::User);
}

}  // namespace

KernelObjectName KernelObjectName::Parse(std::wstring_view name) {
    KernelNamespace space = KernelNamespace::User;
    if (StartsWithIgnoreCase(name, k_globalPrefix)) {
        space = KernelNamespace::Global;
        name.remove_prefix(k_globalPrefix.size());
    } else if (StartsWithIgnoreCase(name, k_localPrefix)) {
        name.remove_prefix(k_localPrefix.size());
    }
    if (name.empty()) {
        ThrowSystemError(EINVAL, "a kernel object name cannot be empty");
    }
    return KernelObjectName(space, std::wstring(name));
}

std::string KernelObjectName::Encode(std::wstring_view name, size_t maxLength) {
    static constexpr char k_digits[] = "0123456789ABCDEF";
    const std::string bytes = ToUtf8(name);
    std::string encoded;
    for (const char c : bytes) {
        if (KeepsItsForm(c, encoded.empty())) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += k_digits[static_cast<uint8_t>(c) >> 4];
            encoded += k_digits[static_cast<uint8_t>(c) & 0x0F];
        }
    }
    if (encoded.size() <= maxLength) {
        return encoded;
    }
    char hash[18];
    std::snprintf(hash, sizeof hash, "~%016llx", static_cast<unsigned long long>(Fnv1a(bytes)));
    return encoded.substr(0, maxLength - (sizeof hash - 1)) + hash;
}

std::string KernelObjectName::Folder(KernelNamespace space) {
    return space == KernelNamespace::Global ? MakeFolder(k_globalFolder, space) : UserFolder();
}

void KernelObjectName::CheckFolder(const std::string& folder, KernelNamespace space) {
    const struct stat status = InspectFolder(folder);
    const bool mine = status.st_uid == ::geteuid();
    const bool trustedOwner = mine || (space == KernelNamespace::Global && status.st_uid == 0);
    if (!S_ISDIR(status.st_mode) || !trustedOwner) {
        Refuse(folder);
    }
    const mode_t wanted = space == KernelNamespace::Global ? k_sharedMode : k_privateMode;
    mode_t mode = status.st_mode & 07777;
    if (mode != wanted && mine) {
        if (::chmod(folder.c_str(), wanted) != 0) {
            Refuse(folder);
        }
        mode = wanted;
    }
    const bool safe = space == KernelNamespace::User ? (mode & 077) == 0
                                                     : (mode & 022) == 0 || (mode & S_ISVTX) != 0;
    if (!safe) {
        Refuse(folder);
    }
}

std::string KernelObjectName::LockFilePath(std::string_view suffix) const {
    return Folder(m_namespace) + "/" + Encode(m_name, k_maxFileName - k_longestSuffix) +
           std::string(suffix);
}

std::string KernelObjectName::SemaphoreName() const {
    const std::string prefix = m_namespace == KernelNamespace::Global
                                   ? "zelto-global-"
                                   : "zelto-" + std::to_string(::geteuid()) + "-";
    return "/" + prefix + Encode(m_name, k_maxSemaphoreName - prefix.size());
}

}  // namespace qsys
