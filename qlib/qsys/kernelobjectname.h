#pragma once
// KernelObjectName maps the name of a named mutex or event (any text) to the lock files and
// POSIX semaphores that carry it on this system.
//
// Namespaces: a name that starts with "Global\" (any case) is shared by every user of the
// machine; any other name (with or without "Local\") by the processes of one user.
//   - per user: lock files in $XDG_RUNTIME_DIR/zelto, else /tmp/zelto-<uid>; the folder is
//     created with mode 0700 and refused (EACCES) when it is a link, belongs to another user
//     or is open to others; $XDG_RUNTIME_DIR itself must be a folder of ours that others may
//     not enter (mode 0700), else it is refused the same way; semaphores
//     "/zelto-<uid>-<name>";
//   - global: lock files in /tmp/zelto-global (mode 1777, files 0666 so every user may open
//     them, as a mutex with an open access list), semaphores "/zelto-global-<name>". The
//     folder is trusted only when it belongs to root or to us and, when others may write to it,
//     has the sticky bit (so nobody deletes or replaces another user's files); a folder planted
//     by another user is refused (EACCES).
// A folder of ours with another mode is given the right one.
//
// Encoding: letters, digits, "_", "-" and "." (except a leading one) stand for themselves;
// every other byte of the name's UTF-8 form becomes %XX. So distinct names stay distinct, and
// a name never holds "/" or is "." or "..". A name too long for the system limits (255 bytes
// for a file name, 251 for a semaphore name) is cut and ends with "~" and a 64-bit hash of
// the whole name instead.
//
// A value type; thread-compatible. Folder() may be called from any thread.

#include <string>
#include <string_view>

namespace qsys {

enum class KernelNamespace { User, Global };

class KernelObjectName {
public:
    // EINVAL for an empty name (after the prefix).
    static KernelObjectName Parse(std::wstring_view name);

    KernelNamespace Namespace() const { return m_namespace; }
    // The name without its namespace prefix.
    const std::wstring& Name() const { return m_name; }

    // "<folder>/<encoded name><suffix>"; creates the namespace's folder when missing.
    std::string LockFilePath(std::string_view suffix) const;
    // The POSIX semaphore name, "/" first.
    std::string SemaphoreName() const;
    // Mode for the lock files and semaphores of this namespace.
    unsigned Mode() const { return m_namespace == KernelNamespace::Global ? 0666 : 0600; }

    static std::string Encode(std::wstring_view name, size_t maxLength);
    // The namespace's folder, created and checked as described above.
    static std::string Folder(KernelNamespace space);
    // The checks Folder applies to the namespace's folder (not to $XDG_RUNTIME_DIR): raises
    // EACCES when folder is not safe for the namespace's objects.
    static void CheckFolder(const std::string& folder, KernelNamespace space);

private:
    KernelObjectName(KernelNamespace space, std::wstring name)
        : m_namespace(space), m_name(std::move(name)) {}

    KernelNamespace m_namespace;
    std::wstring m_name;
};

}  // namespace qsys
