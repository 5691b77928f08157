#pragma once
// CComObjectBase<Entries...>: the base of every object class. It derives from the listed
// interfaces, implements IUnknown over them (its interface map) and counts references.
//
//     class CItem final : public CComObjectBase<CComDispatchImpl<IVItem>, IVProperties> {
//     public:
//         HRESULT GetGUID(BSTR* guid) override;  // IVItem
//         ...
//     };
//     CComPtr<CItem> item;
//     HRESULT hr = CreateComObject(&item);
//
// The interface map: QueryInterface answers the IID of each entry (an interface, or an
// implementation helper such as CComDispatchImpl<I> that names its interface in
// `using Interface = I;`), IUnknown with the first entry (the object's identity), IDispatch
// with the first entry that derives from IDispatch, whatever QueryAdditionalInterface answers
// (for IIDs that name no listed type, such as an outgoing dispinterface a sink implements),
// and E_NOINTERFACE with a null out-pointer for everything else.
//
// Lifetime: objects are made only by CreateComObject or a class factory, start with the one
// reference those hand out, and delete themselves when Release drops the last one, after
// FinalRelease. FinalConstruct runs right after construction; its failure fails the creation.
// Construction through a factory catches exceptions (HResultFromCurrentException).
//
// Aggregation: when a factory creates the object inside an outer object, every interface's
// IUnknown methods go to the outer object and the outer holds the inner, non-delegating
// IUnknown. A class refuses aggregation (CLASS_E_NOAGGREGATION) by declaring
//     static constexpr ComAggregation k_aggregation = ComAggregation::Refused;
//
// Threads: the reference count is atomic, so references may be added and dropped on any
// thread; everything else an object guards itself.

#include <atomic>
#include <concepts>
#include <tuple>
#include <type_traits>
#include <utility>

#include "qlib/qcom/comerror.h"
#include "qlib/qcom/comptr.h"
#include "qlib/qcom/dispatch.h"

enum class ComAggregation { Allowed, Refused };

// The interface an interface-map entry stands for: Entry::Interface for implementation
// helpers, the entry itself for an interface.
template <class Entry>
struct ComInterfaceOf {
    using Type = Entry;
};
template <class Entry>
requires requires {
    typename Entry::Interface;
}
struct ComInterfaceOf<Entry> {
    using Type = typename Entry::Interface;
};

// The non-template half of CComObjectBase: reference count, aggregation and creation.
class CComObjectBaseImpl {
public:
    CComObjectBaseImpl(const CComObjectBaseImpl&) = delete;
    CComObjectBaseImpl& operator=(const CComObjectBaseImpl&) = delete;

    // Runs once after construction, with one reference held by the creator.
    virtual HRESULT FinalConstruct() { return S_OK; }
    // Runs once when the last reference goes, before the destructor.
    virtual void FinalRelease() noexcept {}

    // Creates a T constructed from `args` and runs FinalConstruct; on success *object holds the
    // only reference (pass `&pointer` of a CComPtr<T>). An exception from the constructor
    // propagates; one from FinalConstruct becomes its HRESULT (HResultFromCurrentException).
    template <class T, class... Args>
    static HRESULT Create(T** object, Args&&... args) {
        if (object == nullptr) {
            return E_POINTER;
        }
        *object = nullptr;
        T* created = new T(std::forward<Args>(args)...);
        const HRESULT hr = static_cast<CComObjectBaseImpl*>(created)->Construct();
        if (SUCCEEDED(hr)) {
            *object = created;
        }
        return hr;
    }

    // What a class factory does: a default-constructed T, aggregated in `outer` when given,
    // asked for `iid`. Exceptions become HRESULTs.
    template <class T>
    static HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** result) {
        if (result == nullptr) {
            return E_POINTER;
        }
        *result = nullptr;
        if (outer != nullptr &&
            (AggregationOf<T>() == ComAggregation::Refused || iid != IID_IUnknown)) {
            return CLASS_E_NOAGGREGATION;
        }
        CComObjectBaseImpl* base = nullptr;
        try {
            base = new T();
        } catch (...) {
            return HResultFromCurrentException();
        }
        return base->ConstructAndQuery(outer, iid, result);
    }

    template <class T>
    static constexpr ComAggregation AggregationOf() {
        if constexpr (requires { T::k_aggregation; }) {
            return T::k_aggregation;
        } else {
            return ComAggregation::Allowed;
        }
    }

