#pragma once
// CVDataStoreLib: the datastore component's class in the process's class table, and the
// component's error codes.
//
// RegisterClasses puts CVDataStore in the class table under CLSID_VDataStore
// ("VDataStoreLib::VDataStore"), made by the ordinary class factory. Registration is explicit:
// a static library's global initialisers may be dropped by the linker, so the server at
// start-up, and every test that creates a datastore by class id, calls it first. It registers
// once per process (later calls do nothing) and the registration lasts until the process ends;
// a test double registered later for the same class id answers instead while it lives. The
// datastore creates items and enumerations by class id, so the items library's classes must be
// registered too (CVItemsLib::RegisterClasses).
//
// Failures reach callers as E_QEXCEPTION with the exception's XML, carrying one of these
// codes (or the system error of a failed file operation, with the path attached):
//   VDSERR_DATASTORE_UNUSABLE (51009, vtranscoder/vdatastoreinterfaces.h): the database file
//       is not a database, is damaged, or was written by a newer build; delete the folder and
//       open again.
//   VDSERR_INVALID_FILTER: a Query filter outside the grammar (context value "Filter").
//   VDSERR_INVALID_SCHEMA: RegisterSchema got text that is no schema this component reads.
//   VDSERR_NOT_OPEN: an operation before Open or after Close.
//   VDSERR_DATASTORE_BUSY: another writer held the database longer than the busy timeout.
//   VDSERR_NO_TRANSACTION: CommitTransaction or AbortTransaction without a transaction.
//   VDSERR_VALUE_NOT_STORABLE: an item property whose value cannot be kept (an object that is
//       neither an item nor an enumeration, nesting deeper than the limit).
//   VDSERR_INVALID_LOCATION: Open with a location that is neither a plain name nor a path.
//
// Any thread may call RegisterClasses, also several at once.

#include "vtranscoder/vdatastoreinterfaces.h"

inline constexpr int VDSERR_INVALID_FILTER = 51010;
inline constexpr int VDSERR_INVALID_SCHEMA = 51011;
inline constexpr int VDSERR_NOT_OPEN = 51012;
inline constexpr int VDSERR_DATASTORE_BUSY = 51013;
inline constexpr int VDSERR_NO_TRANSACTION = 51014;
inline constexpr int VDSERR_VALUE_NOT_STORABLE = 51015;
inline constexpr int VDSERR_INVALID_LOCATION = 51016;

class CVDataStoreLib {
public:
    static void RegisterClasses();
};
