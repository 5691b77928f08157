#pragma once
// VTranscodeServerLib 1.0: the automation contract that clients of the server compile against.
// This header declares the identifiers, the enumerations, the string constants and the
// interfaces; vtranscodeserverlib.cpp writes each interface's table (methods in slot order,
// dispatch ids, parameter names, types and directions) once, and the generic IDispatch, the
// bus bridge and the client proxies all read those tables. The library-level records (the
// coclasses, the enumerations and constants as data) are in vtypelibrary.h.
//
//     class CVTranscodeService final
//         : public CComObjectBase<CComDispatchImpl<IVTranscodeService>, IVTranscodeServiceAdmin,
//                                 IVTranscodeServiceCtrl, IVTranscodeInfo, ...> { ... };
//
// Imported: the transcode item (IVTranscodeItem) and the item interface (IVItem) of the outside
// components; only pointers to them appear here.
//
// Declarations only; the tables are constant once built (see typeinfo.h for threads). Whether a
// method may be called from several threads is the implementing class's promise.

#include "qlib/qcom/dispatch.h"
#include "qlib/qcom/typeinfo.h"
#include "qlib/qcom/variant.h"

class IVTranscodeItem;
class IVItem;

// Identifiers of the library, its classes and the server's application.
inline constexpr GUID LIBID_VTranscodeServerLib = MakeGuid("D867829A-6C75-4073-9C8F-15E6A6260AE7");
inline constexpr CLSID CLSID_VTranscodeService = MakeGuid("F1E39C1E-58ED-4DB0-BC40-88BEE5CFFA14");
inline constexpr CLSID CLSID_VTranscodeHandler = MakeGuid("B050287F-ED5F-41FB-B98F-03D522CB8F93");
inline constexpr GUID APPID_VTranscodeServer = MakeGuid("E7822C33-2AD8-41CF-898A-EE7FCE06FB9C");
inline constexpr WORD k_vTranscodeServerLibMajor = 1;
inline constexpr WORD k_vTranscodeServerLibMinor = 0;

// Event codes of the service's events.
enum EVTranscodeServiceEvent : LONG {
    EVTranscodeServiceEvent_Started = 1,
    EVTranscodeServiceEvent_Completed = 2,
    EVTranscodeServiceEvent_Error = 3,
    EVTranscodeServiceEvent_Progress = 4,
    EVTranscodeServiceEvent_Paused = 5,
    EVTranscodeServiceEvent_Continued = 6,
    EVTranscodeServiceEvent_Aborted = 7,
    EVTranscodeServiceEvent_Added = 8,
    EVTranscodeServiceEvent_Removed = 9,
    EVTranscodeServiceEvent_Cleared = 10,
    EVTranscodeServiceEvent_Closed = 11,
    EVTranscodeServiceEvent_QueueSaved = 12,
    EVTranscodeServiceEvent_QueueLoaded = 13,
};

// Bits of IVTranscodeServiceAdmin::Init's nFlags.
enum EVTranscodeServiceFlags : LONG {
    EVTranscodeServiceFlags_AutoSave = 1,
    EVTranscodeServiceFlags_AutoLoad = 2,
};

// What IVTranscodeService::GetState answers.
enum EVTranscodeServiceState : LONG {
    EVTranscodeServiceState_Unknown = 0,
    EVTranscodeServiceState_Uninitialized = 1,
    EVTranscodeServiceState_Idle = 2,
    EVTranscodeServiceState_Running = 3,
    EVTranscodeServiceState_Paused = 4,
};

// Job priorities; larger runs first.
enum EVTranscodePriority : LONG {
    EVTranscodePriority_Unspecified = 0,
    EVTranscodePriority_Low = 1,
    EVTranscodePriority_Normal = 2,
    EVTranscodePriority_High = 3,
};

// Whether an item must be converted for a device (GetOutputFormatsForItem2).
enum EVTranscoding : LONG {
    EVTranscoding_Unknown = 0,
    EVTranscoding_Required = 1,
    EVTranscoding_NotRequired = 2,
};

// Module VTranscodeHandlerConstants: the vocabulary the handler writes onto items.
inline constexpr const wchar_t* TRANSCODE_SETTING_TRANSCODETOFORMAT = L"TranscodeToFormat";
inline constexpr const wchar_t* TRANSCODE_SETTING_TRANSCODETOPATH = L"TranscodeToPath";
inline constexpr const wchar_t* TRANSCODE_STATE_MUSTBETRANSCODED = L"MustBeTranscoded";
inline constexpr const wchar_t* TRANSCODE_STATE_POSSIBLETARGETFORMATS = L"PossibleTargetFormats";
inline constexpr const wchar_t* TRANSCODE_STATE_TRANSCODINGJOBID = L"TranscodingJobID";
inline constexpr const wchar_t* TRANSCODE_STORE_NS = L"http://www.zelto.com/Ve2e/Transcoding#store";
inline constexpr const wchar_t* TRANSCODE_PROPERTY_TRANSCODED = L"Transcoded";

// The service's queue (dual). GetOutputFormatsForFile and GetOutputFormatInfo are also members
// of IVTranscodeInfo with the same signatures, so one override in a class serves both.
class IVTranscodeService : public IDispatch {
public:
    static constexpr IID k_iid = MakeGuid("D15D468A-1D68-447E-9E83-6B166F914E2D");
    static const InterfaceInfo& TypeInfo();

