#pragma once
// The folders the program keeps its files in, found as the XDG base-directory rules say:
// an environment variable when it holds an absolute path, else the usual place under the
// home folder. Results carry no trailing "/". Paths are UTF-8 on this system; a name that is
// not valid UTF-8 is carried with U+FFFD in place of the bad bytes.
//
// Reads the environment on every call (tests change it); safe to call from any thread as long
// as nobody changes the environment at the same time.

#include <optional>
#include <string>

namespace qsys {

// $HOME, else the home folder of the user's password entry. Throws std::system_error(ENOENT)
// when neither is known.
std::wstring HomeDirectory();

// $TMPDIR, else "/tmp".
std::wstring TemporaryDirectory();

// $XDG_DATA_HOME, else ~/.local/share (the local application-data folder).
std::wstring LocalAppDataDirectory();

// $XDG_CONFIG_HOME, else ~/.config.
std::wstring ConfigDirectory();

// $XDG_RUNTIME_DIR when set to an absolute path (the per-user runtime folder the session
// manager keeps with mode 0700); nullopt otherwise.
std::optional<std::wstring> RuntimeDirectory();

}  // namespace qsys
