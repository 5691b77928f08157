#include "components/vtranscoderlib/helper/vavlog.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <utility>

#include "components/vtranscoderlib/vtranscodeerror.h"
#include "qlib/qsys/textcodec.h"

namespace {

std::mutex s_mutex;
std::string s_lastError;  // guarded by s_mutex
bool s_echo = false;      // set once before FFmpeg runs

void LogCallback(void* context, int level, const char* format, va_list arguments) {
    if (level > AV_LOG_WARNING) {
        return;
    }
    char line[1024];
    int prefixed = 0;
    av_log_format_line2(context, level, format, arguments, line, sizeof line, &prefixed);
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    if (s_echo) {
        fprintf(stderr, "%s\n", text.c_str());
    }
    if (level <= AV_LOG_ERROR && !text.empty()) {
        std::lock_guard lock(s_mutex);
        s_lastError = std::move(text);
    }
}

}  // namespace

void CVAVLog::Install() {
    s_echo = std::getenv("VTRANSCODE_HELPER_LOG") != nullptr;
    av_log_set_callback(LogCallback);
}

std::string CVAVLog::TakeLastError() {
    std::lock_guard lock(s_mutex);
    return std::exchange(s_lastError, std::string());
}

std::string AVErrorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

void RaiseAVError(EVTranscodeResult result, const std::string& what, int error) {
    std::string message = what + ": " + AVErrorText(error);
    std::string logged = CVAVLog::TakeLastError();
    if (!logged.empty() && message.find(logged) == std::string::npos) {
        message += " (" + logged + ")";
    }
    RaiseHelperError(result, message);
}

void RaiseHelperError(EVTranscodeResult result, const std::string& message) {
    throw CVTranscodeError(result, qsys::FromUtf8(message));
}
