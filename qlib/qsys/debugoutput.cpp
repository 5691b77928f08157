#include "qlib/qsys/debugoutput.h"

#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <string>

#include "qlib/qsys/textcodec.h"

namespace qsys {

void WriteDebugOutput(std::wstring_view text) noexcept {
    // Never destroyed: threads may still write while the process exits.
    static std::mutex* s_guard = new std::mutex;
    try {
        std::string line = ToUtf8(text);
        if (line.empty() || line.back() != '\n') {
            line += '\n';
        }
        const std::lock_guard lock(*s_guard);
        std::string_view rest = line;
        while (!rest.empty()) {
            const ssize_t written = ::write(STDERR_FILENO, rest.data(), rest.size());
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                return;
            }
            rest.remove_prefix(static_cast<size_t>(written));
        }
    } catch (...) {
        // Out of memory while converting: the line is lost.
    }
}

}  // namespace qsys
