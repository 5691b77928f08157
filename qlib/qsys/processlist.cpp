#include "qlib/qsys/processlist.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <memory>
#include <string_view>
#include <system_error>

#include "qlib/qsys/files.h"
#include "qlib/qsys/systemerror.h"
#include "qlib/qsys/textcodec.h"

namespace qsys {
namespace {

constexpr std::string_view k_procFolder = "/proc";
// readlink() appends this to the target of a link whose file was deleted or replaced.
constexpr std::string_view k_deletedSuffix = " (deleted)";

struct DirectoryCloser {
    void operator()(DIR* directory) const noexcept { ::closedir(directory); }
};

std::optional<uint32_t> ParseProcessId(std::string_view text) {
    uint32_t id = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
    if (error != std::errc() || end != text.data() + text.size() || id == 0) {
        return std::nullopt;
    }
    return id;
}

std::string ProcessPath(uint32_t id, std::string_view entry) {
    return std::string(k_procFolder) + "/" + std::to_string(id) + "/" + std::string(entry);
}

std::optional<std::string> ReadLink(const std::string& path) {
    std::string target(256, '\0');
    for (;;) {
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length < 0) {
            return std::nullopt;
        }
        if (static_cast<size_t>(length) < target.size()) {
            target.resize(static_cast<size_t>(length));
            return target;
        }
        target.resize(target.size() * 2);
    }
}

std::optional<std::string> ExecutablePath(uint32_t id) {
    std::optional<std::string> path = ReadLink(ProcessPath(id, "exe"));
    if (path && path->ends_with(k_deletedSuffix)) {
        path->resize(path->size() - k_deletedSuffix.size());
    }
    return path;
}

// The real user id from the "Uid:" line of the status file (real, effective, saved, file
// system ids, tab-separated).
std::optional<uid_t> RealUserId(uint32_t id) {
    std::optional<std::string> status;
    try {
        status = ReadFileIfExists(ProcessPath(id, "status"));
    } catch (const std::system_error&) {
        return std::nullopt;
    }
    if (!status) {
        return std::nullopt;
    }
    constexpr std::string_view k_label = "\nUid:";
    const size_t label = status->find(k_label);
    if (label == std::string::npos) {
        return std::nullopt;
    }
    const char* first = status->data() + label + k_label.size();
    const char* last = status->data() + status->size();
    first = std::find_if(first, last, [](char c) { return c != '\t' && c != ' '; });
    uid_t user = 0;
    if (std::from_chars(first, last, user).ec != std::errc()) {
        return std::nullopt;
    }
    return user;
}

}  // namespace

std::vector<uint32_t> ListProcessIds() {
    const std::unique_ptr<DIR, DirectoryCloser> directory(::opendir(k_procFolder.data()));
    if (!directory) {
        ThrowLastError("opening /proc");
    }
    std::vector<uint32_t> ids;
    errno = 0;
    while (const dirent* entry = ::readdir(directory.get())) {
        if (const std::optional<uint32_t> id = ParseProcessId(entry->d_name)) {
            ids.push_back(*id);
        }
        errno = 0;
    }
    if (errno != 0) {
        ThrowLastError("reading /proc");
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

ProcessEntry ReadProcessEntry(uint32_t id) {
    ProcessEntry process;
    process.id = id;
    if (const std::optional<std::string> path = ExecutablePath(id)) {
        process.executablePath = FromUtf8(*path);
        process.name = process.executablePath.substr(process.executablePath.rfind(L'/') + 1);
    }
    process.userId = RealUserId(id);
    return process;
}

}  // namespace qsys