protected:
    CComObjectBaseImpl() = default;
    virtual ~CComObjectBaseImpl();

    ULONG ExternalAddRef();
    ULONG ExternalRelease();
    HRESULT ExternalQueryInterface(REFIID iid, void** object);

    // The pointer QueryInterface hands out for `iid` (the exact interface pointer, converted to
    // void*), or nullptr. The interface map answers it; QueryAdditionalInterface completes it.
    virtual void* FindInterface(REFIID iid) = 0;
    virtual void* QueryAdditionalInterface(REFIID /*iid*/) { return nullptr; }

private:
    // The non-delegating IUnknown that an outer object holds.
    class InnerUnknown final : public IUnknown {
    public:
        explicit InnerUnknown(CComObjectBaseImpl& owner) : m_owner(owner) {}
        HRESULT QueryInterface(REFIID iid, void** object) override;
        ULONG AddRef() override;
        ULONG Release() override;

    private:
        CComObjectBaseImpl& m_owner;
    };

    ULONG InternalAddRef();
    ULONG InternalRelease();
    HRESULT InternalQueryInterface(REFIID iid, void** object);
    // Takes the creator's reference and runs FinalConstruct; a failure drops the reference again
    // (which destroys the object).
    HRESULT Construct();
    HRESULT ConstructAndQuery(IUnknown* outer, REFIID iid, void** result);

    std::atomic<ULONG> m_references{0};
    // Set before FinalConstruct and constant afterwards; not counted (the outer holds us).
    IUnknown* m_outer = nullptr;
    InnerUnknown m_inner{*this};
};

template <class... Entries>
requires(sizeof...(Entries) > 0) class CComObjectBase : public CComObjectBaseImpl,
                                                        public Entries... {
public:
    HRESULT QueryInterface(REFIID iid, void** object) override {
        return ExternalQueryInterface(iid, object);
    }
    ULONG AddRef() override { return ExternalAddRef(); }
    ULONG Release() override { return ExternalRelease(); }

    // This object as an IUnknown (no reference added), to pass where one is wanted.
    IUnknown* GetUnknown() { return static_cast<IUnknown*>(InterfacePointer<First>()); }

protected:
    void* FindInterface(REFIID iid) final {
        if (iid == IID_IUnknown) {
            return static_cast<void*>(GetUnknown());
        }
        void* found = nullptr;
        ((found = found != nullptr ? found : Match<Entries>(iid)), ...);
        if (found == nullptr && iid == IID_IDispatch) {
            found = FirstDispatch<Entries...>();
        }
        return found != nullptr ? found : QueryAdditionalInterface(iid);
    }

private:
    using First = std::tuple_element_t<0, std::tuple<Entries...>>;

    template <class Entry>
    typename ComInterfaceOf<Entry>::Type* InterfacePointer() {
        return static_cast<typename ComInterfaceOf<Entry>::Type*>(static_cast<Entry*>(this));
    }

    template <class Entry>
    void* Match(REFIID iid) {
        using Interface = typename ComInterfaceOf<Entry>::Type;
        return iid == IidOf<Interface>() ? static_cast<void*>(InterfacePointer<Entry>()) : nullptr;
    }

    template <class Entry, class... Rest>
    void* FirstDispatch() {
        if constexpr (std::is_base_of_v<IDispatch, typename ComInterfaceOf<Entry>::Type>) {
            return static_cast<void*>(static_cast<IDispatch*>(InterfacePointer<Entry>()));
        } else if constexpr (sizeof...(Rest) > 0) {
            return FirstDispatch<Rest...>();
        } else {
            return nullptr;
        }
    }
};

// Creates an object of class T (see CComObjectBaseImpl::Create).
template <class T, class... Args>
HRESULT CreateComObject(T** object, Args&&... args) {
    return CComObjectBaseImpl::Create(object, std::forward<Args>(args)...);
}
