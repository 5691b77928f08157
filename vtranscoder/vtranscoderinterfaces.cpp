#include "vtranscoder/vtranscoderinterfaces.h"

#include "qlib/qcom/typeinfobuilder.h"

const InterfaceInfo& IVTranscodeItem::TypeInfo() {
    static const InterfaceInfo s_info = MakeInterfaceInfo<IVTranscodeItem>(
        L"IVTranscodeItem",
        {
            {L"Initialize", 1, &IVTranscodeItem::Initialize,
             {L"strSourcePath", L"strDestinationPath", L"nOutputFormat", L"varProductCode",
              L"pnResult"}},
        });
    return s_info;
}

const InterfaceInfo& IVTranscoder::TypeInfo() {
    static const InterfaceInfo s_info = MakeInterfaceInfo<IVTranscoder>(
        L"IVTranscoder",
        {
            {L"SetItem", 1, &IVTranscoder::SetItem, {L"pItem"}},
            {L"GetItem", 2, &IVTranscoder::GetItem, {L"ppItem"}},
            {L"CanTranscode", 3, &IVTranscoder::CanTranscode, {L"pbResult"}},
            {L"Transcode", 4, &IVTranscoder::Transcode, {L"varPriority", L"pnResult"}},
            {L"Pause", 5, &IVTranscoder::Pause, {L"pbResult"}},
            {L"Continue", 6, &IVTranscoder::Continue, {L"pbResult"}},
            {L"Abort", 7, &IVTranscoder::Abort, {L"pbResult"}},
            {L"GetLastError", 8, &IVTranscoder::GetLastError, {L"pstrMessage"}},
            {L"GetFileInfo", 9, &IVTranscoder::GetFileInfo, {L"strPath", L"ppInfo"}},
            {L"GetOutputFormatInfo", 10, &IVTranscoder::GetOutputFormatInfo,
             {L"nFormat", L"nInfoKind", L"pvarInfo"}},
        });
    return s_info;
}
