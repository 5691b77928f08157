#include "vtranscoder/vitemsinterfaces.h"

#include "qlib/qcom/typeinfobuilder.h"

const InterfaceInfo& IVProperties::TypeInfo() {
    static const InterfaceInfo s_info = MakeInterfaceInfo<IVProperties>(
        L"IVProperties",
        {
            {L"GetCount", 1, &IVProperties::GetCount, {L"pnCount"}},
            {L"GetValue", 2, &IVProperties::GetValue, {L"strName", L"strNamespace", L"pvarValue"}},
            {L"SetValue", 3, &IVProperties::SetValue, {L"strName", L"strNamespace", L"varValue"}},
            {L"GetEnumerator", 4, &IVProperties::GetEnumerator, {L"ppEnumerator"}},
            {L"RemoveValue", 5, &IVProperties::RemoveValue, {L"strName", L"strNamespace"}},
            {L"HasValue", 6, &IVProperties::HasValue, {L"strName", L"strNamespace", L"pbHas"}},
            {L"GetValueByName", 7, &IVProperties::GetValueByName,
             {L"strName", L"nKind", L"pvarValue"}},
            {L"SetValueByName", 8, &IVProperties::SetValueByName,
             {L"strName", L"varValue", L"nKind"}},
            {L"HasValueByName", 9, &IVProperties::HasValueByName, {L"strName", L"pbHas"}},
        });
    return s_info;
}

const InterfaceInfo& IVItem::TypeInfo() {
    static const InterfaceInfo s_info = MakeInterfaceInfo<IVItem>(
        L"IVItem",
        {
            {L"GetText", 1, &IVItem::GetText, {Optional(L"varOptions"), L"pstrText"}},
            {L"GetDataStoreName", 2, &IVItem::GetDataStoreName, {L"pstrName"}},
            {L"SetClassName", 3, &IVItem::SetClassName, {L"strClassName"}},
            {L"GetGUID", 4, &IVItem::GetGUID, {L"pstrGUID"}},
            {L"SetGUID", 5, &IVItem::SetGUID, {L"strGUID"}},
            {L"GetClassName", 6, &IVItem::GetClassName, {L"pstrClassName"}},
            {L"SetDataStoreName", 7, &IVItem::SetDataStoreName, {L"strName"}},
            {L"GetProperties", 8, &IVItem::GetProperties, {L"ppProperties"}},
            {L"Copy", 9, &IVItem::Copy, {Optional(L"varOptions"), L"ppCopy"}},
        });
    return s_info;
}

const InterfaceInfo& IVEnum::TypeInfo() {
    static const InterfaceInfo s_info = MakeInterfaceInfo<IVEnum>(
        L"IVEnum",
        {
            {L"GetItem", 1, &IVEnum::GetItem, {L"varIndex", L"pvarItem"}},
            {L"Append", 2, &IVEnum::Append, {L"varItem", Optional(L"varReserved")}},
            {L"GetCount", 3, &IVEnum::GetCount, {L"pnCount"}},
        });
    return s_info;
}
