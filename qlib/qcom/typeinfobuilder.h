#pragma once
// Builds an interface's type library table (typeinfo.h) from its member functions. Parameter
// types, directions and the return value are deduced from the member function pointer; a row
// names the method, its dispatch id and its parameters:
//
//     const InterfaceInfo& IVTranscodeService::TypeInfo() {
//         static const InterfaceInfo s_info = MakeInterfaceInfo<IVTranscodeService>(
//             L"IVTranscodeService",
//             {
//                 {L"Add", 1, &IVTranscodeService::Add, {L"piTCItem", L"nPriority", L"pnRetVal"}},
//                 {L"AddFile", 2, &IVTranscodeService::AddFile,
//                  {L"strSrcURL", L"strDestURL", L"nPriority", L"nOutFormat",
//                   Optional(L"varMCProductCode"), L"pnRetVal"}},
//                 {L"GetCount", 4, &IVTranscodeService::GetCount, {L"pnRetVal"}},
//             });
//         return s_info;
//     }
//
// Rows are in slot order. A custom interface (deriving from IUnknown) leaves out the dispatch
// ids; a method without parameters leaves out the name list.
//
// Parameter types and what they become:
//   in:  integers by width (LONG -> VT_I4, ULONG -> VT_UI4, SHORT -> VT_I2, ...), float
//        (VT_R4), double (VT_R8), VARIANT_BOOL (VT_BOOL), BSTR or const BSTR& (VT_BSTR),
//        VARIANT or const VARIANT& (VT_VARIANT, passed unconverted), I* for an interface I
//        (VT_DISPATCH when I derives from IDispatch, else VT_UNKNOWN; the argument's object is
//        asked for I);
//   out: a pointer to any of the value types above, or I** for an interface.
// The last parameter is the out-retval when it is an out parameter (as in every interface
// here); other out parameters are plain outs. Only a VARIANT in-parameter may be Optional.
// A mistake in a table (names that do not match the parameters, a repeated dispatch id or
// name, a non-VARIANT optional) is a programming error and raises std::logic_error when the
// table is built.
//
// Built tables are constant; see typeinfo.h for threads.

#include <cstddef>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "qlib/qcom/typeinfo.h"

// A parameter's name in a table row, optionally marked Optional.
struct ParamName {
    ParamName(const wchar_t* parameterName) : name(parameterName) {}
    ParamName(std::wstring_view parameterName, ParamPresence parameterPresence)
        : name(parameterName), presence(parameterPresence) {}

    std::wstring_view name;
    ParamPresence presence = ParamPresence::Required;
};

inline ParamName Optional(const wchar_t* name) {
    return ParamName(name, ParamPresence::Optional);
}

