#pragma once
// Thread-local error information: what an interface method that fails leaves for its caller
// beside the HRESULT (description, the interface that declares the method, the source ProgID).
// A method installs it with SetErrorInfo just before it returns a failure; the caller takes it
// with GetErrorInfo right after the call, which also clears it, as COM's GetErrorInfo does.
//
// Each thread has its own slot; nothing is shared between threads. An object says which of its
// interfaces leave error information through ISupportErrorInfo.

#include <optional>
#include <string>

#include "qlib/qcom/guid.h"
#include "qlib/qcom/unknown.h"

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

// What an object answers when asked whether the methods of one of its interfaces leave error
// information when they fail. CComSupportErrorInfoImpl implements it.
class ISupportErrorInfo : public IUnknown {
public:
    static constexpr IID k_iid = MakeGuid("DF0B3D60-548F-101B-8E65-08002B2BD119");

    // S_OK when they do, S_FALSE otherwise.
    virtual HRESULT InterfaceSupportsErrorInfo(REFIID iid) = 0;

protected:
    ~ISupportErrorInfo() = default;
};
