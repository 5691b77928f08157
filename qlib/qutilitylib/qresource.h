#pragma once
// CQResource: the files compiled into the program (cmake/QResources.cmake, q_add_resource), such
// as the profile database (201) and the queue schema (202). Data resources are stored under the
// type name "RT_RCDATA": a name, not the number 10.
//
//     CQBufMalloc schema;
//     CQResource::LoadBinaryResource(qsys::ResourceTable::Process(), 202, schema);
//     std::wstring profiles = CQResource::LoadTextResource(qsys::ResourceTable::Process(), 201);
//
// The module is the table to search: ResourceTable::Process() for the running program. A
// missing resource raises the error number the system reports for it, with the context values
// "ResourceType" and "ResourceID": 1813 (no resource of that type at all) or 1814 (none with
// that id), as HRESULTs.
//
// Stateless; any thread (the buffer is used under its own lock).

#include <cstdint>
#include <string>

#include "qlib/qsys/resourcetable.h"
#include "qlib/qutilitylib/qbuf.h"

class CQResource {
public:
    static constexpr const wchar_t* k_dataTypeName = L"RT_RCDATA";

    // Replaces the buffer's content with the bytes of the "RT_RCDATA" resource resourceId.
    static void LoadBinaryResource(const qsys::ResourceTable& module, uint32_t resourceId,
                                   CQBuf& buffer);
    // The same resource as text, decoded by the text-file rules
    // (CQFileUtilities::FileContentToString: byte-order mark, else UTF-16 or UTF-8 detection).
    static std::wstring LoadTextResource(const qsys::ResourceTable& module, uint32_t resourceId);
};
