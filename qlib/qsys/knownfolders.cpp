#include "qlib/qsys/knownfolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "qlib/qsys/systemerror.h"
#include "qlib/qsys/textcodec.h"

namespace qsys {
namespace {

std::optional<std::string> AbsoluteFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') {
        return std::nullopt;
    }
    std::string path(value);
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

std::wstring UnderHome(const char* variable, const wchar_t* fallback) {
    if (const std::optional<std::string> path = AbsoluteFromEnvironment(variable)) {
        return FromUtf8(*path);
    }
    return HomeDirectory() + fallback;
}

}  // namespace

std::wstring HomeDirectory() {
    if (const std::optional<std::string> home = AbsoluteFromEnvironment("HOME")) {
        return FromUtf8(*home);
    }
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || entry.pw_dir == nullptr || entry.pw_dir[0] != '/') {
        ThrowSystemError(ENOENT, "the home folder of the user is not known");
    }
    return FromUtf8(entry.pw_dir);
}

std::wstring TemporaryDirectory() {
    return FromUtf8(AbsoluteFromEnvironment("TMPDIR").value_or("/tmp"));
}

std::wstring LocalAppDataDirectory() {
    return UnderHome("XDG_DATA_HOME", L"/.local/share");
}

std::wstring ConfigDirectory() {
    return UnderHome("XDG_CONFIG_HOME", L"/.config");
}

std::optional<std::wstring> RuntimeDirectory() {
    const std::optional<std::string> path = AbsoluteFromEnvironment("XDG_RUNTIME_DIR");
    return path ? std::optional<std::wstring>(FromUtf8(*path)) : std::nullopt;
}

}  // namespace qsys
