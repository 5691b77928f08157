#pragma once
// CVItemCopier: the deep copy behind IVItem::Copy. The copy of an item keeps its class name,
// GUID and datastore name and has a copy of every property; a property value that is an item,
// an enumeration of items, or an array holding either, is copied too, so that nothing the copy
// holds is shared with the original except other objects (held by reference) and strings.
//
// Items reachable more than once are copied once: a copy refers to the same copy wherever the
// original referred to the same item, which also makes a cycle of items (an item that holds
// itself, directly or further down) a cycle of copies instead of an endless recursion. Chains
// of distinct nested items, enumerations and arrays deeper than k_maxDepth are refused
// (CQException), so that hostile input cannot exhaust the stack.
//
// Works through the interfaces only, so any item implementation can be copied; the copies are
// CVItem and CVEnum objects. One copier per copy, used by one thread.

#include <map>

#include "qlib/qcom/comptr.h"
#include "qlib/qcom/variant.h"
#include "vtranscoder/vitemsinterfaces.h"

class CVItemCopier {
public:
    static constexpr int k_maxDepth = 64;

    // A deep copy of `source`.
    CComPtr<IVItem> CopyItem(IVItem* source);

private:
    CComPtr<IVItem> CopyItem(IVItem* source, int depth);
    CComPtr<IVEnum> CopyEnum(IVEnum* source, int depth);
    VARIANT CopyValue(const VARIANT& value, int depth);
    SAFEARRAY CopyArray(const SAFEARRAY& array, int depth);
    void CopyProperties(IVItem* source, IVItem* copy, int depth);
    static void CheckDepth(int depth);

    // The copy already made of the object whose identity is `source`, or null.
    CComPtr<IUnknown> FindCopy(IUnknown* source) const;

    struct SCopy {
        CComPtr<IUnknown> source;  // keeps the identity the map is keyed by alive
        CComPtr<IUnknown> copy;
    };
    std::map<IUnknown*, SCopy> m_copies;  // by the identity (IUnknown) of the original
};
