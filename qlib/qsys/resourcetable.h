#pragma once
// ResourceTable: files compiled into the program at build time and found by (type name, id), in
// place of the resources of an executable image. cmake/QResources.cmake turns each file into
// one ResourceRecord placed in the linker section "qsys_resources"; the linker collects the
// records of every object file of the program, and Process() reads them from there. Nothing
// runs at start-up, so resources can be found at any time, even while static objects are being
// constructed.
//
// Type names compare without regard to case ("RT_RCDATA" finds "rt_rcdata"), as resource type
// names given as strings do. A type name is only a name: "RT_RCDATA" and "10" are different
// types. When two records have the same type and id, the first in section order answers (the
// build refuses duplicates within one target).
//
// The tables and the bytes they point to are constant for the life of the process: any thread
// may use them.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace qsys {

// One embedded file, as the generated sources write it. typeName is UTF-8; data holds size bytes
// followed by one zero byte (so that text resources are also zero-terminated).
struct ResourceRecord {
    const char* typeName;
    uint32_t id;
    const unsigned char* data;
    size_t size;
};

// Placed before every generated ResourceRecord: keeps the record although nothing refers to it,
// in the section that Process() reads, aligned like an array element.
#define QSYS_RESOURCE_RECORD \
    [[gnu::used, gnu::section("qsys_resources"), gnu::aligned(alignof(qsys::ResourceRecord))]]

class ResourceTable {
public:
    // A table over records the caller keeps alive (tests build their own modules this way).
    explicit ResourceTable(std::span<const ResourceRecord> records) : m_records(records) {}

    // The resources linked into this program; empty when it has none.
    static const ResourceTable& Process();

    // The bytes of the resource, or nullopt when there is none of that type and id.
    std::optional<std::span<const std::byte>> Find(std::wstring_view typeName, uint32_t id) const;
    // Whether any resource has this type name.
    bool HasType(std::wstring_view typeName) const;

private:
    std::span<const ResourceRecord> m_records;
};

}  // namespace qsys
