#include "qlib/qutilitylib/qguid.h"

#include "qlib/qutilitylib/qcatch.h"

std::wstring CQGUID::GUIDToString(const GUID& guid) {
    return CQCatch::Internal([&] { return GuidToString(guid); });
}
