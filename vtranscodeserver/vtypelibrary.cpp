#include "vtranscodeserver/vtypelibrary.h"

#include <algorithm>
#include <string_view>

#include "qlib/qsys/textcodec.h"
#include "qlib/qutilitylib/qcatch.h"
#include "vtranscoder/veventinterfaces.h"
#include "vtranscodeserver/vtranscodeserverlib.h"

namespace {

// The system's error numbers for a resource lookup that finds nothing.
constexpr uint32_t k_errorResourceTypeNotFound = 1813;
constexpr uint32_t k_errorResourceNameNotFound = 1814;

std::vector<SVEnumInfo> Enumerations() {
    return {
        {L"EVTranscodeServiceEvent",
         {{L"EVTranscodeServiceEvent_Started", EVTranscodeServiceEvent_Started},
          {L"EVTranscodeServiceEvent_Completed", EVTranscodeServiceEvent_Completed},
          {L"EVTranscodeServiceEvent_Error", EVTranscodeServiceEvent_Error},
          {L"EVTranscodeServiceEvent_Progress", EVTranscodeServiceEvent_Progress},
          {L"EVTranscodeServiceEvent_Paused", EVTranscodeServiceEvent_Paused},
          {L"EVTranscodeServiceEvent_Continued", EVTranscodeServiceEvent_Continued},
          {L"EVTranscodeServiceEvent_Aborted", EVTranscodeServiceEvent_Aborted},
          {L"EVTranscodeServiceEvent_Added", EVTranscodeServiceEvent_Added},
          {L"EVTranscodeServiceEvent_Removed", EVTranscodeServiceEvent_Removed},
          {L"EVTranscodeServiceEvent_Cleared", EVTranscodeServiceEvent_Cleared},
          {L"EVTranscodeServiceEvent_Closed", EVTranscodeServiceEvent_Closed},
          {L"EVTranscodeServiceEvent_QueueSaved", EVTranscodeServiceEvent_QueueSaved},
          {L"EVTranscodeServiceEvent_QueueLoaded", EVTranscodeServiceEvent_QueueLoaded}}},
        {L"EVTranscodeServiceFlags",
         {{L"EVTranscodeServiceFlags_AutoSave", EVTranscodeServiceFlags_AutoSave},
          {L"EVTranscodeServiceFlags_AutoLoad", EVTranscodeServiceFlags_AutoLoad}}},
        {L"EVTranscodeServiceState",
         {{L"EVTranscodeServiceState_Unknown", EVTranscodeServiceState_Unknown},
          {L"EVTranscodeServiceState_Uninitialized", EVTranscodeServiceState_Uninitialized},
          {L"EVTranscodeServiceState_Idle", EVTranscodeServiceState_Idle},
          {L"EVTranscodeServiceState_Running", EVTranscodeServiceState_Running},
          {L"EVTranscodeServiceState_Paused", EVTranscodeServiceState_Paused}}},
        {L"EVTranscodePriority",
         {{L"EVTranscodePriority_Unspecified", EVTranscodePriority_Unspecified},
          {L"EVTranscodePriority_Low", EVTranscodePriority_Low},
          {L"EVTranscodePriority_Normal", EVTranscodePriority_Normal},
          {L"EVTranscodePriority_High", EVTranscodePriority_High}}},
        {L"EVTranscoding",
         {{L"EVTranscoding_Unknown", EVTranscoding_Unknown},
          {L"EVTranscoding_Required", EVTranscoding_Required},
          {L"EVTranscoding_NotRequired", EVTranscoding_NotRequired}}},
    };
}

std::vector<SVCoClassInfo> CoClasses() {
    return {
        {CLSID_VTranscodeService,
         L"VTranscodeService",
         L"VTranscodeService Class",
         L"VTranscodeServer.VTranscodeServiceOb.1",
         L"VTranscodeServer.VTranscodeServiceObj",
         {&IVTranscodeService::TypeInfo(), &IVTranscodeServiceAdmin::TypeInfo(),
          &IVTranscodeServiceCtrl::TypeInfo(), &IVTranscodeInfo::TypeInfo()},
         DIID_IVEventListener,
         EVClassInstancing::Singleton},
        {CLSID_VTranscodeHandler,
         L"VTranscodeHandler",
         L"VTranscodeHandler Class",
         L"VTranscodeServer.VTranscodeHandler.1",
         L"VTranscodeServer.VTranscodeHandler",
         {&IVTranscodeHandler::TypeInfo()},
         DIID_IVEventListener,
         EVClassInstancing::PerRequest},
    };
}

std::vector<SVConstantInfo> Constants() {
    return {
        {L"TRANSCODE_SETTING_TRANSCODETOFORMAT", TRANSCODE_SETTING_TRANSCODETOFORMAT},
        {L"TRANSCODE_SETTING_TRANSCODETOPATH", TRANSCODE_SETTING_TRANSCODETOPATH},
        {L"TRANSCODE_STATE_MUSTBETRANSCODED", TRANSCODE_STATE_MUSTBETRANSCODED},
        {L"TRANSCODE_STATE_POSSIBLETARGETFORMATS", TRANSCODE_STATE_POSSIBLETARGETFORMATS},
        {L"TRANSCODE_STATE_TRANSCODINGJOBID", TRANSCODE_STATE_TRANSCODINGJOBID},
        {L"TRANSCODE_STORE_NS", TRANSCODE_STORE_NS},
        {L"TRANSCODE_PROPERTY_TRANSCODED", TRANSCODE_PROPERTY_TRANSCODED},
    };
}

[[noreturn]] void RaiseResourceError(const qsys::ResourceTable& module, std::wstring_view typeName,
                                     uint32_t id, bool found) {
    const bool typeKnown = module.HasType(typeName);
    CQException error =
        !found ? CQException(typeKnown ? L"The specified resource name cannot be "
                                         L"found in the image file."
                                       : L"The specified resource type cannot be "
                                         L"found in the image file.",
                             HRESULT_FROM_WIN32(typeKnown ? k_errorResourceNameNotFound
                                                          : k_errorResourceTypeNotFound))
               : CQException(QERR_INVALID_STRING_FORMAT);
    error.AddValue(L"ResourceType", typeName);
    error.AddValue(L"ResourceID", static_cast<int>(id));
    throw error;
}

}  // namespace

