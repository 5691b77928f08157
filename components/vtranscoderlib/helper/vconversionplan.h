#pragma once
// CVConversionPlan: decides, from the output format, the job's settings and what the source
// holds, what the helper produces: picture size, padding, frame rate, codec level, audio
// channels and sample rate, bit rates, and the libavfilter chains that get there. It is the
// place where the rules for settings live:
//   - the picture is scaled to fit inside the box keeping its display aspect ratio (square
//     pixels out), never enlarged; 4:2:0 video gets even sizes;
//   - H.263 takes only its standard frame sizes: the largest one inside the box is the frame,
//     the picture is fitted into it and padded with black;
//   - the frame rate is the source's, capped by the setting (never raised); output is
//     constant-rate;
//   - audio keeps the source's sample rate where AAC has it (at most 48 kHz), is stereo at
//     most, and its bit rate is capped by what AAC codes at that rate;
//   - H.264 and MPEG-4 Part 2 levels are the lowest that hold the size, rate and bit rate.
//   - the picture is turned upright first (display matrix, rotate tag, EXIF orientation).
// Pure functions; no FFmpeg objects are created, so every rule can be tested on its own.

extern "C" {
#include <libavutil/rational.h>
}

#include <cstdint>
#include <string>

#include "components/vtranscoderlib/voutputformats.h"

// The filters that turn a stored picture upright (a phone's portrait clip is stored sideways
// with a display matrix, a photo with an EXIF orientation): "transpose=clock", "hflip,vflip",
// ...; empty when it is upright.
struct SVOrientation {
    std::string filter;
    bool swapsSides = false;  // a quarter turn or a transposition

    bool operator==(const SVOrientation&) const = default;
    // The orientation of a clockwise rotation in degrees (any multiple of 90; others: none).
    static SVOrientation FromRotation(double degrees);
    // The orientation of an EXIF orientation value (1 to 8; others: none).
    static SVOrientation FromExif(int value);
};

struct SVSourceVideo {
    int width = 0;
    int height = 0;
    AVRational sampleAspect{0, 1};  // 0/1 when unknown (square pixels assumed)
    AVRational frameRate{0, 1};     // 0/1 when unknown
    bool hasAlpha = false;
    SVOrientation orientation;  // how to turn the stored picture upright
};

struct SVSourceAudio {
    int channels = 0;
    int sampleRate = 0;
};

struct SVVideoPlan {
    int width = 0;  // the picture after scaling
    int height = 0;
    int frameWidth = 0;  // the coded frame: the picture plus padding
    int frameHeight = 0;
    AVRational frameRate{0, 1};  // 0/1 for pictures
    int64_t bitRate = 0;         // 0 for pictures
    int level = -99;             // codec level; -99 (FF_LEVEL_UNKNOWN) leaves the encoder's
    std::string pixelFormat;     // what the encoder takes
    std::string filter;          // libavfilter chain from the decoded picture to the encoder
};

struct SVAudioPlan {
    int channels = 0;
    int sampleRate = 0;
    int64_t bitRate = 0;
    std::string filter;
};

struct SVSize {
    int width = 0;
    int height = 0;
    bool operator==(const SVSize&) const = default;
};

class CVConversionPlan {
public:
    // Raises CVTranscodeError (UnsupportedSettings) when the source cannot be made to fit, for
    // example a box smaller than the smallest H.263 frame.
    static SVVideoPlan PlanVideo(const SVOutputFormat& format, const SVTranscodeSettings& settings,
                                 const SVSourceVideo& source);
    static SVAudioPlan PlanAudio(const SVOutputFormat& format, const SVTranscodeSettings& settings,
                                 const SVSourceAudio& source);

    // The filter chain that puts a picture of another size (a size change in mid-stream) into
    // the frame that a plan's encoder was opened for, keeping its aspect ratio: fitted inside
    // and padded.
    static std::string RefitVideo(const SVVideoPlan& plan, const SVSourceVideo& source);

    // The source's upright display size scaled to fit inside the box (0 = no limit on that
    // side), never enlarged; rounded down to even sizes when `even`.
    static SVSize FitInside(const SVSourceVideo& source, int boxWidth, int boxHeight, bool even);
    // The frame rate out of the source's and the cap (0 = no cap).
    static AVRational CapFrameRate(AVRational source, double cap);
    // The lowest H.264 level (level_idc, 31 for 3.1) for the size, rate and bit rate; 0 when
    // none is high enough.
    static int H264Level(SVSize size, double frameRate, int64_t bitRate);
    // The lowest MPEG-4 Simple Profile level (1 to 6, 4 for 4a); -1 when none is high enough.
    static int Mpeg4SimpleLevel(SVSize size, double frameRate, int64_t bitRate);
    // The sample rate AAC codes the source at.
    static int AacSampleRate(int sourceRate);
};
