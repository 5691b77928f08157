#include "components/vtranscoderlib/vtranscodesettings.h"

#include <charconv>
#include <cmath>
#include <concepts>

namespace {

std::wstring Text(double value) {
    char buffer[32];
    auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    return std::wstring(buffer, end);
}

template <std::integral T>
std::wstring Text(T value) {
    return std::to_wstring(value);
}

// Limits of what the encoders here accept; beyond them a setting is a mistake, not a wish.
constexpr int32_t k_maxDimension = 8192;
constexpr int32_t k_minDimension = 16;
constexpr double k_maxFrameRate = 240.0;
constexpr int32_t k_maxVideoBitRate = 200'000'000;
constexpr int32_t k_minVideoBitRate = 8'000;
constexpr int32_t k_maxAudioBitRate = 512'000;
constexpr int32_t k_minAudioBitRate = 8'000;
constexpr uint32_t k_maxAudioStreams = 16;

std::optional<std::wstring> CheckBox(const wchar_t* what, int32_t width, int32_t height) {
    for (int32_t value : {width, height}) {
        if (value != 0 && (value < k_minDimension || value > k_maxDimension)) {
            return L"The " + std::wstring(what) + L" size " + Text(width) + L" x " + Text(height) +
                   L" is outside " + Text(k_minDimension) + L" to " + Text(k_maxDimension) +
                   L" pixels.";
        }
    }
    return std::nullopt;
}

std::optional<std::wstring> CheckBitRate(const wchar_t* what, int32_t value, int32_t low,
                                         int32_t high) {
    if (value != 0 && (value < low || value > high)) {
        return L"The " + std::wstring(what) + L" bit rate " + Text(value) + L" is outside " +
               Text(low) + L" to " + Text(high) + L" bit/s.";
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::wstring> FindSettingsProblem(const SVTranscodeSettings& settings) {
    if (auto problem = CheckBox(L"video", settings.videoWidth, settings.videoHeight)) {
        return problem;
    }
    if (auto problem = CheckBox(L"image", settings.imageWidth, settings.imageHeight)) {
        return problem;
    }
    if (!std::isfinite(settings.frameRate) || settings.frameRate < 0.0 ||
        settings.frameRate > k_maxFrameRate) {
        return L"The frame rate " + Text(settings.frameRate) + L" is not between 0 and " +
               Text(k_maxFrameRate) + L".";
    }
    if (settings.frameRate > 0.0 && settings.frameRate < 1.0) {
        return L"The frame rate " + Text(settings.frameRate) + L" is below one frame per second.";
    }
    if (auto problem =
            CheckBitRate(L"video", settings.videoBitRate, k_minVideoBitRate, k_maxVideoBitRate)) {
        return problem;
    }
    if (auto problem =
            CheckBitRate(L"audio", settings.audioBitRate, k_minAudioBitRate, k_maxAudioBitRate)) {
        return problem;
    }
    if (settings.audioStreams > k_maxAudioStreams) {
        return Text(settings.audioStreams) + L" audio streams are more than the " +
               Text(k_maxAudioStreams) + L" kept at most.";
    }
    return std::nullopt;
}
