#pragma once
// The records of the VTranscodeServerLib type library beyond its interface tables
// (vtranscodeserverlib.h): the library's identity, its enumerations, its two coclasses (which
// interfaces each exposes, its outgoing interface, its ProgIDs and how instances are made), the
// module of string constants and the string table. The server host, the bus bridge and the
// client read them from here instead of repeating names and identifiers.
//
//     const SVCoClassInfo* service =
//     VTranscodeServerLibInfo().FindClass(L"VTranscodeServer.VTranscodeServiceOb.1"); for (const
//     InterfaceInfo* table : service->interfaces) { ... }  // default first
//
// Built once on first use and constant afterwards: any thread may read them.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "qlib/qcom/typeinfo.h"
#include "qlib/qsys/resourcetable.h"

struct SVEnumMember {
    std::wstring name;
    LONG value = 0;
};

struct SVEnumInfo {
    std::wstring name;
    std::vector<SVEnumMember> members;
};

struct SVConstantInfo {
    std::wstring name;
    std::wstring value;
};

// How a class's factory answers creation requests.
enum class EVClassInstancing {
    Singleton,   // one shared instance; aggregation refused
    PerRequest,  // a new instance per request; aggregation allowed
};

struct SVCoClassInfo {
    CLSID clsid{};
    std::wstring name;
    std::wstring helpString;
    std::wstring progId;                           // versioned
    std::wstring versionIndependentProgId;         // its CurVer names progId
    std::vector<const InterfaceInfo*> interfaces;  // the default interface first
    IID defaultSource{};                           // the outgoing (event) interface
    EVClassInstancing instancing = EVClassInstancing::PerRequest;
};

struct SVTypeLibraryInfo {
    GUID libId{};
    std::wstring name;
    WORD majorVersion = 0;
    WORD minorVersion = 0;
    LCID lcid = 0;
    std::wstring helpString;
    std::vector<SVEnumInfo> enums;
    std::vector<SVCoClassInfo> coclasses;
    std::wstring moduleName;
    std::wstring moduleHelpString;
    std::vector<SVConstantInfo> constants;

    const SVCoClassInfo* FindClass(const CLSID& clsid) const;
    // By ProgID, versioned or version-independent, compared exactly as registered.
    const SVCoClassInfo* FindClass(std::wstring_view progId) const;
    // Every interface table of the library, each once, in declaration order.
    std::vector<const InterfaceInfo*> Interfaces() const;
};

const SVTypeLibraryInfo& VTranscodeServerLibInfo();

// The string table: resource type "STRING", id 100 holds the project name.
inline constexpr const wchar_t* k_stringResourceType = L"STRING";
inline constexpr uint32_t k_projectNameStringId = 100;

// The text resource (typeName, id) of `module`, stored as UTF-8 (the registration scripts, the
// string table). Raises CQException: 1813 or 1814 as HRESULTs when the program embeds no such
// resource (no resource of that type at all, or none with that id), 2003 when it is not valid
// UTF-8; with the context values "ResourceType" and "ResourceID".
std::wstring LoadResourceText(const qsys::ResourceTable& module, std::wstring_view typeName,
                              uint32_t id);
