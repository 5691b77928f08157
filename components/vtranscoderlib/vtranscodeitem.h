#pragma once
// CVTranscodeItem: the description of one transcode job: source and destination paths, output
// format code, the device's product code and the encoding settings (SVTranscodeSettings, zero
// meaning the format's default). The service keeps these in its queue and saves them as the
// item's XML.
//
// The setters that answer a SHORT answer 0 when they took the values and 1 when they refused
// them (a negative size, a frame rate that is not a number, ...: FindSettingsProblem); a refusal
// changes nothing. Initialize answers 0; the device product code is a string VARIANT (a missing
// or empty VARIANT stands for none).
//
// The XML is one element with one attribute per setting, every value escaped:
//     <TranscodeItem SourcePath="/music/a &amp; b.mp4" DestinationPath="/out/a.mp4"
//         OutputFormat="10" ProductCode="ZX1" VideoWidth="320" VideoHeight="240"
//         FrameRate="15" VideoBitRate="384000" AudioBitRate="96000" AudioStreams="1"
//         ImageWidth="0" ImageHeight="0"/>
// LoadItemXML takes text of at most k_maxXmlLength characters holding exactly that one element
// (a declaration and comments around it are allowed): SourcePath, DestinationPath and
// OutputFormat must be there, the settings default as above when left out, numbers must be
// whole decimal numbers of their type and the settings usable. Anything else answers
// VARIANT_FALSE and leaves the item as it was.
//
// Threads: any thread may call any method; m_lock guards m_state, the XML written from it (kept
// until the next change) and the revision (from a process-wide counter, taken on each change).
// CopyFrom reads the other item through its interface before taking the lock.

#include <mutex>
#include <optional>
#include <source_location>
#include <string>

#include "components/vtranscoderlib/vconversion.h"
#include "qlib/qcom/comdispatchimpl.h"
#include "qlib/qcom/comobjectbase.h"
#include "qlib/qcom/comsupporterrorinfoimpl.h"
#include "vtranscoder/vtranscoderinterfaces.h"

// What a transcode item describes, read from any IVTranscodeItemData implementation.
struct SVTranscodeItemState {
    SVConversionJob job;
    std::wstring productCode;
};

class CVTranscodeItem final
    : public CComObjectBase<CComDispatchImpl<IVTranscodeItem>, IVTranscodeItemData,
                            IVTranscodeItemRevision,
                            CComSupportErrorInfoImpl<IVTranscodeItem, IVTranscodeItemData>> {
public:
    static constexpr ComAggregation k_aggregation = ComAggregation::Refused;
    static constexpr size_t k_maxXmlLength = 256 * 1024;
    static constexpr SHORT k_settingsTaken = 0;
    static constexpr SHORT k_settingsRefused = 1;

    // The state of `item` through its interface; raises _com_error when a getter fails.
    static SVTranscodeItemState ReadState(IVTranscodeItemData* item);

    // IVTranscodeItem
    HRESULT Initialize(BSTR sourcePath, BSTR destinationPath, LONG outputFormat,
                       const VARIANT& productCode, SHORT* result) override;

    // IVTranscodeItemData
    HRESULT GetSourcePath(BSTR* path) override;
    HRESULT SetSourcePath(BSTR path) override;
    HRESULT GetDestinationPath(BSTR* path) override;
    HRESULT SetDestinationPath(BSTR path) override;
    HRESULT GetOutputFormat(LONG* format) override;
    HRESULT SetOutputFormat(LONG format) override;
    HRESULT GetProductCode(BSTR* code) override;
    HRESULT SetProductCode(BSTR code) override;
    HRESULT GetVideoSettings(LONG* width, LONG* height, double* frameRate, LONG* bitRate) override;
    HRESULT CopyFrom(IVTranscodeItemData* other) override;
    HRESULT GetAudioSettings(LONG* bitRate, UINT* streamCount) override;
    HRESULT SetVideoSettings(LONG width, LONG height, double frameRate, LONG bitRate,
                             SHORT* result) override;
    HRESULT GetImageSize(LONG* width, LONG* height) override;
    HRESULT SetAudioSettings(LONG bitRate, const VARIANT& streamCount, SHORT* result) override;
    HRESULT SetImageSize(LONG width, LONG height, SHORT* result) override;
    HRESULT GetItemXML(BSTR* xml) override;
    HRESULT LoadItemXML(BSTR xml, VARIANT_BOOL* loaded) override;

    // IVTranscodeItemRevision
    HRESULT GetRevision(ULONGLONG* revision) override;

private:
    template <class Body>
    static HRESULT Catch(Body&& body,
                         const std::source_location& location = std::source_location::current());
    // Applies `change` to a copy of the settings and keeps the copy when it is usable.
    template <class Change>
    HRESULT ChangeSettings(SHORT* result, Change&& change);
    SVTranscodeItemState State() const;
    // The state to change; the caller holds m_lock. The XML written last is dropped and the
    // item takes a new revision.
    SVTranscodeItemState& Changing();
    static ULONGLONG NewRevision();

    mutable std::mutex m_lock;
    SVTranscodeItemState m_state;          // guarded by m_lock
    std::optional<std::wstring> m_xml;     // guarded by m_lock: m_state's XML, written on demand
    ULONGLONG m_revision = NewRevision();  // guarded by m_lock
};
