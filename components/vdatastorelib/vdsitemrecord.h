#pragma once
// The plain form in which the datastore keeps an item: what an IVItem says about itself, with
// its properties in the order the item enumerates them. CVDSItemConverter moves items between
// this form and item objects; CVDSStore stores and finds records.
//
// Value types; thread-compatible.

#include <string>
#include <vector>

#include "components/vitemslib/vitemfill.h"

// A property: the items library's own form (name, namespace, kind, value), so that a record
// read back is handed to a new item as it stands.
using SVDSProperty = SVProperty;

struct SVDSItemRecord {
    std::wstring guid;
    std::wstring className;
    std::wstring dataStoreName;
    std::vector<SVDSProperty> properties;

    // The property of that name and namespace; nullptr when the record has none.
    const SVDSProperty* Find(const std::wstring& name, const std::wstring& uri) const {
        for (const SVDSProperty& property : properties) {
            if (property.name == name && property.uri == uri) {
                return &property;
            }
        }
        return nullptr;
    }
};
