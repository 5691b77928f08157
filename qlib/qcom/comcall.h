#pragma once
// ComCall: calls an interface method so that the call reads like a call through a raising
// smart-pointer wrapper. A failed HRESULT raises _com_error carrying the error information the
// method left (ThrowIfFailed); the method's out-retval, when the caller leaves it out, is the
// result (an interface comes back as a CComPtr):
//
//     LONG count = ComCall(service, &IVTranscodeService::GetCount);
//     CComPtr<IVItem> info = ComCall(service, &IVTranscodeInfo::GetFileInfo, path);
//     ComCall(admin, &IVTranscodeServiceAdmin::Close, VARIANT_TRUE);  // all arguments: void
//
// `object` is anything that converts to the method's interface pointer (a raw pointer or a
// CComPtr); a null object raises _com_error(E_POINTER). Thread rules are the method's.

#include <tuple>
#include <type_traits>
#include <utility>

#include "qlib/qcom/comerror.h"
#include "qlib/qcom/comptr.h"

namespace comcall_detail {

// What an out-pointer parameter P receives, kept in the caller: T for T*, CComPtr<I> for I**.
template <class P>
struct RetValOf;
template <class T>
struct RetValOf<T*> {
    using Type = T;
    static T* Address(Type& value) { return &value; }
};
template <class I>
requires std::is_base_of_v<IUnknown, I>
struct RetValOf<I**> {
    using Type = CComPtr<I>;
    static I** Address(Type& value) { return &value; }
};

}  // namespace comcall_detail

template <class C, class... A, class... Args>
auto ComCall(std::type_identity_t<C>* object, HRESULT (C::*member)(A...), Args&&... args) {
    if (object == nullptr) {
        throw _com_error(E_POINTER);
    }
    if constexpr (sizeof...(Args) == sizeof...(A)) {
        ThrowIfFailed((object->*member)(std::forward<Args>(args)...));
    } else {
        static_assert(sizeof...(Args) + 1 == sizeof...(A),
                      "pass every argument, or every argument but the out-retval");
        using Out =
            comcall_detail::RetValOf<std::tuple_element_t<sizeof...(Args), std::tuple<A...>>>;
        typename Out::Type result{};
        ThrowIfFailed((object->*member)(std::forward<Args>(args)..., Out::Address(result)));
        return result;
    }
}
