#include "qlib/qsys/registryhive.h"

#include <cstdlib>

#include "qlib/qsys/filelock.h"
#include "qlib/qsys/files.h"
#include "qlib/qsys/knownfolders.h"
#include "qlib/qsys/registryfileformat.h"
#include "qlib/qsys/textcodec.h"

namespace qsys {
namespace {

constexpr const char* k_machineFolder = "/etc/zelto/registry";
constexpr const char* k_folderVariable = "ZELTO_REGISTRY_DIR";

// The machine hive is readable by everybody (as HKEY_LOCAL_MACHINE is); a user's are private.
constexpr mode_t k_machineFileMode = 0644;
constexpr mode_t k_machineFolderMode = 0755;
constexpr mode_t k_userFileMode = 0600;
constexpr mode_t k_userFolderMode = 0700;

std::string FolderFor(RegistryRoot root) {
    const char* configured = std::getenv(k_folderVariable);
    if (configured != nullptr && configured[0] != '\0') {
        return configured;
    }
    if (root == RegistryRoot::LocalMachine) {
        return k_machineFolder;
    }
    return ToUtf8(ConfigDirectory()) + "/zelto/registry";
}

}  // namespace

RegistryHive RegistryHive::ForRoot(RegistryRoot root) {
    return RegistryHive(root, FolderFor(root));
}

RegistryHive::RegistryHive(RegistryRoot root, std::string folder)
    : m_root(root),
      m_folder(std::move(folder)),
      m_filePath(m_folder + "/" + ToUtf8(RegistryRootName(root)) + ".reg") {}

RegistryKeyNode RegistryHive::Load() const {
    const std::optional<std::string> text = ReadFileIfExists(m_filePath);
    if (!text) {
        return RegistryKeyNode(std::wstring(RegistryRootName(m_root)));
    }
    return RegistryFileFormat::Parse(*text, RegistryRootName(m_root), m_filePath);
}

void RegistryHive::Update(const std::function<bool(RegistryKeyNode& root)>& change) const {
    CreateFolder();
    const FileLock lock =
        FileLock::Acquire(LockPath(), IsMachineWide() ? k_machineFileMode : k_userFileMode);
    RegistryKeyNode root = Load();
    if (change(root)) {
        WriteFileAtomically(m_filePath, RegistryFileFormat::Write(root),
                            IsMachineWide() ? k_machineFileMode : k_userFileMode);
    }
}

void RegistryHive::CheckWritable() const {
    CreateFolder();
    OpenLockFile(LockPath(), IsMachineWide() ? k_machineFileMode : k_userFileMode);
}

void RegistryHive::CreateFolder() const {
    CreateDirectories(m_folder, IsMachineWide() ? k_machineFolderMode : k_userFolderMode);
}

}  // namespace qsys
