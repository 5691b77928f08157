#pragma once
// The transcoder component's interfaces and class ids: the transcoder, which runs one job at
// a time and is an event source for DIID_IVEventListener (notifications are items with
// "Type": 1 started, 4 progress, 6 continued), and the transcode item that describes a job.
// Implementation: components/vtranscoderlib.

#include "qlib/qcom/dispatch.h"
#include "qlib/qcom/guid.h"
#include "qlib/qcom/variant.h"
#include "vtranscoder/vitemsinterfaces.h"

inline constexpr CLSID CLSID_VTranscoder = MakeGuid("3A5C7E9F-2B4D-4F6A-8C1E-5D7F9B1C3E01");
inline constexpr CLSID CLSID_VTranscodeItem = MakeGuid("3A5C7E9F-2B4D-4F6A-8C1E-5D7F9B1C3E02");
inline constexpr const wchar_t* k_transcoderDisplayName = L"VTranscoderLib::VTranscoder";
inline constexpr const wchar_t* k_transcodeItemDisplayName = L"VTranscoderLib::VTranscodeItem";

// Results of IVTranscoder::Transcode.
inline constexpr LONG k_transcodeCompleted = 0;
inline constexpr LONG k_transcodeAborted = 1;

// Notification types a transcoder sends ("Type" in the transcode namespace).
enum EVTranscoderNotification : LONG {
    EVTranscoderNotification_Started = 1,
    EVTranscoderNotification_Progress = 4,
    EVTranscoderNotification_Continued = 6,
};

// The job's data. Getters answer what Initialize, CopyFrom, LoadItemXML or the setters set.
// GetItemXML gives one XML element; LoadItemXML of that text yields an equivalent item and
// answers VARIANT_FALSE (changing nothing) for text that is not one item element.
class IVTranscodeItemData : public IUnknown {
public:
    static constexpr IID k_iid = MakeGuid("3A5C7E9F-2B4D-4F6A-8C1E-5D7F9B1C3E11");
    virtual HRESULT GetSourcePath(BSTR* path) = 0;
    virtual HRESULT SetSourcePath(BSTR path) = 0;
    virtual HRESULT GetDestinationPath(BSTR* path) = 0;
    virtual HRESULT SetDestinationPath(BSTR path) = 0;
    virtual HRESULT GetOutputFormat(LONG* format) = 0;
    virtual HRESULT SetOutputFormat(LONG format) = 0;
    virtual HRESULT GetProductCode(BSTR* code) = 0;
    virtual HRESULT SetProductCode(BSTR code) = 0;
    virtual HRESULT GetVideoSettings(LONG* width, LONG* height, double* frameRate,
                                     LONG* bitRate) = 0;
    virtual HRESULT CopyFrom(IVTranscodeItemData* other) = 0;
    virtual HRESULT GetAudioSettings(LONG* bitRate, UINT* streamCount) = 0;
    virtual HRESULT SetVideoSettings(LONG width, LONG height, double frameRate, LONG bitRate,
                                     SHORT* result) = 0;
    virtual HRESULT GetImageSize(LONG* width, LONG* height) = 0;
    // `streamCount` is VT_UINT.
    virtual HRESULT SetAudioSettings(LONG bitRate, const VARIANT& streamCount, SHORT* result) = 0;
    virtual HRESULT SetImageSize(LONG width, LONG height, SHORT* result) = 0;
    virtual HRESULT GetItemXML(BSTR* xml) = 0;
    virtual HRESULT LoadItemXML(BSTR xml, VARIANT_BOOL* loaded) = 0;
};

// An item's change counter, for a reader that keeps what it derived from the item (the queue
// keeps each job's saved element): the revision changes whenever the item's data changes, and
// no two items of one process ever answer the same revision. Read it before the data: a change
// in between then shows as a new revision next time. Optional: readers of an item without it
// compare the data itself.
class IVTranscodeItemRevision : public IUnknown {
public:
    static constexpr IID k_iid = MakeGuid("3A5C7E9F-2B4D-4F6A-8C1E-5D7F9B1C3E14");
    virtual HRESULT GetRevision(ULONGLONG* revision) = 0;
};

// The element type of the service's queue. Initialize (source, destination, output format,
// device product code as a string VARIANT) answers 0 on success.
class IVTranscodeItem : public IDispatch {
public:
    static constexpr IID k_iid = MakeGuid("3A5C7E9F-2B4D-4F6A-8C1E-5D7F9B1C3E12");
    static const InterfaceInfo& TypeInfo();
    virtual HRESULT Initialize(BSTR sourcePath, BSTR destinationPath, LONG outputFormat,
                               const VARIANT& productCode, SHORT* result) = 0;
};

// Runs the job set with SetItem. Transcode blocks until the job ends: 0 completed, 1 aborted,
// any other value failed (GetLastError then gives the engine's message). Pause, Continue and
// Abort are called from other threads while Transcode blocks. `priority` is VT_I2.
class IVTranscoder : public IDispatch {
public:
    static constexpr IID k_iid = MakeGuid("3A5C7E9F-2B4D-4F6A-8C1E-5D7F9B1C3E13");
    static const InterfaceInfo& TypeInfo();
    virtual HRESULT SetItem(IVTranscodeItemData* item) = 0;
    virtual HRESULT GetItem(IVTranscodeItemData** item) = 0;
    virtual HRESULT CanTranscode(VARIANT_BOOL* result) = 0;
    virtual HRESULT Transcode(const VARIANT& priority, LONG* result) = 0;
    virtual HRESULT Pause(VARIANT_BOOL* paused) = 0;
    virtual HRESULT Continue(VARIANT_BOOL* resumed) = 0;
    virtual HRESULT Abort(VARIANT_BOOL* aborted) = 0;
    virtual HRESULT GetLastError(BSTR* message) = 0;
    virtual HRESULT GetFileInfo(BSTR path, IVItem** info) = 0;
    virtual HRESULT GetOutputFormatInfo(LONG format, LONG infoKind, VARIANT* info) = 0;
};
