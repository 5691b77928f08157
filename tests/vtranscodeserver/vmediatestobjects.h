#pragma once
// Helpers of the media decision tests: items of the items library made in one call, and a
// scripted transcoder whose file information and format information come from a script the
// test sets. The transcoder is registered under the
// transcoder's class id for the life of a CScriptedTranscoder::Registration.
//
// One test thread uses them at a time.

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "qlib/qcom/comclassregistration.h"
#include "qlib/qcom/comdispatchimpl.h"
#include "qlib/qcom/comobjectbase.h"
#include "vtranscoder/vitemsinterfaces.h"
#include "vtranscoder/vtranscoderinterfaces.h"

namespace vprofiles::test {

// A new item of the items library of the class, with the properties (name, namespace, value).
struct SItemProperty {
    std::wstring name;
    std::wstring uri;
    VARIANT value;
};
CComPtr<IVItem> MakeItem(const std::wstring& className,
                         const std::vector<SItemProperty>& properties);

// The code of the newest real entry of the CQException that body raises; 0 when it raises
// none.
int RaisedCode(const std::function<void()>& body);

class CScriptedTranscoder final : public CComObjectBase<CComDispatchImpl<IVTranscoder>> {
public:
    // What the transcoders answer: file information per path (a path not in the map fails
    // with E_FAIL; a null item is answered as such), and format information.
    struct SScript {
        std::map<std::wstring, CComPtr<IVItem>> fileInfo;
        std::vector<std::wstring> fileInfoCalls;
        int created = 0;
    };
    static SScript& Script();

    // Registers the double under CLSID_VTranscoder and starts a fresh script.
    static CComClassRegistration Register();

    HRESULT FinalConstruct() override;
    HRESULT SetItem(IVTranscodeItemData* item) override;
    HRESULT GetItem(IVTranscodeItemData** item) override;
    HRESULT CanTranscode(VARIANT_BOOL* result) override;
    HRESULT Transcode(const VARIANT& priority, LONG* result) override;
    HRESULT Pause(VARIANT_BOOL* paused) override;
    HRESULT Continue(VARIANT_BOOL* resumed) override;
    HRESULT Abort(VARIANT_BOOL* aborted) override;
    HRESULT GetLastError(BSTR* message) override;
    HRESULT GetFileInfo(BSTR path, IVItem** info) override;
    // Answers the string "format <format> info <infoKind>".
    HRESULT GetOutputFormatInfo(LONG format, LONG infoKind, VARIANT* info) override;
};

}  // namespace vprofiles::test