const SVCoClassInfo* SVTypeLibraryInfo::FindClass(const CLSID& clsid) const {
    const auto found = std::ranges::find(coclasses, clsid, &SVCoClassInfo::clsid);
    return found == coclasses.end() ? nullptr : &*found;
}

const SVCoClassInfo* SVTypeLibraryInfo::FindClass(std::wstring_view progId) const {
    const auto found = std::ranges::find_if(coclasses, [&](const SVCoClassInfo& coclass) {
        return coclass.progId == progId || coclass.versionIndependentProgId == progId;
    });
    return found == coclasses.end() ? nullptr : &*found;
}

std::vector<const InterfaceInfo*> SVTypeLibraryInfo::Interfaces() const {
    std::vector<const InterfaceInfo*> tables;
    for (const SVCoClassInfo& coclass : coclasses) {
        for (const InterfaceInfo* table : coclass.interfaces) {
            if (std::ranges::find(tables, table) == tables.end()) {
                tables.push_back(table);
            }
        }
    }
    return tables;
}

const SVTypeLibraryInfo& VTranscodeServerLibInfo() {
    static const SVTypeLibraryInfo s_library{LIBID_VTranscodeServerLib,
                                             L"VTranscodeServerLib",
                                             k_vTranscodeServerLibMajor,
                                             k_vTranscodeServerLibMinor,
                                             0x409,
                                             L"VTranscodeServer 1.0 Type Library",
                                             Enumerations(),
                                             CoClasses(),
                                             L"VTranscodeHandlerConstants",
                                             L"VTranscode Constants",
                                             Constants()};
    return s_library;
}

std::wstring LoadResourceText(const qsys::ResourceTable& module, std::wstring_view typeName,
                              uint32_t id) {
    return CQCatch::Internal([&] {
        const auto bytes = module.Find(typeName, id);
        if (!bytes) {
            RaiseResourceError(module, typeName, id, false);
        }
        auto text = qsys::FromUtf8Strict(
            std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
        if (!text) {
            RaiseResourceError(module, typeName, id, true);
        }
        return std::move(*text);
    });
}
