#include "qlib/qcom/typeinfo.h"

#include <algorithm>
#include <limits>

#include "qlib/qcom/comerror.h"
#include "qlib/qsys/nocase.h"

namespace {

constexpr UINT k_noBadArgument = std::numeric_limits<UINT>::max();

void FillExcepInfo(HRESULT hr, EXCEPINFO* excepInfo) {
    *excepInfo = EXCEPINFO{};
    excepInfo->scode = hr;
    if (auto info = GetErrorInfo()) {
        excepInfo->bstrSource = std::move(info->source);
        excepInfo->bstrDescription = std::move(info->description);
    } else {
        excepInfo->bstrDescription = HResultMessage(hr).value_or(std::wstring());
    }
}

}  // namespace

size_t MethodInfo::ArgumentCount() const {
    return params.size() - (RetVal() != nullptr ? 1 : 0);
}

const ParamInfo* MethodInfo::RetVal() const {
    return !params.empty() && params.back().direction == ParamDirection::RetVal ? &params.back()
                                                                                : nullptr;
}

int MethodInfo::FindParam(std::wstring_view paramName) const {
    const auto found = std::find_if(params.begin(), params.end(), [&](const ParamInfo& param) {
        return qsys::EqualsIgnoreCase(param.name, paramName);
    });
    return found != params.end() ? static_cast<int>(found - params.begin()) : -1;
}

const MethodInfo* InterfaceInfo::FindMethod(DISPID dispId) const {
    const auto found = std::find_if(methods.begin(), methods.end(), [&](const MethodInfo& method) {
        return method.dispId == dispId && dispId != DISPID_UNKNOWN;
    });
    return found != methods.end() ? &*found : nullptr;
}

const MethodInfo* InterfaceInfo::FindMethod(std::wstring_view methodName) const {
    const auto found = std::find_if(methods.begin(), methods.end(), [&](const MethodInfo& method) {
        return qsys::EqualsIgnoreCase(method.name, methodName);
    });
    return found != methods.end() ? &*found : nullptr;
}

HRESULT InvokeMethod(const MethodInfo& method, void* self, std::span<VARIANT* const> args,
                     VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) {
    const size_t argumentCount = method.ArgumentCount();
    if (args.size() > argumentCount) {
        return DISP_E_BADPARAMCOUNT;
    }
    VARIANT missing = VARIANT::Missing();
    VARIANT unwantedResult;
    std::vector<VARIANT*> slots(method.params.size());
    for (size_t i = 0; i < argumentCount; ++i) {
        const ParamInfo& param = method.params[i];
        const bool optional = param.presence == ParamPresence::Optional;
        if (i >= args.size()) {
            if (!optional) {
                return DISP_E_BADPARAMCOUNT;
            }
            slots[i] = &missing;
            continue;
        }
        if (args[i] == nullptr) {
            return E_POINTER;
        }
        if (param.direction == ParamDirection::In && !optional && args[i]->IsMissing()) {
            if (argErr != nullptr) {
                *argErr = static_cast<UINT>(i);
            }
            return DISP_E_PARAMNOTOPTIONAL;
        }
        slots[i] = args[i];
    }
    if (result != nullptr) {
        result->Clear();
    }
    if (method.RetVal() != nullptr) {
        slots.back() = result != nullptr ? result : &unwantedResult;
    }

    UINT badArgument = k_noBadArgument;
    HRESULT hr = S_OK;
    try {
        hr = method.call(self, slots, &badArgument);
    } catch (...) {
        hr = HResultFromCurrentException();
    }
    if (badArgument != k_noBadArgument) {
        if (argErr != nullptr) {
            *argErr = badArgument;
        }
        return hr;
    }
    if (FAILED(hr) && excepInfo != nullptr) {
        FillExcepInfo(hr, excepInfo);
        return DISP_E_EXCEPTION;
    }
    return hr;
}

HRESULT InvokeMethod(const MethodInfo& method, void* self, std::span<VARIANT> args, VARIANT* result,
                     EXCEPINFO* excepInfo, UINT* argErr) {
    std::vector<VARIANT*> pointers;
    pointers.reserve(args.size());
    for (VARIANT& arg : args) {
        pointers.push_back(&arg);
    }
    return InvokeMethod(method, self, pointers, result, excepInfo, argErr);
}
