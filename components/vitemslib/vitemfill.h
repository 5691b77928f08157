#pragma once
// IVItemFill: an interface of the items library's own item (CLSID_VItem) for a component that
// makes many items from stored data, such as the datastore's queries. Fill gives a new item its
// GUID, class name, datastore name and properties in one call, taking the texts and values
// over instead of copying them; the item is then what SetGUID, SetClassName, SetDataStoreName
// and SetValue for each property in order would make of it. It is not part of the bus
// contract: everything else uses IVItem.
//
// SVProperty: one property as the items library keeps it and its enumerator reports it.
//
// Threads: as IVItem.

#include <string>
#include <vector>

#include "vtranscoder/vitemsinterfaces.h"

struct SVProperty {
    std::wstring name;
    std::wstring uri;  // empty for none
    LONG kind = EVPropertyKind_None;
    VARIANT value;
};

class IVItemFill : public IUnknown {
public:
    static constexpr IID k_iid = MakeGuid("5B1E8C2A-3F47-4D8E-9A61-0C2B7E4F1A16");
    // guid as SetGUID takes it (an empty text: a fresh one); each property's kind follows from
    // its namespace, and a later property of the same name and namespace replaces the value of
    // an earlier one. E_INVALIDARG, leaving the item as it was, for a GUID that is not one or a
    // property without a name. properties is left emptied.
    virtual HRESULT Fill(BSTR guid, BSTR className, BSTR dataStoreName,
                         std::vector<SVProperty>&& properties) = 0;
};
