#pragma once
// RegistryHive is the file that holds one root key of the registry store: "<root name>.reg"
// (HKEY_CURRENT_USER.reg, HKEY_LOCAL_MACHINE.reg, ...) in the root's folder:
//   - $ZELTO_REGISTRY_DIR for every root when that variable is set (tests use it);
//   - /etc/zelto/registry for HKEY_LOCAL_MACHINE (only root may write there, so a user's
//     write fails with EACCES while reads work);
//   - $XDG_CONFIG_HOME/zelto/registry (else ~/.config/zelto/registry) for the others.
//
// Safe between processes and threads: readers read the file without a lock (it is only ever
// replaced whole, by rename); a writer takes an exclusive flock on "<file>.lock", reads the
// file afresh under that lock, applies its change and replaces the file (temporary file,
// fsync, rename, fsync of the folder). So no writer's change is lost to another's, and a
// crash leaves the old or the new file, never a torn one. A file that does not parse stops
// both reads and writes with a RegistryFormatError and is never overwritten.
//
// A value (root and folder); copyable; any thread.

#include <functional>
#include <string>

#include "qlib/qsys/registrykeynode.h"
#include "qlib/qsys/registrypath.h"

namespace qsys {

class RegistryHive {
public:
    // The hive of `root` in its folder as described above (the environment is read now).
    static RegistryHive ForRoot(RegistryRoot root);
    RegistryHive(RegistryRoot root, std::string folder);

    RegistryRoot Root() const { return m_root; }
    const std::string& FilePath() const { return m_filePath; }

    // The current tree; an empty root key when the file does not exist yet.
    RegistryKeyNode Load() const;

    // Runs `change` on the current tree under the hive's write lock and writes the tree back
    // when `change` returns true. An exception from `change` leaves the file as it was.
    void Update(const std::function<bool(RegistryKeyNode& root)>& change) const;

    // Fails (EACCES, EROFS, ...) unless this process may write the hive: creates the folder
    // and opens the lock file for writing as a write would.
    void CheckWritable() const;

private:
    bool IsMachineWide() const { return m_root == RegistryRoot::LocalMachine; }
    std::string LockPath() const { return m_filePath + ".lock"; }
    void CreateFolder() const;

    RegistryRoot m_root;
    std::string m_folder;
    std::string m_filePath;
};

}  // namespace qsys
