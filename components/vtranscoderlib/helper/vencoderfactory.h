#pragma once
// CVEncoderFactory: opens the encoder of an output format with the settings this product uses
// for it, fed by a filter chain's sink (which fixes size, pixel format, rate and layout):
//   H.264 (libx264): preset medium, Constrained Baseline, level from the plan, VBV-capped
//     bit rate (maxrate = bit rate, buffer = 2 x bit rate) so that phones keep up;
//   MPEG-4 Part 2: Simple Profile at the plan's level, rate-distortion macroblock decision,
//     trellis quantisation, four motion vectors and AC prediction, keyframes every 10 s,
//     VBV-capped like H.264 with a tolerance of a quarter of the bit rate;
//   H.263: as MPEG-4 without the tools baseline H.263 lacks;
//   AAC-LC (native encoder) at the plan's rate, layout and bit rate;
//   JPEG at quality 3 (full range), PNG, BMP, GIF as the sink delivers.
// Every encoder that can use threads gets one per core.
//
// Stateless.

#include "components/vtranscoderlib/helper/vavpointers.h"
#include "components/vtranscoderlib/helper/vconversionplan.h"
#include "components/vtranscoderlib/voutputformats.h"

class CVEncoderFactory {
public:
    // Quality of JPEG output on FFmpeg's q scale (2 best, 31 worst).
    static constexpr int k_jpegQuality = 3;

    // Raise CVTranscodeError (UnsupportedSettings) when the encoder refuses the settings.
    static AVCodecContextPtr OpenVideo(const SVOutputFormat& format, const SVVideoPlan& plan,
                                       AVFilterContext* sink, bool globalHeader);
    static AVCodecContextPtr OpenAudio(const SVOutputFormat& format, const SVAudioPlan& plan,
                                       AVFilterContext* sink, bool globalHeader);
};
