#pragma once
// CVAVProfileConfig: the profile database of the transcode service and its lookups. The
// database is one XML document: a table of numbered encoding profiles per output MIME type
// ("profiletable"), a default mapping per media category and one "mcinfo" entry per device
// model ("profilemap"). It comes from the file named in the registry or given to Init, or,
// without a file name, from the resource 201 embedded in the program.
//
//     CVAVProfileConfig config;
//     config.Load(CVAVProfileConfig::ReadConfiguredFileName());
//     AVProfile profile;
//     if (config.GetAVProfile(L"KA-320", CVAVProfileConfig::k_categoryVideo, 8, profile)) ...
//
// Loading and keeping current:
// - Load(name) is the initial load: a configured file is read when it exists (a missing one
//   leaves the document as it was), an empty name loads the embedded database.
// - GetAVProfile first refreshes: when the configured file exists and differs from the one last
//   loaded, it is loaded again. The check is one stat(2). Decision: "differs" compares the
//   modification time to the nanosecond together with size, inode and device, not a time in
//   whole seconds, so that an edit within the second of the previous load (or a replacement
//   by rename that keeps the time) is not missed.
// - A text that does not parse raises "Invalid string format." (QERR_INVALID_STRING_FORMAT)
//   and leaves no document; the lookups then raise "Undefined error." (QERR_UNDEFINED) until a
//   good text loads. A failed refresh does not record the file, so the next call tries again.
//
// Lookups hand out SVProfileNode values, which keep their document alive: a node stays valid
// after the document is replaced, and nodes of a loaded document are only read.
//
// Decision: the paths of the lookups are all child steps, walked with CVProfilePath instead of
// an XPath engine; the elements found are those the XPath selection would return.
//
// Threads: any thread may call any method. m_profileLock (an unnamed, re-entrant CQMutexLock)
// guards m_document, m_fileName and m_fileStamp; the walks run on a counted reference to the
// document taken under the lock, after the lock is released. Callers that hold the service lock
// take it first (service lock -> profile lock).

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "qlib/qcom/comtypes.h"
#include "qlib/qutilitylib/qcomclassfactory.h"
#include "qlib/qutilitylib/qmutexlock.h"
#include "vtranscoder/vitemsinterfaces.h"
#include "vtranscodeserver/vavprofile.h"
#include "vtranscodeserver/vprofilenode.h"

class CVAVProfileConfig {
public:
    static constexpr const wchar_t* k_registryKey =
        L"HKEY_LOCAL_MACHINE\\Software\\Zelto\\QPlatform\\TranscodeService";
    static constexpr const wchar_t* k_registryValue = L"AVConfigFile";
    static constexpr uint32_t k_resourceId = 201;

    // Media categories of GetAVProfile.
    static constexpr LONG k_categoryVideo = 1;
    static constexpr LONG k_categoryAudio = 2;
    static constexpr LONG k_categoryImage = 3;

    CVAVProfileConfig() = default;
    CVAVProfileConfig(const CVAVProfileConfig&) = delete;
    CVAVProfileConfig& operator=(const CVAVProfileConfig&) = delete;

    // The string value "AVConfigFile" under k_registryKey; empty when it is absent.
    static std::wstring ReadConfiguredFileName();

    // The initial load with the file name of the registry or of Init (see the header).
    void Load(const std::wstring& fileName);
    // Parses the text and makes it the document; on failure none is loaded and
    // QERR_INVALID_STRING_FORMAT is raised.
    void LoadAVProfileXML(const std::wstring& text);
    // Loads the configured file again when it exists and changed since it was last loaded.
    void Refresh();

    bool IsLoaded() const;
    std::wstring GetFileName() const;

    // The first "mcinfo" element whose "productcode" equals productCode ignoring case; none
    // when no entry matches. Raises QERR_UNDEFINED without a document.
    SVProfileNode GetMCInfoElem(std::wstring_view productCode) const;
    // The profile row that the "profile" reference at path + "/profile" names: relative to
    // context, or to the document when context is empty (then QERR_UNDEFINED without one).
    // None when there is no reference, it lacks "mime" or "profileid", or the row is missing.
    SVProfileNode GetProfile(const SVProfileNode& context, std::string_view path) const;
    // The "profile" row with "id" == id in the first "profileset" whose "mime" == mime, both
    // compared exactly; none without a document, for an empty mime or id, or no such row.
    SVProfileNode GetProfile(std::wstring_view mime, std::wstring_view id) const;

    // The profile row of the second GetProfile form as an item made by items: the property
    // "mime" (the set's MIME type) and one property per attribute of the row, named as the
    // attribute, with its text; all in the transcode namespace. None when there is no row.
    CComPtr<IVItem> GetProfileItem(std::wstring_view mime, std::wstring_view id,
                                   CQCOMClassFactory& items) const;

    // Fills profile for the device, the category (k_category*) and the quality level that the
    // profile-based output format stands for (6/19/22 low, 7/20/23 medium, 8/21/24 high).
    // False for any other output format (without refreshing), and when the device's entry (or
    // for an unknown device the default map) gives no complete profile. A category other than
    // the three raises QERR_INVALID_PARAMETER.
    bool GetAVProfile(std::wstring_view productCode, LONG category, LONG outputFormat,
                      AVProfile& profile);

    // "low", "medium", "high" for a profile-based output format; nullptr for any other.
    static const char* LevelOfOutputFormat(LONG outputFormat);

private:
    // What identifies one version of the configured file.
    struct SFileStamp {
        timespec modified{};
        off_t size = 0;
        ino_t inode = 0;
        dev_t device = 0;

        bool SameAs(const SFileStamp& other) const;
    };

    static std::optional<SFileStamp> StampOf(const std::wstring& fileName);
    std::shared_ptr<const pugi::xml_document> Document() const;
    std::shared_ptr<const pugi::xml_document> RequireDocument() const;
    void LoadFile(const std::wstring& fileName, const SFileStamp& stamp);
    static SVProfileNode ProfileRow(const std::shared_ptr<const pugi::xml_document>& document,
                                    std::string_view mime, std::string_view id);
    static void CopyProfile(pugi::xml_node row, LONG category, AVProfile& profile);

    mutable CQMutexLock m_profileLock;
    std::shared_ptr<const pugi::xml_document> m_document;  // guarded by m_profileLock
    std::wstring m_fileName;                               // guarded by m_profileLock
    std::optional<SFileStamp> m_fileStamp;                 // guarded by m_profileLock
};