    virtual HRESULT Add(IVTranscodeItem* piTCItem, LONG nPriority, LONG* pnRetVal) = 0;
    virtual HRESULT AddFile(BSTR strSrcURL, BSTR strDestURL, LONG nPriority, ULONG nOutFormat,
                            const VARIANT& varMCProductCode, LONG* pnRetVal) = 0;
    virtual HRESULT Remove(LONG nId, VARIANT_BOOL* pbRetVal) = 0;
    virtual HRESULT GetCount(LONG* pnRetVal) = 0;
    virtual HRESULT GetState(LONG* pnRetVal) = 0;
    virtual HRESULT GetContent(BSTR* pstrXML) = 0;
    virtual HRESULT GetCurrent(LONG* pnRetVal) = 0;
    virtual HRESULT GetOutputFormatsForFile(BSTR strMCProductCode, BSTR strFilePath,
                                            VARIANT_BOOL* pbMustBeTranscoded,
                                            VARIANT* pvarRetVal) = 0;
    virtual HRESULT GetOutputFormatInfo(BSTR strMCProductCode, LONG eOutputFormat, LONG eFormatInfo,
                                        VARIANT* pvarInfo) = 0;
    virtual HRESULT GetNext(LONG* pnRetVal) = 0;

protected:
    ~IVTranscodeService() = default;
};

// Set-up and persistence of the service (custom).
class IVTranscodeServiceAdmin : public IUnknown {
public:
    static constexpr IID k_iid = MakeGuid("57786B95-813E-4DD8-A827-FB0CACCCFA04");
    static const InterfaceInfo& TypeInfo();

    virtual HRESULT Init(BSTR strProfileConfigFilename, BSTR strQueueSaveFilename,
                         const VARIANT& nFlags) = 0;
    virtual HRESULT Close(VARIANT_BOOL bSave) = 0;
    virtual HRESULT SaveQueue(BSTR strFilename, VARIANT_BOOL* pbRetVal) = 0;
    virtual HRESULT LoadQueue(BSTR strFilename, VARIANT_BOOL bAppend, VARIANT_BOOL* pbRetVal) = 0;

protected:
    ~IVTranscodeServiceAdmin() = default;
};

// Control of the running job (custom).
class IVTranscodeServiceCtrl : public IUnknown {
public:
    static constexpr IID k_iid = MakeGuid("5EB2022C-31BE-4B6E-A30F-BFD7BFEF7B3C");
    static const InterfaceInfo& TypeInfo();

    virtual HRESULT Pause(VARIANT_BOOL* pbRetVal) = 0;
    virtual HRESULT Continue(VARIANT_BOOL* pbRetVal) = 0;
    virtual HRESULT Abort(VARIANT_BOOL* pbRetVal) = 0;

protected:
    ~IVTranscodeServiceCtrl() = default;
};

// Media information and format decisions (custom).
class IVTranscodeInfo : public IUnknown {
public:
    static constexpr IID k_iid = MakeGuid("FFF2EA38-B642-4568-A276-D68BBC939D62");
    static const InterfaceInfo& TypeInfo();

    virtual HRESULT GetOutputFormatsForFile(BSTR strMCProductCode, BSTR strFilePath,
                                            VARIANT_BOOL* pbMustBeTranscoded,
                                            VARIANT* pvarRetVal) = 0;
    virtual HRESULT GetOutputFormatInfo(BSTR strMCProductCode, LONG eOutputFormat, LONG eFormatInfo,
                                        VARIANT* pvarInfo) = 0;
    virtual HRESULT GetFileInfo(BSTR strFilePath, IVItem** ppiRetVal) = 0;
    virtual HRESULT IsDRM(BSTR strFilePath, VARIANT_BOOL* pbRetVal) = 0;
    virtual HRESULT GetMIME(BSTR strFilePath, BSTR* pstrXML) = 0;
    virtual HRESULT GetOutputFormatsForItem(BSTR strMCProductCode, IVItem* piItem,
                                            VARIANT_BOOL* pbMustBeTranscoded,
                                            VARIANT* pvarRetVal) = 0;
    virtual HRESULT GetOutputFormatsForItem2(BSTR strMCProductCode, IVItem* piItem,
                                             LONG* eIsTranscoding, VARIANT* pvarRetVal) = 0;

protected:
    ~IVTranscodeInfo() = default;
};

// The datastore transcode handler (dual).
class IVTranscodeHandler : public IDispatch {
public:
    static constexpr IID k_iid = MakeGuid("67E6406D-929C-4309-AF05-D5DBB390EB61");
    static const InterfaceInfo& TypeInfo();

    virtual HRESULT Init(BSTR strSourceDatastore, BSTR strResultDatastore) = 0;
    virtual HRESULT TranscodeItemIfNeeded(IDispatch* piItemOrEnum, BSTR strDeviceProductCode,
                                          LONG nPriority, LONG dwFlags, IDispatch** ppiRetVal) = 0;
    virtual HRESULT WaitForCompletion() = 0;

protected:
    ~IVTranscodeHandler() = default;
};

inline constexpr IID IID_IVTranscodeService = IVTranscodeService::k_iid;
inline constexpr IID IID_IVTranscodeServiceAdmin = IVTranscodeServiceAdmin::k_iid;
inline constexpr IID IID_IVTranscodeServiceCtrl = IVTranscodeServiceCtrl::k_iid;
inline constexpr IID IID_IVTranscodeInfo = IVTranscodeInfo::k_iid;
inline constexpr IID IID_IVTranscodeHandler = IVTranscodeHandler::k_iid;
