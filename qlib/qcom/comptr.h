#pragma once
// CComPtr<T>: one counted reference to an interface (or to an object class derived from
// CComObjectBase). Copying adds a reference, moving hands it over, destruction and Reset drop
// it. Attach takes over a reference somebody already added (an out-pointer filled by a
// method); Detach gives the reference away.
//
//     CComPtr<IVItem> item;
//     ThrowIfFailed(CoCreateInstance(CLSID_VItem, nullptr, CLSCTX_ALL, IID_IVItem, item.Put()));
//     CComPtr<IVProperties> properties;
//     if (SUCCEEDED(item.QueryInterface(&properties))) { ... }
//
// A CComPtr is a value used by one thread at a time; the object it points to may be shared.

#include <cstddef>
#include <type_traits>
#include <utility>

#include "qlib/qcom/unknown.h"

template <class T>
class CComPtr {
public:
    CComPtr() noexcept = default;
    CComPtr(std::nullptr_t) noexcept {}
    // Adds a reference to `pointer`.
    CComPtr(T* pointer) noexcept : m_pointer(pointer) { AddRefPointer(); }
    CComPtr(const CComPtr& other) noexcept : CComPtr(other.m_pointer) {}
    CComPtr(CComPtr&& other) noexcept : m_pointer(std::exchange(other.m_pointer, nullptr)) {}
    template <class U>
    requires std::is_convertible_v<U*, T*> CComPtr(const CComPtr<U>& other)
    noexcept : CComPtr(other.Get()) {}
    template <class U>
    requires std::is_convertible_v<U*, T*> CComPtr(CComPtr<U>&& other)
    noexcept : m_pointer(other.Detach()) {}
    ~CComPtr() { Reset(); }

    CComPtr& operator=(CComPtr other) noexcept {
        std::swap(m_pointer, other.m_pointer);
        return *this;
    }

    // Drops the reference, leaving the pointer empty.
    void Reset() noexcept {
        if (T* old = std::exchange(m_pointer, nullptr)) {
            old->Release();
        }
    }
    // Takes over a reference that was already added for us; drops the one held before.
    void Attach(T* pointer) noexcept {
        Reset();
        m_pointer = pointer;
    }
    // Gives the reference away: the caller must Release it.
    [[nodiscard]] T* Detach() noexcept { return std::exchange(m_pointer, nullptr); }

    // For an out-parameter of a method: drops the current reference and lends the address of
    // the empty pointer, which the method fills with a reference it added.
    [[nodiscard]] T** operator&() noexcept {
        Reset();
        return &m_pointer;
    }
    // The same as a `void**`, for QueryInterface, CoCreateInstance and the like. The pointer
    // is stored when the full expression that contains the call ends.
    class VoidOutPointer {
    public:
        explicit VoidOutPointer(CComPtr& owner) noexcept : m_owner(owner) {}
        VoidOutPointer(const VoidOutPointer&) = delete;
        VoidOutPointer& operator=(const VoidOutPointer&) = delete;
        ~VoidOutPointer() { m_owner.Attach(static_cast<T*>(m_raw)); }
        operator void**() noexcept { return &m_raw; }

    private:
        CComPtr& m_owner;
        void* m_raw = nullptr;
    };
    [[nodiscard]] VoidOutPointer Put() noexcept {
        Reset();
        return VoidOutPointer(*this);
    }

    T* Get() const noexcept { return m_pointer; }
    T* operator->() const noexcept { return m_pointer; }
    T& operator*() const noexcept { return *m_pointer; }
    operator T*() const noexcept { return m_pointer; }

    // Asks the object for the interface Q into an out-pointer (typically `&other`, another
    // CComPtr); on failure the out-pointer is null and the HRESULT says why (E_POINTER when
    // this pointer is empty).
    template <class Q>
    HRESULT QueryInterface(Q** result) const {
        if (result == nullptr) {
            return E_POINTER;
        }
        *result = nullptr;
        if (m_pointer == nullptr) {
            return E_POINTER;
        }
        void* raw = nullptr;
        const HRESULT hr = m_pointer->QueryInterface(IidOf<Q>(), &raw);
        if (SUCCEEDED(hr)) {
            *result = static_cast<Q*>(raw);
        }
        return hr;
    }

    // Hands out one more reference through an out-pointer, as an interface method does.
    HRESULT CopyTo(T** result) const noexcept {
        if (result == nullptr) {
            return E_POINTER;
        }
        *result = m_pointer;
        if (m_pointer != nullptr) {
            m_pointer->AddRef();
        }
        return S_OK;
    }

    friend bool operator==(const CComPtr& left, const CComPtr& right) noexcept {
        return left.m_pointer == right.m_pointer;
    }
    friend bool operator==(const CComPtr& left, std::nullptr_t) noexcept {
        return left.m_pointer == nullptr;
    }

private:
    void AddRefPointer() noexcept {
        if (m_pointer != nullptr) {
            m_pointer->AddRef();
        }
    }

    T* m_pointer = nullptr;
};
