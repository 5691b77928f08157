#include "qlib/qutilitylib/qresource.h"

#include <source_location>

#include "qlib/qcom/hresult.h"
#include "qlib/qutilitylib/qbufmalloc.h"
#include "qlib/qutilitylib/qcatch.h"
#include "qlib/qutilitylib/qfileutilities.h"
#include "qlib/qutilitylib/qlockholder.h"

namespace {

// The system's error numbers for a resource lookup that finds nothing.
constexpr uint32_t k_errorResourceTypeNotFound = 1813;
constexpr uint32_t k_errorResourceNameNotFound = 1814;

[[noreturn]] void RaiseNotFound(
    const qsys::ResourceTable& module, uint32_t resourceId,
    const std::source_location& location = std::source_location::current()) {
    const bool typeKnown = module.HasType(CQResource::k_dataTypeName);
    CQException error(
        typeKnown ? L"The specified resource name cannot be found in the image file."
                  : L"The specified resource type cannot be found in the image file.",
        HRESULT_FROM_WIN32(typeKnown ? k_errorResourceNameNotFound : k_errorResourceTypeNotFound),
        location);
    error.AddValue(L"ResourceType", CQResource::k_dataTypeName);
    error.AddValue(L"ResourceID", static_cast<int>(resourceId));
    throw error;
}

}  // namespace

void CQResource::LoadBinaryResource(const qsys::ResourceTable& module, uint32_t resourceId,
                                    CQBuf& buffer) {
    CQCatch::Internal([&] {
        const auto bytes = module.Find(k_dataTypeName, resourceId);
        if (!bytes) {
            RaiseNotFound(module, resourceId);
        }
        CQLockHolder holder(buffer);
        buffer.Copy(bytes->data(), bytes->size());
    });
}

std::wstring CQResource::LoadTextResource(const qsys::ResourceTable& module, uint32_t resourceId) {
    return CQCatch::Internal([&] {
        CQBufMalloc bytes;
        LoadBinaryResource(module, resourceId, bytes);
        return CQFileUtilities::FileContentToString(bytes);
    });
}
