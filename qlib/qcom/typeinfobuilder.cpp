#include "qlib/qcom/typeinfobuilder.h"

#include <set>

#include "qlib/qsys/nocase.h"
#include "qlib/qsys/textcodec.h"

namespace {

[[noreturn]] void Reject(const InterfaceInfo& info, const MethodInfo& method, const char* what) {
    throw std::logic_error("type library table " + qsys::ToUtf8(info.name) +
                           "::" + qsys::ToUtf8(method.name) + ": " + what);
}

void CheckParams(const InterfaceInfo& info, const MethodInfo& method) {
    for (const ParamInfo& param : method.params) {
        if (param.presence == ParamPresence::Optional &&
            (param.direction != ParamDirection::In || param.vt != VT_VARIANT)) {
            Reject(info, method, "only a VARIANT in-parameter may be optional");
        }
        if (param.name.empty() != method.params.front().name.empty()) {
            Reject(info, method, "name every parameter or none");
        }
    }
}

}  // namespace

InterfaceInfo CheckInterfaceInfo(InterfaceInfo info) {
    std::set<DISPID> dispIds;
    auto lessIgnoringCase = [](const std::wstring& left, const std::wstring& right) {
        return qsys::CompareIgnoreCase(left, right) < 0;
    };
    std::set<std::wstring, decltype(lessIgnoringCase)> names(lessIgnoringCase);
    ULONG slot = 0;
    for (MethodInfo& method : info.methods) {
        method.slot = ++slot;
        if (method.dispId == DISPID_UNKNOWN) {
            if (info.kind == InterfaceKind::Dual) {
                Reject(info, method, "a method of a dual interface needs a dispatch id");
            }
        } else if (!dispIds.insert(method.dispId).second) {
            Reject(info, method, "dispatch id used twice");
        }
        if (!names.insert(method.name).second) {
            Reject(info, method, "method name used twice");
        }
        CheckParams(info, method);
    }
    return info;
}
