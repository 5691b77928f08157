#pragma once
// CVEventLib: puts the event library's classes into the process's class table: the event
// dispatcher (CVEventDispatcherObj) under CLSID_VEventDispatcher and the inner listener
// (CVInnerEventListenerObj) under CLSID_VInnerEventListener, with their display names.
//
// The library registers nothing by itself (initialisers of globals in a static library may be
// dropped by the linker): a process that sends or receives events calls RegisterClasses once
// at start-up, before it creates an event source or listener. Later calls do nothing. The
// registrations last until the process ends; a test may still stack a double on top of a class
// for its own lifetime (CComClassRegistration), after calling RegisterClasses (the newest
// registration answers).
//
// Any thread; the first call registers, the others wait for it.

class CVEventLib {
public:
    // Registers both classes the first time; raises _com_error when the class table refuses.
    static void RegisterClasses();
};
