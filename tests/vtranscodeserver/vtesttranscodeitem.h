#pragma once
// CTestTranscodeItem: a transcode item for the server's tests. It keeps what it is given and
// describes itself as one element "testitem" with the job's data as attributes (written and read
// with pugixml, so paths with "&", "<" or quotes round-trip). Registered under
// CLSID_VTranscodeItem for the lifetime of a CTestTranscodeItemClass, so that the queue and the
// service create it where they would create the transcoder component's item.
//
// Made with `revised`, it answers a revision that changes with its XML (from a process-wide
// counter); otherwise GetRevision fails, as a reader must expect of an item without one.
//
// Used by one test thread at a time apart from its reference count.

#include <string>

#include "qlib/qcom/comclassregistration.h"
#include "qlib/qcom/comdispatchimpl.h"
#include "qlib/qcom/comobjectbase.h"
#include "vtranscoder/vtranscoderinterfaces.h"

class CTestTranscodeItem final
    : public CComObjectBase<CComDispatchImpl<IVTranscodeItem>, IVTranscodeItemData,
                            IVTranscodeItemRevision> {
public:
    // A new item with these data, as its queue interface.
    static CComPtr<IVTranscodeItem> Make(const std::wstring& source,
                                         const std::wstring& destination, LONG format = 9,
                                         bool revised = false);
    // The source path of a queue item (empty for none).
    static std::wstring SourceOf(IVTranscodeItem* item);

    HRESULT Initialize(BSTR sourcePath, BSTR destinationPath, LONG outputFormat,
                       const VARIANT& productCode, SHORT* result) override;
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
    HRESULT GetRevision(ULONGLONG* revision) override;

private:
    bool m_revised = false;
    std::wstring m_revisedXml;  // the XML at m_revision
    ULONGLONG m_revision = 0;
    std::wstring m_source;
    std::wstring m_destination;
    LONG m_format = 0;
    std::wstring m_productCode;
    LONG m_width = 0;
    LONG m_height = 0;
    double m_frameRate = 0;
    LONG m_videoBitRate = 0;
    LONG m_audioBitRate = 0;
    UINT m_audioStreams = 0;
};

// Holds the test item's registration under CLSID_VTranscodeItem.
class CTestTranscodeItemClass {
public:
    CTestTranscodeItemClass();

private:
    CComClassRegistration m_registration;
};
