#include "vtranscoder/vdatastoreinterfaces.h"

#include "qlib/qcom/typeinfobuilder.h"

const InterfaceInfo& IVDSSchema::TypeInfo() {
    static const InterfaceInfo s_info = MakeInterfaceInfo<IVDSSchema>(
        L"IVDSSchema", {
                           {L"GetSchemaXML", 1, &IVDSSchema::GetSchemaXML, {L"pstrXML"}},
                           {L"RegisterSchema", 2, &IVDSSchema::RegisterSchema, {L"varSchema"}},
                       });
    return s_info;
}

const InterfaceInfo& IVDSTypes::TypeInfo() {
    static const InterfaceInfo s_info = MakeInterfaceInfo<IVDSTypes>(
        L"IVDSTypes",
        {
            {L"IsOfType", 1, &IVDSTypes::IsOfType, {L"strTypeName", L"pItem", L"pbResult"}},
        });
    return s_info;
}

const InterfaceInfo& IVDSTransaction::TypeInfo() {
    static const InterfaceInfo s_info = MakeInterfaceInfo<IVDSTransaction>(
        L"IVDSTransaction", {
                                {L"BeginTransaction", 1, &IVDSTransaction::BeginTransaction},
                                {L"CommitTransaction", 2, &IVDSTransaction::CommitTransaction},
                                {L"AbortTransaction", 3, &IVDSTransaction::AbortTransaction},
                            });
    return s_info;
}

const InterfaceInfo& IVDataStore::TypeInfo() {
    static const InterfaceInfo s_info = MakeInterfaceInfo<IVDataStore>(
        L"IVDataStore",
        {
            {L"Open", 1, &IVDataStore::Open,
             {L"varLocation", Optional(L"varReserved1"), Optional(L"varReserved2")}},
            {L"Add", 2, &IVDataStore::Add, {Optional(L"varReserved"), L"pItem"}},
            {L"Delete", 3, &IVDataStore::Delete, {L"pItems"}},
            {L"Close", 4, &IVDataStore::Close},
            {L"Query", 5, &IVDataStore::Query,
             {Optional(L"varReserved"), L"strClassName", L"strFilter", L"ppResult"}},
            {L"Count", 6, &IVDataStore::Count, {L"strClassName", L"pnCount"}},
            {L"GetSchema", 7, &IVDataStore::GetSchema, {L"ppSchema"}},
            {L"GetTypes", 8, &IVDataStore::GetTypes, {L"ppTypes"}},
        });
    return s_info;
}
