#pragma once
// CVOutputFormats: the catalogue of output format codes that the transcoder converts to. It is
// the one table both the conversion engine (which container and encoders to use, and the
// defaults for settings left at 0) and the format information answered to clients (extension,
// MIME type) read from.
//
// | code | kind  | container (muxer)   | video                        | audio  | ext  | MIME |
// |------|-------|---------------------|------------------------------|--------|------|------------|
// | 1    | video | MP4 (mp4)           | H.264 Constrained Baseline   | AAC-LC | .mp4 | video/mp4 |
// | 9    | video | MP4 (mp4)           | MPEG-4 Part 2 Simple Profile | AAC-LC | .mp4 | video/mp4 |
// | 10   | video | MP4 (mp4)           | H.264 Constrained Baseline   | AAC-LC | .mp4 | video/mp4 |
// | 11   | audio | MP4 audio (ipod)    | -                            | AAC-LC | .m4a | audio/mp4 |
// | 13   | audio | MP4 audio (ipod)    | -                            | AAC-LC | .m4a | audio/mp4 |
// | 14   | audio | MP4 audio (ipod)    | -                            | AAC-LC | .m4a | audio/mp4 |
// | 15   | image | JPEG file (image2)  | JPEG, full-range 4:2:0       | -      | .jpg | image/jpeg
// | | 16   | image | BMP file (image2)   | BMP, 24-bit (32 with alpha)  | -      | .bmp | image/bmp
// | | 17   | image | PNG file (image2)   | PNG, RGB (RGBA with alpha)   | -      | .png | image/png
// | | 18   | image | GIF file (gif)      | GIF, palette made per picture| -      | .gif | image/gif
// | | 25   | video | 3GPP (3gp)          | H.263 baseline               | AAC-LC | .3gp |
// video/3gpp |
//
// Defaults for settings left at 0 (video box, frame-rate cap, video and audio bit rate):
//   1: 320 x 240, 30 fps, 384 kbit/s, 96 kbit/s  - the one format offered for a device that is
//      not in the profile map, so it aims at what every phone plays: small and baseline.
//   9: 176 x 144, 15 fps, 192 kbit/s, 96 kbit/s  (as the database's default video profile)
//  10: 320 x 240, 15 fps, 384 kbit/s, 96 kbit/s
//  25: 176 x 144, 15 fps, 128 kbit/s, 96 kbit/s
//  11: 128 kbit/s; 13: 128 kbit/s; 14: 192 kbit/s
//  images: 0 x 0, the picture keeps its size.
// A non-zero setting overrides a default. H.264 and MPEG-4 levels are chosen from the output
// size, frame rate and bit rate, so that a device checking the level accepts the file. H.263
// allows only its standard frame sizes: the picture is fitted into the largest of 128 x 96,
// 176 x 144, 352 x 288, 704 x 576 and 1408 x 1152 inside the box and padded to it.
// Codes 6-8, 19-21 and 22-24 are resolved from device profiles before a job reaches the
// transcoder and are not in the catalogue; every code not listed is refused.
//
// The table is constant; safe to read from any thread.

#include <cstdint>
#include <span>

#include "components/vtranscoderlib/vtranscodesettings.h"

// The media kinds, numbered as the profile database's categories.
enum EVMediaKind : int32_t {
    EVMediaKind_Video = 1,
    EVMediaKind_Audio = 2,
    EVMediaKind_Image = 3,
};

// The facts a client can ask about an output format.
enum EVFormatInfo : int32_t {
    EVFormatInfo_Extension = 0,
    EVFormatInfo_MIMEType = 1,
};

struct SVOutputFormat {
    int32_t code;
    EVMediaKind kind;
    const char* muxer;         // libavformat muxer name
    const char* videoEncoder;  // libavcodec encoder name; nullptr for audio formats
    const char* audioEncoder;  // nullptr for image formats
    const wchar_t* codec;      // in the profile database's vocabulary ("avc", "mpeg-4", ...)
    const wchar_t* extension;  // with the leading dot
    const wchar_t* mimeType;
    const wchar_t* description;
    SVTranscodeSettings defaults;
};

class CVOutputFormats {
public:
    // Every format, in ascending code order.
    static std::span<const SVOutputFormat> All();

    // The format of a code, or nullptr when the catalogue has none.
    static const SVOutputFormat* Find(int32_t code);

    // The format of a code; raises CQException (RaiseTranscodeError, UnsupportedSettings) for a
    // code the catalogue does not define.
    static const SVOutputFormat& Get(int32_t code);

    // The settings a job of this format runs with: each zero setting replaced by the format's
    // default, the audio stream count at least one for audio formats.
    static SVTranscodeSettings Effective(const SVOutputFormat& format,
                                         const SVTranscodeSettings& settings);
};
