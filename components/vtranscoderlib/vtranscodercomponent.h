#pragma once
// CVTranscoderComponent: the transcoder component's classes in the process's class table:
// CLSID_VTranscoder ("VTranscoderLib::VTranscoder", CVTranscoder) and CLSID_VTranscodeItem
// ("VTranscoderLib::VTranscodeItem", CVTranscodeItem), made by the ordinary class factory. The
// transcoder makes its notifications and file descriptions as items, so the items library's
// classes are registered with them.
//
// Registration is explicit, as for the items library (CVItemsLib): call RegisterClasses at
// start-up; it registers once per process and the registrations last until the process ends.
// Any thread may call it, also several at once.

class CVTranscoderComponent {
public:
    static void RegisterClasses();
};
