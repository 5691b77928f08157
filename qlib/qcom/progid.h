#pragma once
// Class names as text: the registry form of a CLSID ("{...}") and ProgIDs. A ProgID resolves
// through the registry store as registration writes it under HKEY_CLASSES_ROOT (or, for a
// per-user registration, HKEY_CURRENT_USER\Software\Classes, which is looked at first):
//     <ProgID>\CLSID   (default value) the class's CLSID in registry form;
//     <ProgID>\CurVer  (default value) for a version-independent ProgID without a CLSID key of
//                      its own, the versioned ProgID to follow.
//
// Stateless (the registry store is read afresh on every call); any thread.

#include <string_view>

#include "qlib/qcom/guid.h"
#include "qlib/qcom/hresult.h"

// The CLSID a ProgID names. CO_E_CLASSSTRING when it is not registered (or is no valid name,
// or its CLSID value is no GUID); the HRESULT of the failing read when the registry store
// cannot be read (an unreadable hive file, for example).
HRESULT CLSIDFromProgID(std::wstring_view progId, CLSID* clsid);

// A CLSID in registry form with braces, or else a registered ProgID. CO_E_CLASSSTRING when it
// is neither.
HRESULT CLSIDFromString(std::wstring_view text, CLSID* clsid);
