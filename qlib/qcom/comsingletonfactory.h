#pragma once
// CComSingletonFactory<T>: the class object of a class with one shared instance. The first
// request makes the instance (under the factory's lock, so two racing first requests still
// make one), the factory keeps it, and every request answers that instance: one identity for
// every client. Aggregation is always refused (CLASS_E_NOAGGREGATION): a shared instance
// cannot belong to one outer object. A failed creation is not remembered; the next request
// tries again.
//
// The instance lives as long as the factory (until its registration is revoked and the last
// reference to the factory goes). T's construction must not ask this factory for T again:
// that request would wait for itself.
//
// Any thread; m_lock guards m_instance.

#include <mutex>

#include "qlib/qcom/classfactory.h"
#include "qlib/qcom/comobjectbase.h"

template <class T>
class CComSingletonFactory final : public CComObjectBase<IClassFactory> {
public:
    HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        *object = nullptr;
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        std::lock_guard lock(m_lock);
        if (m_instance == nullptr) {
            const HRESULT hr =
                CComObjectBaseImpl::CreateInstance<T>(nullptr, IID_IUnknown, m_instance.Put());
            if (FAILED(hr)) {
                return hr;
            }
        }
        return m_instance->QueryInterface(iid, object);
    }

    // The shared instance when it has been made, empty otherwise (never makes it).
    CComPtr<IUnknown> Instance() const {
        std::lock_guard lock(m_lock);
        return m_instance;
    }

private:
    mutable std::mutex m_lock;
    CComPtr<IUnknown> m_instance;  // guarded by m_lock
};
