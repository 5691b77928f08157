#pragma once
// CVTranscodeServiceEvent: builds the event object of one service event, a new item of the items
// library whose properties carry the event's data, set in this order:
//   "Type"             (by name, kind 33)             VT_I4   the event code, always
//   "ItemID"           (by name, kind 33)             VT_I4   the job id, only when above 0
//   "InFile"           (transcode namespace)          VT_BSTR the item's source path   } when an
//   "OutFile"          (transcode namespace)          VT_BSTR the item's destination   } item is
//   "OutFormat"        (transcode namespace)          VT_I4   the item's output format } given
//   "ErrorDescription" (transcode namespace)          VT_BSTR error events with a text
//   "TimeStamp"        (transcode namespace)          VT_UI4  the tick count (ms) when built
//
//     CComPtr<IVItem> event = CVTranscodeServiceEvent::Create(EVTranscodeServiceEvent_Added,
//                                                              jobId, item, {});
//
// The item may be anything that answers IVTranscodeItemData (a queued IVTranscodeItem, the
// transcoder's current item); one that does not counts as no item. Each call builds a new
// object; nothing is shared. Stateless; any thread. Failures raise CQException.

#include <string>

#include "qlib/qcom/comptr.h"
#include "vtranscoder/vitemsinterfaces.h"

class CVTranscodeServiceEvent {
public:
    static constexpr const wchar_t* k_type = L"Type";
    static constexpr const wchar_t* k_itemId = L"ItemID";
    static constexpr const wchar_t* k_inFile = L"InFile";
    static constexpr const wchar_t* k_outFile = L"OutFile";
    static constexpr const wchar_t* k_outFormat = L"OutFormat";
    static constexpr const wchar_t* k_errorDescription = L"ErrorDescription";
    static constexpr const wchar_t* k_timeStamp = L"TimeStamp";

    static CComPtr<IVItem> Create(LONG code, LONG jobId, IUnknown* item,
                                  const std::wstring& errorText);

    // Marks a forwarded notification: "Type" again as VT_I4, and "ItemID" when jobId > 0.
    static void Stamp(IVProperties* properties, LONG code, LONG jobId);
};
