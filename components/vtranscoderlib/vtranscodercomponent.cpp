#include "components/vtranscoderlib/vtranscodercomponent.h"

#include <array>

#include "components/vitemslib/vitemslib.h"
#include "components/vtranscoderlib/vtranscodeitem.h"
#include "components/vtranscoderlib/vtranscoder.h"
#include "qlib/qcom/comclassregistration.h"

void CVTranscoderComponent::RegisterClasses() {
    CVItemsLib::RegisterClasses();
    static const std::array<CComClassRegistration, 2> s_registrations{
        RegisterComClass<CVTranscoder>(CLSID_VTranscoder, k_transcoderDisplayName),
        RegisterComClass<CVTranscodeItem>(CLSID_VTranscodeItem, k_transcodeItemDisplayName),
    };
}
