#pragma once
// CComSupportErrorInfoImpl<Interfaces...>: ISupportErrorInfo for an object whose listed
// interfaces leave error information (SetErrorInfo) when they fail. The object lists it in its
// interface map:
//
//     class CService final : public CComObjectBase<CComDispatchImpl<IVTranscodeService>,
//                                                  CComSupportErrorInfoImpl<IVTranscodeService>>
//
// Stateless; any thread.

#include "qlib/qcom/errorinfo.h"

template <class... Interfaces>
class CComSupportErrorInfoImpl : public ISupportErrorInfo {
public:
    using Interface = ISupportErrorInfo;

    HRESULT InterfaceSupportsErrorInfo(REFIID iid) override {
        return ((iid == IidOf<Interfaces>()) || ...) ? S_OK : S_FALSE;
    }

protected:
    CComSupportErrorInfoImpl() = default;
    ~CComSupportErrorInfoImpl() = default;
};