namespace typeinfo_detail {

template <class T>
concept Scalar = AutomationInteger<T> || std::is_same_v<T, float> || std::is_same_v<T, double> ||
    std::is_same_v<T, VARIANT_BOOL>;

template <class T>
concept Interface = std::is_base_of_v<IUnknown, T>;

template <Scalar T>
constexpr VARTYPE ScalarVt() {
    if constexpr (std::is_same_v<T, float>) {
        return VT_R4;
    } else if constexpr (std::is_same_v<T, double>) {
        return VT_R8;
    } else if constexpr (std::is_same_v<T, VARIANT_BOOL>) {
        return VT_BOOL;
    } else {
        return VARIANT::IntegerVt<T>();
    }
}

// The type a VARIANT keeps a scalar parameter's value as.
template <class T>
struct ScalarStorage : std::type_identity<T> {};
template <AutomationInteger T>
struct ScalarStorage<T> : std::type_identity<VARIANT::IntegerStorage<T>> {};

template <Interface I>
constexpr VARTYPE InterfaceVt() {
    return std::is_base_of_v<IDispatch, I> ? VT_DISPATCH : VT_UNKNOWN;
}

// Converts an argument to T through VariantChangeType.
template <class T, VARTYPE Vt>
HRESULT Convert(const VARIANT& argument, T* value) {
    VARIANT converted;
    const HRESULT hr = VariantChangeType(&converted, &argument, 0, Vt);
    if (SUCCEEDED(hr)) {
        *value = static_cast<T>(converted.Get<typename ScalarStorage<T>::type>());
    }
    return hr;
}

// For each parameter type: its VT, its direction, and a holder that carries the argument
// through one call (Load from the slot, Pass to the method, Store the result in the slot).
template <class A>
struct Param {
    static_assert(sizeof(A) == 0, "not an automation parameter type (see typeinfobuilder.h)");
};

// Shared parts of in-parameters (nothing to store) and out-parameters (nothing to load).
struct InParam {
    static constexpr bool k_out = false;
    struct StoreNothing {
        void Store(VARIANT*) {}
    };
};
struct OutParam {
    static constexpr bool k_out = true;
    struct LoadNothing {
        HRESULT Load(const VARIANT&) { return S_OK; }
    };
};

template <Scalar T>
struct Param<T> : InParam {
    static constexpr VARTYPE k_vt = ScalarVt<T>();
    static const IID* Iid() { return nullptr; }
    struct Holder : StoreNothing {
        T value{};
        HRESULT Load(const VARIANT& argument) { return Convert<T, k_vt>(argument, &value); }
        T Pass() { return value; }
    };
};

template <class B>
requires std::is_same_v<B, BSTR> || std::is_same_v<B, const BSTR&>
struct Param<B> : InParam {
    static constexpr VARTYPE k_vt = VT_BSTR;
    static const IID* Iid() { return nullptr; }
    struct Holder : StoreNothing {
        BSTR value;
        HRESULT Load(const VARIANT& argument) { return Convert<BSTR, VT_BSTR>(argument, &value); }
        B Pass() { return std::move(value); }
    };
};

template <class V>
requires std::is_same_v<V, VARIANT> || std::is_same_v<V, const VARIANT&>
struct Param<V> : InParam {
    static constexpr VARTYPE k_vt = VT_VARIANT;
    static const IID* Iid() { return nullptr; }
    struct Holder : StoreNothing {
        const VARIANT* argument = nullptr;
        HRESULT Load(const VARIANT& value) {
            argument = &value;
            return S_OK;
        }
        const VARIANT& Pass() { return *argument; }
    };
};

template <Interface I>
struct Param<I*> : InParam {
    static constexpr VARTYPE k_vt = InterfaceVt<I>();
    static const IID* Iid() { return &IidOf<I>(); }
    struct Holder : StoreNothing {
        CComPtr<I> object;
        HRESULT Load(const VARIANT& argument) {
            if (argument.Vt() == VT_EMPTY) {
                return S_OK;
            }
            if (argument.Vt() != VT_UNKNOWN && argument.Vt() != VT_DISPATCH) {
                return DISP_E_TYPEMISMATCH;
            }
            const CComPtr<IUnknown> unknown(argument.Unknown());
            if (unknown != nullptr && FAILED(unknown.QueryInterface(&object))) {
                return DISP_E_TYPEMISMATCH;
            }
            return S_OK;
        }
        I* Pass() { return object.Get(); }
    };
};

template <class T>
requires Scalar<T> || std::is_same_v<T, BSTR> || std::is_same_v<T, VARIANT>
struct Param<T*> : OutParam {
    static constexpr VARTYPE k_vt = Param<T>::k_vt;
    static const IID* Iid() { return nullptr; }
    struct Holder : LoadNothing {
        T value{};
        T* Pass() { return &value; }
        void Store(VARIANT* slot) { *slot = VARIANT(std::move(value)); }
    };
};

template <Interface I>
struct Param<I**> : OutParam {
    static constexpr VARTYPE k_vt = InterfaceVt<I>();
    static const IID* Iid() { return &IidOf<I>(); }
    struct Holder : LoadNothing {
        CComPtr<I> object;
        I** Pass() { return &object; }
        void Store(VARIANT* slot) { *slot = VARIANT(object.Get()); }
    };
};

template <class I, class C, class... A, size_t... N>
HRESULT Call(HRESULT (C::*member)(A...), void* self,
             [[maybe_unused]] std::span<VARIANT* const> slots, [[maybe_unused]] UINT* badArgument,
             std::index_sequence<N...>) {
    std::tuple<typename Param<A>::Holder...> holders;
    HRESULT hr = S_OK;
    // Loads the arguments in order and stops at the first that does not convert.
    const bool loaded = ((SUCCEEDED(hr = std::get<N>(holders).Load(*slots[N])) ||
                          (*badArgument = static_cast<UINT>(N), false)) &&
                         ...);
    if (!loaded) {
        return hr;
    }
    C* object = static_cast<C*>(static_cast<I*>(self));
    hr = (object->*member)(std::get<N>(holders).Pass()...);
    if (SUCCEEDED(hr)) {
        (std::get<N>(holders).Store(slots[N]), ...);
    }
    return hr;
}

template <class... A>
std::vector<ParamInfo> Params(std::span<const ParamName> names) {
    std::vector<ParamInfo> params{ParamInfo{
        std::wstring(), Param<A>::k_vt, Param<A>::Iid(),
        Param<A>::k_out ? ParamDirection::Out : ParamDirection::In, ParamPresence::Required}...};
    if (!params.empty() && params.back().direction == ParamDirection::Out) {
        params.back().direction = ParamDirection::RetVal;
    }
    for (size_t i = 0; i < names.size(); ++i) {
        params[i].name = names[i].name;
        params[i].presence = names[i].presence;
    }
    return params;
}

}  // namespace typeinfo_detail

