#pragma once
// CScriptedTranscoder: a transcoder for the service's tests, registered under CLSID_VTranscoder
// while a CScriptedTranscoderClass lives. Every instance follows one shared script (SScript):
// each Transcode call takes the next job script, sends its notifications (items with "Type" in
// the transcode namespace, through its own event dispatcher, as the real component does), runs
// its hook, optionally holds until Abort or Release, and answers the scripted result. It records
// the priority argument of each call and counts Abort calls. Every format it is asked about is
// an MP4 one (".mp4", "video/mp4").
//
// The script is guarded by its mutex; Transcode runs on the service's worker, Pause, Continue and
// Abort on client threads, the test reads and writes the script on its own thread.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "qlib/qcom/comclassregistration.h"
#include "qlib/qcom/comdispatchimpl.h"
#include "qlib/qcom/comobjectbase.h"
#include "vevent/veventdispatcher.h"
#include "vtranscoder/vtranscoderinterfaces.h"

struct SJobScript {
    std::vector<LONG> notifications;  // "Type" values sent before the hook
    std::function<void()> hook;       // runs on the worker after the notifications
    bool hold = false;                // wait for Abort (result 1) or Release
    LONG result = k_transcodeCompleted;
};

class CScriptedTranscoder final : public CComObjectBase<CComDispatchImpl<IVTranscoder>,
                                                        CVEventDispatcher<CScriptedTranscoder>> {
public:
    struct SScript {
        std::mutex lock;
        std::condition_variable changed;
        std::deque<SJobScript> jobs;  // taken one per Transcode; empty: complete at once
        std::vector<SHORT> priorities;
        int abortCalls = 0;
        int running = 0;  // Transcode calls in progress
        bool holding = false;
        bool released = false;
        LONG releaseResult = k_transcodeCompleted;
        bool paused = false;
        bool canTranscode = true;
    };
    static SScript& Script();
    // Ends a held job with this result.
    static void Release(LONG result);
    // Waits until a job is held; false after a long time.
    static bool WaitUntilHolding();

    HRESULT SetItem(IVTranscodeItemData* item) override;
    HRESULT GetItem(IVTranscodeItemData** item) override;
    HRESULT CanTranscode(VARIANT_BOOL* result) override;
    HRESULT Transcode(const VARIANT& priority, LONG* result) override;
    HRESULT Pause(VARIANT_BOOL* paused) override;
    HRESULT Continue(VARIANT_BOOL* resumed) override;
    HRESULT Abort(VARIANT_BOOL* aborted) override;
    HRESULT GetLastError(BSTR* message) override;
    HRESULT GetFileInfo(BSTR path, IVItem** info) override;
    HRESULT GetOutputFormatInfo(LONG format, LONG infoKind, VARIANT* info) override;

private:
    void Notify(LONG type);

    CComPtr<IVTranscodeItemData> m_item;
};

// Registers the scripted transcoder and resets the script.
class CScriptedTranscoderClass {
public:
    CScriptedTranscoderClass();

private:
    CComClassRegistration m_registration;
};
