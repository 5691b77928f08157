#pragma once
// CVMediaDecisions: the decisions a client asks before copying media to a phone: does the
// device play the media without conversion (IsSupported, from the "support" list of the
// device's entry in the profile database and the limits there), and which output formats are
// offered (GetPossibleFormats: video by the device's quality levels, audio and image by probing
// which types the device plays). The service object calls these under its service lock; the
// item and file forms describe the media through the transcoder component (file information),
// created for the call.
//
//     CVMediaDecisions decisions(profiles);
//     SVFormatDecision answer = decisions.GetOutputFormatsForItem(L"KA-320", item);
//     // answer.formats {6, 7, 8}; answer.supported; answer.GetTranscodingState()
//
// Output format codes: 1 video for an unknown device; 6-8 video by profile (low, medium,
// high); 13 and 14 audio/mp4 at 128000 and 192000 bit/s; 15-18 JPEG, BMP, PNG, GIF; 19-21 image
// by profile. 22-24 (audio by profile) are only answered by GetOutputFormatInfo.
//
// Decisions, where the rules leave room:
// - The probes of the audio and image branches are plain values (CVMediaValues) rather than
//   items of the items component: the probe's "Bitrate" is placed in the metadata namespace,
//   where an ordinary property (kind 1) set by name is found, so the outcome is the one an
//   item probe gives, without creating an outside object per probe.
// - The device is looked up once per decision; every test of that decision reads the same
//   entry even when the database is replaced meanwhile.
// - An integer property wider than 32 bits is compared in full against a limit, not cut to its
//   low 32 bits (a bit rate of 2^32 + 1000 must not pass a maximum of 384000); a negative one
//   counts as larger than any limit. A floating property is truncated toward zero as a double,
//   so that no value is out of range for the truncation.
//
// Threads: the methods keep no state of their own and may run on any thread; the profile
// configuration guards its document (see CVAVProfileConfig). The configuration outlives this
// object.

#include <pugixml.hpp>

#include <string>
#include <string_view>

#include "qlib/qcom/comptr.h"
#include "qlib/qcom/unknown.h"
#include "qlib/qcom/variant.h"
#include "vtranscoder/vitemsinterfaces.h"
#include "vtranscodeserver/vavprofileconfig.h"
#include "vtranscodeserver/vformatdecision.h"
#include "vtranscodeserver/vmediadescription.h"

class CVMediaDecisions {
public:
    // Comparison modes of CheckLimitMatch.
    static constexpr LONG k_modeEqual = 1;
    static constexpr LONG k_modeMax = 2;
    static constexpr LONG k_modeMin = 3;

    // What GetOutputFormatInfo answers for a profile-based format.
    static constexpr LONG k_infoExtension = 0;
    static constexpr LONG k_infoMIMEType = 1;

    explicit CVMediaDecisions(CVAVProfileConfig& profiles);

    // Whether the device plays the media without conversion; false for a device not in the map.
    bool IsSupported(std::wstring_view productCode, const CVMediaDescription& media) const;
    // Whether any element of nodes passes all of its limits in mode (k_mode*); true for an
    // empty list. Attributes not in the limit attribute table, and properties the media lacks
    // or holds as other than a number, pass; any other mode fails.
    static bool CheckLimitMatch(pugi::xml_object_range<pugi::xml_named_node_iterator> nodes,
                                LONG mode, const CVMediaDescription& media);
    // The offered codes and the two flags; a null media raises QERR_INVALID_PARAMETER.
    SVFormatDecision GetPossibleFormats(std::wstring_view productCode,
                                        const CVMediaDescription* media) const;

    // The decision for a file, described by the transcoder's file information.
    SVFormatDecision GetOutputFormatsForFile(std::wstring_view productCode,
                                             const std::wstring& path) const;
    // The decision for the caller's item; first the item's "Codec" is filled from the file
    // information when its MIME type is exactly "video/mp4", "video/m4v", "video/x-ms-wmv" or
    // "video/3gpp" and it names its file ("URI"). Null, or no item: QERR_INVALID_PARAMETER.
    SVFormatDecision GetOutputFormatsForItem(std::wstring_view productCode, IUnknown* item) const;
    // The same, with the codec filled for every MIME type that starts with "video".
    SVFormatDecision GetOutputFormatsForItem2(std::wstring_view productCode, IUnknown* item) const;

    // Facts about an output format: for a profile-based one, the extension (k_infoExtension) or
    // the MIME type (k_infoMIMEType) of the device's profile as a string, otherwise empty; any
    // other format is answered by the transcoder unchanged.
    VARIANT GetOutputFormatInfo(std::wstring_view productCode, LONG outputFormat,
                                LONG formatInfo) const;

    // The item property and its namespace that a limit attribute stands for ("width" ->
    // "Width", metadata); empty for an attribute not in the table. Names ignore case.
    static std::wstring GetNameFromXMLAttr(std::string_view attribute);
    static std::wstring GetNameSpaceFromXMLAttr(std::string_view attribute);

private:
    enum class ECodecEnrichment { KnownVideoTypes, AnyVideo };

    bool IsSupported(const SVProfileNode& device, const CVMediaDescription& media) const;
    static bool TypeAccepts(pugi::xml_node type, const CVMediaDescription& media);
    static bool LimitAttributePasses(const pugi::xml_attribute& attribute, LONG mode,
                                     const CVMediaDescription& media);
    void AddVideoFormats(const SVProfileNode& device, const CVMediaDescription& media,
                         SVFormatDecision& decision) const;
    void AddAudioFormats(const SVProfileNode& device, const CVMediaDescription& media,
                         SVFormatDecision& decision) const;
    void AddImageFormats(const SVProfileNode& device, const CVMediaDescription& media,
                         SVFormatDecision& decision) const;
    SVFormatDecision DecideForItem(std::wstring_view productCode, IUnknown* item,
                                   ECodecEnrichment enrichment) const;
    static void EnrichCodec(IVItem* item);

    CVAVProfileConfig& m_profiles;
};
