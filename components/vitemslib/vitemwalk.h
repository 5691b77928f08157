#pragma once
// What the copier and the dump do alike with any item, through its interfaces only: find the
// identity of an object, and visit its properties in order. Failures of the item's methods
// raise _com_error.
//
// Stateless; any thread.

#include <functional>

#include "qlib/qcom/comptr.h"
#include "qlib/qcom/variant.h"
#include "vtranscoder/vitemsinterfaces.h"

// The object's IUnknown as QueryInterface answers it: the same pointer for every interface of
// one object.
CComPtr<IUnknown> IdentityOf(IUnknown* object);

// Calls visit(name, namespace, value) for each property of `item`, in order, while it answers
// true.
void ForEachProperty(
    IVItem* item,
    const std::function<bool(const BSTR& name, const BSTR& uri, const VARIANT& value)>& visit);
