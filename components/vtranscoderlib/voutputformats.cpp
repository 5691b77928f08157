#include "components/vtranscoderlib/voutputformats.h"

#include <algorithm>
#include <array>

#include "components/vtranscoderlib/vtranscodeerror.h"

namespace {

constexpr SVTranscodeSettings VideoDefaults(int32_t width, int32_t height, double frameRate,
                                            int32_t videoBitRate) {
    SVTranscodeSettings settings;
    settings.videoWidth = width;
    settings.videoHeight = height;
    settings.frameRate = frameRate;
    settings.videoBitRate = videoBitRate;
    settings.audioBitRate = 96'000;
    return settings;
}

constexpr SVTranscodeSettings AudioDefaults(int32_t bitRate) {
    SVTranscodeSettings settings;
    settings.audioBitRate = bitRate;
    return settings;
}

constexpr std::array k_formats{
    SVOutputFormat{1, EVMediaKind_Video, "mp4", "libx264", "aac", L"avc", L".mp4", L"video/mp4",
                   L"MP4 video, H.264 Constrained Baseline and AAC, small size",
                   VideoDefaults(320, 240, 30.0, 384'000)},
    SVOutputFormat{9, EVMediaKind_Video, "mp4", "mpeg4", "aac", L"mpeg-4", L".mp4", L"video/mp4",
                   L"MP4 video, MPEG-4 Part 2 Simple Profile and AAC",
                   VideoDefaults(176, 144, 15.0, 192'000)},
    SVOutputFormat{10, EVMediaKind_Video, "mp4", "libx264", "aac", L"avc", L".mp4", L"video/mp4",
                   L"MP4 video, H.264 Constrained Baseline and AAC",
                   VideoDefaults(320, 240, 15.0, 384'000)},
    SVOutputFormat{11, EVMediaKind_Audio, "ipod", nullptr, "aac", L"aac", L".m4a", L"audio/mp4",
                   L"MP4 audio, AAC", AudioDefaults(128'000)},
    SVOutputFormat{13, EVMediaKind_Audio, "ipod", nullptr, "aac", L"aac", L".m4a", L"audio/mp4",
                   L"MP4 audio, AAC at 128 kbit/s", AudioDefaults(128'000)},
    SVOutputFormat{14, EVMediaKind_Audio, "ipod", nullptr, "aac", L"aac", L".m4a", L"audio/mp4",
                   L"MP4 audio, AAC at 192 kbit/s", AudioDefaults(192'000)},
    SVOutputFormat{15,
                   EVMediaKind_Image,
                   "image2",
                   "mjpeg",
                   nullptr,
                   L"jpeg",
                   L".jpg",
                   L"image/jpeg",
                   L"JPEG picture",
                   {}},
    SVOutputFormat{16,
                   EVMediaKind_Image,
                   "image2",
                   "bmp",
                   nullptr,
                   L"bmp",
                   L".bmp",
                   L"image/bmp",
                   L"BMP picture",
                   {}},
    SVOutputFormat{17,
                   EVMediaKind_Image,
                   "image2",
                   "png",
                   nullptr,
                   L"png",
                   L".png",
                   L"image/png",
                   L"PNG picture",
                   {}},
    SVOutputFormat{18,
                   EVMediaKind_Image,
                   "gif",
                   "gif",
                   nullptr,
                   L"gif",
                   L".gif",
                   L"image/gif",
                   L"GIF picture",
                   {}},
    SVOutputFormat{25, EVMediaKind_Video, "3gp", "h263", "aac", L"h263", L".3gp", L"video/3gpp",
                   L"3GPP video, H.263 and AAC", VideoDefaults(176, 144, 15.0, 128'000)},
};

template <typename T>
T OrDefault(T value, T fallback) {
    return value != T{} ? value : fallback;
}

}  // namespace

std::span<const SVOutputFormat> CVOutputFormats::All() {
    return k_formats;
}

const SVOutputFormat* CVOutputFormats::Find(int32_t code) {
    auto found = std::find_if(k_formats.begin(), k_formats.end(),
                              [code](const SVOutputFormat& format) { return format.code == code; });
    return found != k_formats.end() ? &*found : nullptr;
}

const SVOutputFormat& CVOutputFormats::Get(int32_t code) {
    if (const SVOutputFormat* format = Find(code)) {
        return *format;
    }
    RaiseTranscodeError(
        EVTranscodeResult_UnsupportedSettings,
        L"The output format " + std::to_wstring(code) + L" is not one the transcoder knows.");
}

SVTranscodeSettings CVOutputFormats::Effective(const SVOutputFormat& format,
                                               const SVTranscodeSettings& settings) {
    const SVTranscodeSettings& defaults = format.defaults;
    SVTranscodeSettings effective = settings;
    // The video box is one setting: a box with either side given is the caller's.
    if (settings.videoWidth == 0 && settings.videoHeight == 0) {
        effective.videoWidth = defaults.videoWidth;
        effective.videoHeight = defaults.videoHeight;
    }
    effective.frameRate = OrDefault(settings.frameRate, defaults.frameRate);
    effective.videoBitRate = OrDefault(settings.videoBitRate, defaults.videoBitRate);
    effective.audioBitRate = OrDefault(settings.audioBitRate, defaults.audioBitRate);
    if (format.kind == EVMediaKind_Audio) {
        effective.audioStreams = std::max(settings.audioStreams, 1u);
    }
    return effective;
}
