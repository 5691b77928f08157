#pragma once
// RegistryFileFormat reads and writes one hive as a REGEDIT4 text file, the form the registry
// editor exports:
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\Software\Zelto]
//   @="default value"
//   "Name"="text with \\ and \" escaped"
//   "Level"=dword:00000004
//   "Path"=hex(2):25,00,54,00,4d,00,50,00,25,00,00,00     (REG_EXPAND_SZ, UTF-16LE)
//   "List"=hex(7):61,00,00,00,62,00,00,00,00,00           (REG_MULTI_SZ, UTF-16LE)
//   "Blob"=hex:01,02,03                                  (REG_BINARY)
//
// Long hex lists are broken as the editor breaks them: "," and "\" end the line and the list
// goes on after two spaces on the next.
//
// Any other type is written as hex(N): with N in hex, so nothing is lost. A REG_SZ whose text
// cannot stand between quotes on one line (it holds a line break, or its data is not a plain
// terminated string) is written as hex(1):.
//
// Decision: the file is UTF-8 text (without a byte-order mark; one is accepted on reading)
// with "\n" line ends ("\r\n" accepted). The original format is in the ANSI code page; UTF-8
// is what text files are on this system and keeps every name and string intact.
//
// Reading is strict: anything that is not a header, a key line, a value line, a blank line
// or a ";" comment is a RegistryFormatError naming the file and line. Patch entries of import
// files ("[-KEY]", "name"=-) are refused too: a hive file is a snapshot, not a patch.
// Comments are not kept when the store writes the file again.
//
// Stateless; safe to call from any thread.

#include <string>
#include <string_view>

#include "qlib/qsys/registrykeynode.h"

namespace qsys {

class RegistryFileFormat {
public:
    // Parses `text` into a tree whose root is named `rootName` ("HKEY_CURRENT_USER"); every key
    // line must start with that root. An empty or blank text is an empty hive. `fileName`
    // only names the file in errors. Throws RegistryFormatError.
    static RegistryKeyNode Parse(std::string_view text, std::wstring_view rootName,
                                 const std::string& fileName);

    // The file text of the tree: the header, then every key (the root first, subkeys after
    // their parent, in enumeration order) with its values.
    static std::string Write(const RegistryKeyNode& root);

    // Whether a key or value name can be written: no NUL, CR or LF (the format has no escape
    // for them). Key names must also be free of "\" and "/", which separate levels.
    static bool IsValidValueName(std::wstring_view name);
    static bool IsValidKeyName(std::wstring_view name);
};

}  // namespace qsys
