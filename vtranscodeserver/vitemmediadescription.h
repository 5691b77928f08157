#pragma once
// CVItemMediaDescription: an outside item (IVItem) read as a media description. The class is
// the item's class name; the MIME type is "ItemType" when the item has a property of that name
// (an ordinary property, kind 1, or one set without a namespace); the other properties are read
// from the item's property container by name and namespace. A failing item call raises its
// error (as CQException through the caller's boundary).
//
// Holds a counted reference to the item and its container. Used by one thread at a time; the
// item itself guards its own state.

#include "qlib/qcom/comptr.h"
#include "vtranscoder/vitemsinterfaces.h"
#include "vtranscodeserver/vmediadescription.h"

class CVItemMediaDescription final : public CVMediaDescription {
public:
    // item must not be null.
    explicit CVItemMediaDescription(IVItem* item);

    std::wstring GetClassName() const override;
    std::optional<std::wstring> GetMIMEType() const override;
    VARIANT GetValue(std::wstring_view name, std::wstring_view uri) const override;

private:
    CComPtr<IVItem> m_item;
    CComPtr<IVProperties> m_properties;
};
