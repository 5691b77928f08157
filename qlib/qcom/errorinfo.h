#pragma once
// Thread-local error information: what an interface method that fails leaves for its caller
// beside the HRESULT (description, the interface that declares the method, the source ProgID).
// A method installs it with SetErrorInfo just before it returns a failure; the caller takes it
// with GetErrorInfo right after the call, which also clears it, as COM's GetErrorInfo does.
//
// Each thread has its own slot; nothing is shared between threads.

#include <optional>
#include <string>

#include "qlib/qcom/guid.h"

struct ErrorInfo {
    std::wstring description;
    IID interfaceId;
    std::wstring source;
};

// Replaces the calling thread's error information.
void SetErrorInfo(ErrorInfo info);

// Takes the calling thread's error information, leaving none.
std::optional<ErrorInfo> GetErrorInfo();

// Drops the calling thread's error information.
void ClearErrorInfo();
