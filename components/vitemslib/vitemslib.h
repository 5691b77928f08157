#pragma once
// CVItemsLib: the items library's classes in the process's class table: CLSID_VItem
// ("VItemsLib::VItem", CVItem) and CLSID_VEnum ("VItemsLib::VEnum", CVEnum), made by the
// ordinary class factory, so that CQCOMUtils::CreateObject and CQCOMClassFactory create them.
//
// Registration is explicit: a static library's global initialisers may be dropped by the
// linker, so the server at start-up, and every test or component that creates items by class
// id, calls RegisterClasses first. It registers once per process (later calls do nothing) and
// the registrations last until the process ends; a test double registered later for the same
// class id answers instead while it lives (see CComClassTable).
//
// Any thread may call it, also several at once.

class CVItemsLib {
public:
    static void RegisterClasses();
};
