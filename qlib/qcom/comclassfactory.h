#pragma once
// CComClassFactory<T>: the ordinary class object, making a new T (default-constructed, then
// FinalConstruct) for every request. It aggregates T in an outer object unless T refuses
// (ComAggregation::Refused, see comobjectbase.h).
//
// Stateless apart from its reference count; any thread.

#include "qlib/qcom/classfactory.h"
#include "qlib/qcom/comobjectbase.h"

template <class T>
class CComClassFactory final : public CComObjectBase<IClassFactory> {
public:
    HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        return CComObjectBaseImpl::CreateInstance<T>(outer, iid, object);
    }
};
