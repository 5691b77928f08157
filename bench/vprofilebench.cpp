// Profile lookups and output-format decisions on the embedded profile database, beside a bare
// pugixml walk over the same device entries in the same run:
//   BM_BareWalk               find a device by product code (ASCII case-insensitive), nothing else
//   BM_GetAVProfile           the whole lookup: refresh check, device, level reference, table row,
//                             record filled
//   BM_GetAVProfileFromFile   the same with the database in a configured file (adds the
//                             refresh's stat)
//   BM_Stat                   one stat(2) of that file, the floor of the refresh check
//   BM_GetOutputFormatsForItem  the decision for an item of the items library (no "URI", so no
//                             file information is asked for)
// Every lookup cycles through all product codes of the map, so the walks cover every position.
// Targets: GetAVProfile at most 25 microseconds and at most twice the bare walk; the refresh
// check when nothing changed costs one stat.

#include <benchmark/benchmark.h>
#include <strings.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "components/vitemslib/vitemslib.h"
#include "qlib/qcom/comcall.h"
#include "qlib/qsys/resourcetable.h"
#include "qlib/qsys/textcodec.h"
#include "qlib/qutilitylib/qcomutilities.h"
#include "qlib/qutilitylib/qfileutilities.h"
#include "qlib/qutilitylib/qresource.h"
#include "vtranscodeserver/vavprofileconfig.h"
#include "vtranscodeserver/vmediadecisions.h"

namespace {

std::string DatabaseText() {
    return qsys::ToUtf8(CQResource::LoadTextResource(qsys::ResourceTable::Process(), 201));
}

// The product codes of the map in document order.
std::vector<std::string> ProductCodes() {
    pugi::xml_document document;
    document.load_string(DatabaseText().c_str());
    std::vector<std::string> codes;
    for (pugi::xml_node device :
         document.child("profiles").child("profilemap").children("mcinfo")) {
        codes.push_back(device.attribute("productcode").value());
    }
    return codes;
}

std::vector<std::wstring> WideCodes() {
    std::vector<std::wstring> codes;
    for (const std::string& code : ProductCodes()) {
        codes.push_back(qsys::FromUtf8(code));
    }
    return codes;
}

void BM_BareWalk(benchmark::State& state) {
    pugi::xml_document document;
    document.load_string(DatabaseText().c_str());
    const std::vector<std::string> codes = ProductCodes();
    size_t next = 0;
    for (auto _ : state) {
        const std::string& code = codes[next++ % codes.size()];
        pugi::xml_node found;
        for (pugi::xml_node device :
             document.child("profiles").child("profilemap").children("mcinfo")) {
            if (strcasecmp(device.attribute("productcode").value(), code.c_str()) == 0) {
                found = device;
                break;
            }
        }
        benchmark::DoNotOptimize(found);
    }
}
BENCHMARK(BM_BareWalk);

void RunGetAVProfile(benchmark::State& state, CVAVProfileConfig& config) {
    const std::vector<std::wstring> codes = WideCodes();
    size_t next = 0;
    for (auto _ : state) {
        AVProfile profile;
        benchmark::DoNotOptimize(config.GetAVProfile(
            codes[next++ % codes.size()], CVAVProfileConfig::k_categoryVideo, 7, profile));
    }
}

void BM_GetAVProfile(benchmark::State& state) {
    CVAVProfileConfig config;
    config.Load(L"");
    RunGetAVProfile(state, config);
}
BENCHMARK(BM_GetAVProfile);

std::wstring DatabaseFile() {
    const std::wstring path = CQFileUtilities::GetTempDirectory() + L"vprofilebench.xml";
    CQFileUtilities::WriteTextFile(path, qsys::FromUtf8(DatabaseText()), false,
                                   EQTextEncoding_Utf8);
    return path;
}

void BM_GetAVProfileFromFile(benchmark::State& state) {
    const std::wstring path = DatabaseFile();
    CVAVProfileConfig config;
    config.Load(path);
    RunGetAVProfile(state, config);
    CQFileUtilities::DeleteFileW(path);
}
BENCHMARK(BM_GetAVProfileFromFile);

void BM_Stat(benchmark::State& state) {
    const std::wstring path = DatabaseFile();
    const std::string native = qsys::ToUtf8(path);
    for (auto _ : state) {
        struct stat status {};
        benchmark::DoNotOptimize(::stat(native.c_str(), &status));
    }
    CQFileUtilities::DeleteFileW(path);
}
BENCHMARK(BM_Stat);

void BM_GetOutputFormatsForItem(benchmark::State& state) {
    CVItemsLib::RegisterClasses();
    CVAVProfileConfig config;
    config.Load(L"");
    const CVMediaDecisions decisions(config);
    const CComPtr<IVItem> item = CQCOMUtils::CreateObject<IVItem>(CLSID_VItem, k_itemDisplayName);
    ComCall(item.Get(), &IVItem::SetClassName, L"Video");
    const CComPtr<IVProperties> properties = ComCall(item.Get(), &IVItem::GetProperties);
    ComCall(properties.Get(), &IVProperties::SetValueByName, L"ItemType", VARIANT(L"video/mp4"),
            LONG{EVPropertyKind_Metadata});
    ComCall(properties.Get(), &IVProperties::SetValue, L"Codec", k_transcodeNamespace,
            VARIANT(L"avc"));
    ComCall(properties.Get(), &IVProperties::SetValue, L"Width", k_metadataNamespace, VARIANT(320));
    ComCall(properties.Get(), &IVProperties::SetValue, L"Height", k_metadataNamespace,
            VARIANT(240));
    ComCall(properties.Get(), &IVProperties::SetValue, L"Framerate", k_metadataNamespace,
            VARIANT(29.97));
    const std::vector<std::wstring> codes = WideCodes();
    size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            decisions.GetOutputFormatsForItem(codes[next++ % codes.size()], item.Get()));
    }
}
BENCHMARK(BM_GetOutputFormatsForItem);

}  // namespace

BENCHMARK_MAIN();
