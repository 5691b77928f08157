#include "qlib/qcom/errorinfo.h"

#include <utility>

namespace {
thread_local std::optional<ErrorInfo> t_errorInfo;
}

void SetErrorInfo(ErrorInfo info) {
    t_errorInfo = std::move(info);
}

std::optional<ErrorInfo> GetErrorInfo() {
    return std::exchange(t_errorInfo, std::nullopt);
}

void ClearErrorInfo() {
    t_errorInfo.reset();
}
