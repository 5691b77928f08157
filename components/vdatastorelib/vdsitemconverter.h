#pragma once
// CVDSItemConverter: items of the items library to records and back. FromItem reads the
// item's GUID, class, datastore name and every property (name, namespace, kind, value) in the
// item's own order; ToItem makes a new item (CLSID_VItem, through a cached class factory) and
// hands it the record's GUID, class, datastore name and properties through the items library's
// IVItemFill, which takes them over (the record is left emptied). Each property keeps its
// namespace and with it its kind.
//
// Property values are taken and given as they are: an item-valued property holds the item
// object itself (CVDSValueCodec turns it into bytes).
//
// Stateless apart from the process-wide cached factory, which is safe on any thread.

#include <string>

#include "components/vdatastorelib/vdsitemrecord.h"
#include "vtranscoder/vitemsinterfaces.h"

class CVDSItemConverter {
public:
    static SVDSItemRecord FromItem(IVItem* item);
    static CComPtr<IVItem> ToItem(SVDSItemRecord&& record);
    // A new, empty enumeration (CLSID_VEnum).
    static CComPtr<IVEnum> NewEnum();
};