// One row of a table for interface I: a member function of I (or of an interface I derives
// from) with its name, dispatch id and parameter names.
template <class I>
struct ComMethod {
    template <class C, class... A, size_t N>
    ComMethod(std::wstring_view name, DISPID dispId, HRESULT (C::*member)(A...),
              const ParamName (&names)[N])
        : info(Make(name, dispId, member, names)) {
        static_assert(N == sizeof...(A), "one name for every parameter, the retval's included");
    }
    template <class C, class... A>
    ComMethod(std::wstring_view name, DISPID dispId, HRESULT (C::*member)(A...))
        : info(Make(name, dispId, member, {})) {}
    template <class C, class... A, size_t N>
    ComMethod(std::wstring_view name, HRESULT (C::*member)(A...), const ParamName (&names)[N])
        : ComMethod(name, DISPID_UNKNOWN, member, names) {}
    template <class C, class... A>
    ComMethod(std::wstring_view name, HRESULT (C::*member)(A...))
        : ComMethod(name, DISPID_UNKNOWN, member) {}

    MethodInfo info;

private:
    template <class C, class... A>
    static MethodInfo Make(std::wstring_view name, DISPID dispId, HRESULT (C::*member)(A...),
                           std::span<const ParamName> names) {
        static_assert(std::is_base_of_v<C, I>, "the member belongs to another interface");
        MethodInfo method;
        method.name = name;
        method.dispId = dispId;
        method.params = typeinfo_detail::Params<A...>(names);
        method.call = [member](void* self, std::span<VARIANT* const> slots, UINT* badArgument) {
            return typeinfo_detail::Call<I>(member, self, slots, badArgument,
                                            std::index_sequence_for<A...>{});
        };
        return method;
    }
};

// Checks a table and numbers its slots; raises std::logic_error for a mistake in it.
InterfaceInfo CheckInterfaceInfo(InterfaceInfo info);

// The table of interface I; see the top of this header.
template <class I>
InterfaceInfo MakeInterfaceInfo(std::wstring name, std::initializer_list<ComMethod<I>> methods) {
    InterfaceInfo info;
    info.iid = IidOf<I>();
    info.name = std::move(name);
    info.kind = std::is_base_of_v<IDispatch, I> ? InterfaceKind::Dual : InterfaceKind::Custom;
    for (const ComMethod<I>& method : methods) {
        info.methods.push_back(method.info);
    }
    return CheckInterfaceInfo(std::move(info));
}
