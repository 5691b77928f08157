#include "qlib/qsys/resourcetable.h"

#include "qlib/qsys/nocase.h"
#include "qlib/qsys/textcodec.h"

// Defined by the linker around the section when at least one record was linked in; weak, so
// that a program without resources links too (both are null then).
extern "C" {
[[gnu::weak]] extern const qsys::ResourceRecord __start_qsys_resources[];
[[gnu::weak]] extern const qsys::ResourceRecord __stop_qsys_resources[];
}

namespace qsys {
namespace {

bool HasTypeName(const ResourceRecord& record, std::wstring_view typeName) {
    return EqualsIgnoreCase(FromUtf8(record.typeName), typeName);
}

}  // namespace

const ResourceTable& ResourceTable::Process() {
    static const ResourceTable s_process(
        __start_qsys_resources == nullptr
            ? std::span<const ResourceRecord>()
            : std::span<const ResourceRecord>(__start_qsys_resources, __stop_qsys_resources));
    return s_process;
}

std::optional<std::span<const std::byte>> ResourceTable::Find(std::wstring_view typeName,
                                                              uint32_t id) const {
    for (const ResourceRecord& record : m_records) {
        if (record.id == id && HasTypeName(record, typeName)) {
            return std::as_bytes(std::span(record.data, record.size));
        }
    }
    return std::nullopt;
}

bool ResourceTable::HasType(std::wstring_view typeName) const {
    for (const ResourceRecord& record : m_records) {
        if (HasTypeName(record, typeName)) {
            return true;
        }
    }
    return false;
}

}  // namespace qsys
