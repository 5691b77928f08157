#pragma once
// CVRegistryScript: a registration script (the server's resources of type "REGISTRY") parsed
// into a tree of keys, with the replacements (%MODULE%, %APPID%, ...) already made. CVRegistrar
// applies the tree to the registry store.
//
// The script language:
//     script   := root*
//     root     := ROOT '{' key* '}'           ROOT: HKCR, HKCU, HKLM, HKU or the full names
//     key      := flag* name [ '=' value ] [ '{' ( key | named )* '}' ]
//     named    := 'val' name '=' value        a named value of the enclosing key
//     flag     := 'NoRemove'                  the key is never removed on unregistration
//               | 'ForceRemove'              the key is removed and recreated on registration
//     value    := 's' text | 'd' text         a string, or a 32-bit number (decimal or 0x...)
//     name     := text
//     text     := a bare word (no blanks, braces, '=' or quotes) | 'quoted' ('' is one quote)
//               | a word that opens with '{' followed by no blank, up to a blank, '=' or a
//                 quote (a class id in braces: {F1E39C1E-...})
// Keywords are matched ignoring case. In every name and text, %NAME% is replaced by the value
// given for NAME and %% by one percent sign; a name without a value is an error. A key name
// may not contain "\" or "/" (each level of a path is a key of its own).
//
// Failures raise CQException with QERR_INVALID_STRING_FORMAT and the context value "Line";
// nesting deeper than k_maxDepth levels is refused the same way.
//
// A value; thread-compatible.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qlib/qsys/registryvalue.h"

enum class EVKeyRemoval {
    Removed,       // removed (with everything under it) on unregistration
    NeverRemoved,  // kept on unregistration; only what the script puts under it goes
    Recreated,     // removed and written afresh on registration, removed on unregistration
};

struct SVRegistryScriptKey {
    std::wstring name;
    EVKeyRemoval removal = EVKeyRemoval::Removed;
    std::optional<qsys::RegistryValue> defaultValue;
    std::vector<std::pair<std::wstring, qsys::RegistryValue>> values;
    std::vector<SVRegistryScriptKey> subkeys;
};

class CVRegistryScript {
public:
    using Replacements = std::map<std::wstring, std::wstring>;
    static constexpr int k_maxDepth = 32;

    static CVRegistryScript Parse(std::wstring_view text, const Replacements& replacements);

    // One entry per root block, named by the root's full name ("HKEY_CLASSES_ROOT").
    const std::vector<SVRegistryScriptKey>& Roots() const { return m_roots; }

private:
    std::vector<SVRegistryScriptKey> m_roots;
};
