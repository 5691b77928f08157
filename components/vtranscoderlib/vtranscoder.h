#pragma once
// CVTranscoder: the transcoder component's object. It runs the job of the item given to SetItem
// with the conversion engine (CVConversion, one helper process per job), describes media files
// (CVMediaProbe) and answers facts of the output format catalogue (CVOutputFormats).
//
// Transcode blocks until the job has ended and answers its EVTranscodeResult: 0 completed,
// 1 aborted, any other value failed, with the engine's message kept for GetLastError. An output
// format code the catalogue does not know fails the job (3, UnsupportedSettings). A VT_I2
// priority of -1 runs the helper at a lower CPU priority. One job at a time: a second
// Transcode while one runs is refused (E_QEXCEPTION). While it blocks, other threads may call
// Pause, Continue and Abort; each answers true only when it acted on the running job. An Abort
// that comes while Transcode is still reading the item, before the conversion exists, is kept
// and ends the job as aborted as soon as it does; it is never lost.
//
// CanTranscode answers false without an item, for a format code outside the catalogue, for
// settings the engine refuses, for a source that is missing or not a regular file, and for a
// destination that is a folder, is the source itself, or lies in a folder that is missing or
// cannot be written.
//
// Events: an event source for DIID_IVEventListener. Each notification is an item (class name
// "TranscoderEvent") whose properties live in the transcode namespace (kind 33), passed as one
// VARIANT to each sink's Invoke with dispatch id k_eventMethodDispId:
//   "Type"            VT_I4  1 Started (the helper runs), 4 Progress, 6 Continued
// and on Progress, from the engine's report (at most four a second):
//   "Percent"         VT_R8  0 to 100; -1 while the duration is unknown
//   "Position"        VT_R8  seconds of the source converted so far
//   "Duration"        VT_R8  seconds of the source; 0 when unknown
//   "Frames"          VT_I8  source frames processed so far
//   "FramesPerSecond" VT_R8  frames per second of active time
//   "ActiveTime"      VT_R8  seconds spent converting, paused time excluded
//   "TimeLeft"        VT_R8  estimated seconds to go, paused time excluded; -1 while unknown
// Started and Progress go out on the thread in Transcode, Continued on the thread that called
// Continue, before any Progress of the resumed job. A sink's failure is ignored (the sink's
// owner unadvises it).
//
// GetFileInfo answers an item whose class name is the probe's ("Video", "Audio", "Image") with
// exactly these properties: "ItemType" (MIME type, VT_BSTR), "Width", "Height", "Bitrate"
// (VT_I4) and "Framerate" (VT_R8) in the metadata namespace, "Codec" (VT_BSTR) and
// "AudioStreamCount" (VT_I4) in the transcode namespace. A file the probe cannot read fails
// with the engine's error (E_QEXCEPTION, codes 53002...).
//
// Threads: any thread may call any method. m_lock guards m_item, m_conversion, m_running,
// m_abortRequested and m_lastError; the engine's methods and the sinks are called outside it.

#include <memory>
#include <mutex>
#include <source_location>
#include <string>

#include "components/vtranscoderlib/vconversion.h"
#include "components/vtranscoderlib/vtranscodeitem.h"
#include "qlib/qcom/comconnectionpointcontainer.h"
#include "qlib/qcom/comsupporterrorinfoimpl.h"
#include "qlib/qutilitylib/qcomclassfactory.h"
#include "vtranscoder/veventinterfaces.h"

class CVTranscoder final
    : public CComObjectBase<CComDispatchImpl<IVTranscoder>, CComConnectionPointContainer,
                            CComSupportErrorInfoImpl<IVTranscoder>> {
public:
    static constexpr ComAggregation k_aggregation = ComAggregation::Refused;
    static constexpr const wchar_t* k_eventClassName = L"TranscoderEvent";
    // The helper's niceness for a job whose priority argument is -1.
    static constexpr int k_backgroundNiceness = 10;

    CVTranscoder();

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
    template <class Body>
    static HRESULT Catch(Body&& body,
                         const std::source_location& location = std::source_location::current());

    // Runs the job to its end and answers how it ended.
    SVTranscodeOutcome Run(const SVConversionJob& job, const VARIANT& priority);
    // Takes the object for one job; raises when another runs or no item is set.
    CComPtr<IVTranscodeItemData> BeginJob();
    void EndJob(const std::wstring& message);
    std::shared_ptr<CVConversion> RunningConversion() const;

    CComPtr<IVItem> NewEvent(EVTranscoderNotification type);
    void SendProgress(const SVConversionProgress& progress) noexcept;
    void Send(EVTranscoderNotification type) noexcept;
    void Send(IVItem* event);

    CComConnectionPoint<IDispatch>& m_events;                   // owned by the container; constant
    CQCOMClassFactory m_items{CLSID_VItem, k_itemDisplayName};  // synchronises itself

    // Held by Continue while it resumes the job and sends Continued; a Progress report waits
    // for it, so Continued always comes before the reports of the resumed job. Nothing else is
    // taken while it is held except by the sinks Continue calls.
    std::mutex m_continueOrder;

    mutable std::mutex m_lock;
    CComPtr<IVTranscodeItemData> m_item;         // guarded by m_lock
    std::shared_ptr<CVConversion> m_conversion;  // the running job; guarded by m_lock
    bool m_running = false;                      // guarded by m_lock
    bool m_abortRequested = false;  // an Abort before m_conversion existed; guarded by m_lock
    std::wstring m_lastError;       // guarded by m_lock
};
