#include "vtranscodeserver/vtranscodeserverlib.h"

#include "qlib/qcom/typeinfobuilder.h"
#include "vtranscoder/vitemsinterfaces.h"
#include "vtranscoder/vtranscoderinterfaces.h"

// Dispatch id 9 is not used: GetOutputFormatInfo has 10 and GetNext 11, as clients that bound
// by id were built against.
const InterfaceInfo& IVTranscodeService::TypeInfo() {
    static const InterfaceInfo s_info = MakeInterfaceInfo<IVTranscodeService>(
        L"IVTranscodeService",
        {
            {L"Add", 1, &IVTranscodeService::Add, {L"piTCItem", L"nPriority", L"pnRetVal"}},
            {L"AddFile",
             2,
             &IVTranscodeService::AddFile,
             {L"strSrcURL", L"strDestURL", L"nPriority", L"nOutFormat",
              Optional(L"varMCProductCode"), L"pnRetVal"}},
            {L"Remove", 3, &IVTranscodeService::Remove, {L"nId", L"pbRetVal"}},
            {L"GetCount", 4, &IVTranscodeService::GetCount, {L"pnRetVal"}},
            {L"GetState", 5, &IVTranscodeService::GetState, {L"pnRetVal"}},
            {L"GetContent", 6, &IVTranscodeService::GetContent, {L"pstrXML"}},
            {L"GetCurrent", 7, &IVTranscodeService::GetCurrent, {L"pnRetVal"}},
            {L"GetOutputFormatsForFile",
             8,
             &IVTranscodeService::GetOutputFormatsForFile,
             {L"strMCProductCode", L"strFilePath", L"pbMustBeTranscoded", L"pvarRetVal"}},
            {L"GetOutputFormatInfo",
             10,
             &IVTranscodeService::GetOutputFormatInfo,
             {L"strMCProductCode", L"eOutputFormat", L"eFormatInfo", L"pvarInfo"}},
            {L"GetNext", 11, &IVTranscodeService::GetNext, {L"pnRetVal"}},
        });
    return s_info;
}

const InterfaceInfo& IVTranscodeServiceAdmin::TypeInfo() {
    static const InterfaceInfo s_info = MakeInterfaceInfo<IVTranscodeServiceAdmin>(
        L"IVTranscodeServiceAdmin",
        {
            {L"Init",
             &IVTranscodeServiceAdmin::Init,
             {L"strProfileConfigFilename", L"strQueueSaveFilename", Optional(L"nFlags")}},
            {L"Close", &IVTranscodeServiceAdmin::Close, {L"bSave"}},
            {L"SaveQueue", &IVTranscodeServiceAdmin::SaveQueue, {L"strFilename", L"pbRetVal"}},
            {L"LoadQueue",
             &IVTranscodeServiceAdmin::LoadQueue,
             {L"strFilename", L"bAppend", L"pbRetVal"}},
        });
    return s_info;
}

const InterfaceInfo& IVTranscodeServiceCtrl::TypeInfo() {
    static const InterfaceInfo s_info = MakeInterfaceInfo<IVTranscodeServiceCtrl>(
        L"IVTranscodeServiceCtrl",
        {
            {L"Pause", &IVTranscodeServiceCtrl::Pause, {L"pbRetVal"}},
            {L"Continue", &IVTranscodeServiceCtrl::Continue, {L"pbRetVal"}},
            {L"Abort", &IVTranscodeServiceCtrl::Abort, {L"pbRetVal"}},
        });
    return s_info;
}

const InterfaceInfo& IVTranscodeInfo::TypeInfo() {
    static const InterfaceInfo s_info = MakeInterfaceInfo<IVTranscodeInfo>(
        L"IVTranscodeInfo",
        {
            {L"GetOutputFormatsForFile",
             &IVTranscodeInfo::GetOutputFormatsForFile,
             {L"strMCProductCode", L"strFilePath", L"pbMustBeTranscoded", L"pvarRetVal"}},
            {L"GetOutputFormatInfo",
             &IVTranscodeInfo::GetOutputFormatInfo,
             {L"strMCProductCode", L"eOutputFormat", L"eFormatInfo", L"pvarInfo"}},
            {L"GetFileInfo", &IVTranscodeInfo::GetFileInfo, {L"strFilePath", L"ppiRetVal"}},
            {L"IsDRM", &IVTranscodeInfo::IsDRM, {L"strFilePath", L"pbRetVal"}},
            {L"GetMIME", &IVTranscodeInfo::GetMIME, {L"strFilePath", L"pstrXML"}},
            {L"GetOutputFormatsForItem",
             &IVTranscodeInfo::GetOutputFormatsForItem,
             {L"strMCProductCode", L"piItem", L"pbMustBeTranscoded", L"pvarRetVal"}},
            {L"GetOutputFormatsForItem2",
             &IVTranscodeInfo::GetOutputFormatsForItem2,
             {L"strMCProductCode", L"piItem", L"eIsTranscoding", L"pvarRetVal"}},
        });
    return s_info;
}

const InterfaceInfo& IVTranscodeHandler::TypeInfo() {
    static const InterfaceInfo s_info = MakeInterfaceInfo<IVTranscodeHandler>(
        L"IVTranscodeHandler",
        {
            {L"Init", 1, &IVTranscodeHandler::Init, {L"strSourceDatastore", L"strResultDatastore"}},
            {L"TranscodeItemIfNeeded",
             2,
             &IVTranscodeHandler::TranscodeItemIfNeeded,
             {L"piItemOrEnum", L"strDeviceProductCode", L"nPriority", L"dwFlags", L"ppiRetVal"}},
            {L"WaitForCompletion", 3, &IVTranscodeHandler::WaitForCompletion},
        });
    return s_info;
}
