#pragma once
// SVFormatDecision: the answer to "can this device play this media, and into which output
// formats can it be converted": the offered output format codes in the order the rules add
// them, whether the device plays the media as it is (supported), and whether the device has
// an entry in the profile map (device known). Both flags start true.
//
// A plain value.

#include <cstdint>
#include <vector>

#include "vtranscodeserver/vtranscodeserverlib.h"

struct SVFormatDecision {
    std::vector<int32_t> formats;
    bool supported = true;
    bool deviceKnown = true;

    // The answer of GetOutputFormatsForItem2: unknown device, conversion required, or not.
    EVTranscoding GetTranscodingState() const {
        if (!deviceKnown) {
            return EVTranscoding_Unknown;
        }
        return supported ? EVTranscoding_NotRequired : EVTranscoding_Required;
    }
};
