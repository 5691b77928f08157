#include "components/vtranscoderlib/helper/vconversionplan.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "components/vtranscoderlib/helper/vavlog.h"

namespace {

// Largest frame-rate denominator MPEG-4 Part 2 can code (16 bits for its time increment).
constexpr int k_maxRateDenominator = 65535;

struct SVLevelLimit {
    int level;
    int64_t macroblocksPerSecond;
    int64_t macroblocksPerFrame;
    int64_t bitRate;  // bit/s
};

// H.264 Annex A, Baseline: MaxMBPS, MaxFS, MaxBR (x1000).
constexpr std::array k_h264Levels{
    SVLevelLimit{10, 1485, 99, 64'000},           SVLevelLimit{11, 3000, 396, 192'000},
    SVLevelLimit{12, 6000, 396, 384'000},         SVLevelLimit{13, 11880, 396, 768'000},
    SVLevelLimit{20, 11880, 396, 2'000'000},      SVLevelLimit{21, 19800, 792, 4'000'000},
    SVLevelLimit{22, 20250, 1620, 4'000'000},     SVLevelLimit{30, 40500, 1620, 10'000'000},
    SVLevelLimit{31, 108000, 3600, 14'000'000},   SVLevelLimit{32, 216000, 5120, 20'000'000},
    SVLevelLimit{40, 245760, 8192, 20'000'000},   SVLevelLimit{41, 245760, 8192, 50'000'000},
    SVLevelLimit{42, 522240, 8704, 50'000'000},   SVLevelLimit{50, 589824, 22080, 135'000'000},
    SVLevelLimit{51, 983040, 36864, 240'000'000}, SVLevelLimit{52, 2073600, 36864, 240'000'000},
};

// MPEG-4 Part 2 Simple Profile levels (level 4 stands for 4a).
constexpr std::array k_mpeg4Levels{
    SVLevelLimit{1, 1485, 99, 64'000},       SVLevelLimit{2, 5940, 396, 128'000},
    SVLevelLimit{3, 11880, 396, 384'000},    SVLevelLimit{4, 36000, 1200, 4'000'000},
    SVLevelLimit{5, 40500, 1620, 8'000'000}, SVLevelLimit{6, 108000, 3600, 12'000'000},
};

// The frame sizes H.263 baseline codes: sub-QCIF, QCIF, CIF, 4CIF, 16CIF.
constexpr std::array k_h263Sizes{SVSize{1408, 1152}, SVSize{704, 576}, SVSize{352, 288},
                                 SVSize{176, 144}, SVSize{128, 96}};

// Rates the AAC encoder accepts, highest first, up to the 48 kHz that players expect.
constexpr std::array k_aacRates{48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};

template <size_t N>
int LowestLevel(const std::array<SVLevelLimit, N>& table, SVSize size, double frameRate,
                int64_t bitRate, int none) {
    int64_t perFrame = int64_t{(size.width + 15) / 16} * ((size.height + 15) / 16);
    auto perSecond = static_cast<int64_t>(std::ceil(static_cast<double>(perFrame) * frameRate));
    for (const SVLevelLimit& limit : table) {
        if (perFrame <= limit.macroblocksPerFrame && perSecond <= limit.macroblocksPerSecond &&
            bitRate <= limit.bitRate) {
            return limit.level;
        }
    }
    return none;
}

bool IsH263(const SVOutputFormat& format) {
    return std::strcmp(format.videoEncoder, "h263") == 0;
}

bool IsH264(const SVOutputFormat& format) {
    return std::strcmp(format.videoEncoder, "libx264") == 0;
}

bool IsMpeg4(const SVOutputFormat& format) {
    return std::strcmp(format.videoEncoder, "mpeg4") == 0;
}

std::string ImagePixelFormat(const SVOutputFormat& format, bool alpha) {
    std::string encoder = format.videoEncoder;
    if (encoder == "mjpeg") {
        return "yuvj420p";
    }
    if (encoder == "png") {
        return alpha ? "rgba" : "rgb24";
    }
    if (encoder == "bmp") {
        return alpha ? "bgra" : "bgr24";
    }
    return "pal8";
}

std::string RateText(AVRational rate) {
    return std::to_string(rate.num) + "/" + std::to_string(rate.den);
}

std::string ScaleText(SVSize size) {
    return "scale=" + std::to_string(size.width) + ":" + std::to_string(size.height) + ",setsar=1";
}

// The parts joined into one chain; empty parts left out.
std::string Chain(std::initializer_list<std::string> parts) {
    std::string chain;
    for (const std::string& part : parts) {
        if (!part.empty()) {
            chain += (chain.empty() ? "" : ",") + part;
        }
    }
    return chain;
}

std::string PadText(SVSize picture, SVSize frame) {
    if (picture == frame) {
        return {};
    }
    return "pad=" + std::to_string(frame.width) + ":" + std::to_string(frame.height) +
           ":(ow-iw)/2:(oh-ih)/2";
}

// Dropping frames before turning and scaling saves that work for every dropped frame.
std::string MovingFilter(const SVVideoPlan& plan, const SVSourceVideo& source, SVSize picture) {
    SVSize frame{plan.frameWidth, plan.frameHeight};
    return Chain({"fps=" + RateText(plan.frameRate), source.orientation.filter, ScaleText(picture),
                  PadText(picture, frame), "format=" + plan.pixelFormat});
}

SVSize H263Frame(const SVTranscodeSettings& settings) {
    for (SVSize size : k_h263Sizes) {
        if ((settings.videoWidth == 0 || size.width <= settings.videoWidth) &&
            (settings.videoHeight == 0 || size.height <= settings.videoHeight)) {
            return size;
        }
    }
    RaiseHelperError(EVTranscodeResult_UnsupportedSettings,
                     "H.263 video needs a box of at least 128 x 96, not " +
                         std::to_string(settings.videoWidth) + " x " +
                         std::to_string(settings.videoHeight));
}

}  // namespace

SVSize CVConversionPlan::FitInside(const SVSourceVideo& source, int boxWidth, int boxHeight,
                                   bool even) {
    double aspect = source.sampleAspect.num > 0 && source.sampleAspect.den > 0
                        ? av_q2d(source.sampleAspect)
                        : 1.0;
    double displayWidth = source.width * aspect;
    double displayHeight = source.height;
    if (source.orientation.swapsSides) {
        std::swap(displayWidth, displayHeight);
    }
    double scale = 1.0;
    if (boxWidth > 0) {
        scale = std::min(scale, boxWidth / displayWidth);
    }
    if (boxHeight > 0) {
        scale = std::min(scale, boxHeight / displayHeight);
    }
    SVSize size{static_cast<int>(std::lround(displayWidth * scale)),
                static_cast<int>(std::lround(displayHeight * scale))};
    if (boxWidth > 0) {
        size.width = std::min(size.width, boxWidth);
    }
    if (boxHeight > 0) {
        size.height = std::min(size.height, boxHeight);
    }
    if (even) {
        size.width -= size.width % 2;
        size.height -= size.height % 2;
    }
    int minimum = even ? 2 : 1;
    return {std::max(size.width, minimum), std::max(size.height, minimum)};
}

AVRational CVConversionPlan::CapFrameRate(AVRational source, double cap) {
    bool known = source.num > 0 && source.den > 0;
    AVRational rate =
        known && (cap <= 0.0 || av_q2d(source) <= cap) ? source : av_d2q(cap, 1001000);
    if (rate.num <= 0 || rate.den <= 0) {
        rate = AVRational{25, 1};
    }
    if (rate.den > k_maxRateDenominator) {
        rate = av_d2q(av_q2d(rate), k_maxRateDenominator);
    }
    av_reduce(&rate.num, &rate.den, rate.num, rate.den, INT32_MAX);
    return rate;
}

int CVConversionPlan::H264Level(SVSize size, double frameRate, int64_t bitRate) {
    return LowestLevel(k_h264Levels, size, frameRate, bitRate, 0);
}

int CVConversionPlan::Mpeg4SimpleLevel(SVSize size, double frameRate, int64_t bitRate) {
    return LowestLevel(k_mpeg4Levels, size, frameRate, bitRate, -1);
}

int CVConversionPlan::AacSampleRate(int sourceRate) {
    if (sourceRate <= 0 || sourceRate >= k_aacRates.front()) {
        return k_aacRates.front();
    }
    // The lowest listed rate that is not below the source's: nothing is lost.
    int rate = k_aacRates.front();
    for (int candidate : k_aacRates) {
        if (candidate >= sourceRate) {
            rate = candidate;
        }
    }
    return rate;
}

SVVideoPlan CVConversionPlan::PlanVideo(const SVOutputFormat& format,
                                        const SVTranscodeSettings& settings,
                                        const SVSourceVideo& source) {
    SVVideoPlan plan;
    if (format.kind == EVMediaKind_Image) {
        SVSize size = FitInside(source, settings.imageWidth, settings.imageHeight, false);
        plan.width = plan.frameWidth = size.width;
        plan.height = plan.frameHeight = size.height;
        plan.pixelFormat = ImagePixelFormat(format, source.hasAlpha);
        plan.filter =
            Chain({source.orientation.filter, ScaleText(size),
                   plan.pixelFormat == "pal8" ? "split[a][b];[a]palettegen[p];[b][p]paletteuse"
                                              : "format=" + plan.pixelFormat});
        return plan;
    }
    plan.pixelFormat = "yuv420p";
    plan.frameRate = CapFrameRate(source.frameRate, settings.frameRate);
    plan.bitRate = settings.videoBitRate;
    SVSize frame;
    SVSize picture;
    if (IsH263(format)) {
        frame = H263Frame(settings);
        picture = FitInside(source, frame.width, frame.height, true);
    } else {
        picture = frame = FitInside(source, settings.videoWidth, settings.videoHeight, true);
    }
    plan.width = picture.width;
    plan.height = picture.height;
    plan.frameWidth = frame.width;
    plan.frameHeight = frame.height;
    double rate = av_q2d(plan.frameRate);
    if (IsH264(format)) {
        plan.level = H264Level(frame, rate, plan.bitRate);
    } else if (IsMpeg4(format)) {
        plan.level = Mpeg4SimpleLevel(frame, rate, plan.bitRate);
    }
    plan.filter = MovingFilter(plan, source, picture);
    return plan;
}

std::string CVConversionPlan::RefitVideo(const SVVideoPlan& plan, const SVSourceVideo& source) {
    return MovingFilter(plan, source, FitInside(source, plan.frameWidth, plan.frameHeight, true));
}

SVOrientation SVOrientation::FromRotation(double degrees) {
    long quarter = std::lround(degrees / 90.0);
    if (std::fabs(degrees - 90.0 * static_cast<double>(quarter)) > 1.0) {
        return {};
    }
    // A quarter, half and three quarters clockwise are EXIF's orientations 6, 3 and 8.
    constexpr int k_exifOfQuarters[] = {1, 6, 3, 8};
    return FromExif(k_exifOfQuarters[((quarter % 4) + 4) % 4]);
}

SVOrientation SVOrientation::FromExif(int value) {
    switch (value) {
        case 2:
            return {"hflip", false};
        case 3:
            return {"hflip,vflip", false};
        case 4:
            return {"vflip", false};
        case 5:
            return {"transpose=cclock_flip", true};
        case 6:
            return {"transpose=clock", true};
        case 7:
            return {"transpose=clock_flip", true};
        case 8:
            return {"transpose=cclock", true};
        default:
            return {};
    }
}

SVAudioPlan CVConversionPlan::PlanAudio(const SVOutputFormat&, const SVTranscodeSettings& settings,
                                        const SVSourceAudio& source) {
    SVAudioPlan plan;
    plan.channels = std::clamp(source.channels, 1, 2);
    plan.sampleRate = AacSampleRate(source.sampleRate);
    // AAC codes at most 6144 bits per channel in a frame of 1024 samples.
    int64_t ceiling = int64_t{6144} * plan.channels * plan.sampleRate / 1024;
    plan.bitRate = std::min<int64_t>(settings.audioBitRate, ceiling);
    plan.filter = "aformat=sample_fmts=fltp:sample_rates=" + std::to_string(plan.sampleRate) +
                  ":channel_layouts=" + (plan.channels == 2 ? "stereo" : "mono");
    return plan;
}
