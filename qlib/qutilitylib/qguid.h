#pragma once
// CQGUID: GUIDs as text for logs, error entries and registry values, in the registry form with
// braces and upper-case digits ("{2B1E3C4D-0001-4000-8000-00000000C0DE}").
//
// Stateless; any thread.

#include <string>

#include "qlib/qcom/guid.h"

class CQGUID {
public:
    static std::wstring GUIDToString(const GUID& guid);
};
