#include "components/vtranscoderlib/vtranscoderesult.h"

#include <array>

namespace {

constexpr std::array k_names{L"Completed",           L"Aborted",          L"InputUnreadable",
                             L"UnsupportedSettings", L"ConversionFailed", L"OutputUnwritable",
                             L"HelperCrashed",       L"HelperHung"};

}  // namespace

bool IsTranscodeResult(int32_t value) {
    return value >= 0 && static_cast<size_t>(value) < k_names.size();
}

const wchar_t* TranscodeResultName(int32_t value) {
    return IsTranscodeResult(value) ? k_names[static_cast<size_t>(value)] : L"Unknown";
}
