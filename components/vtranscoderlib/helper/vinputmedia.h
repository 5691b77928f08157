#pragma once
// CVInputMedia: a source file opened with libavformat, with its streams examined, and the
// choice of the streams a conversion reads. Opening refuses what is not media (a text file
// that a demuxer claims, a picture whose size cannot be found, streams without a codec) with
// InputUnreadable, so that neither the probe nor a conversion works on garbage.
//
// Only the one file is read, through its descriptor (CVFileIO): no protocol is involved, the
// name is no pattern, and formats that make the reader open other files or addresses
// (playlists, concatenation lists, session descriptions, manifests) are refused before their
// reader runs; any other attempt to open something is refused as well.
//
// Pictures beyond the pixel budget (CVHelperLimits) are refused (UnsupportedSettings) as soon
// as their size is known, and no decoder opened here allocates beyond it.
//
// A file of one picture whose details only its decoder can tell (PNG, BMP, ...) is decoded
// once while opening, instead of once to learn its details and again to convert it: that
// packet is no longer read from the source, its picture is taken with TakePicture.
//
// Owns the source file; used by one thread.

#include <string>
#include <vector>

#include "components/vtranscoderlib/helper/vavpointers.h"
#include "components/vtranscoderlib/helper/vconversionplan.h"
#include "components/vtranscoderlib/helper/vfileio.h"
#include "components/vtranscoderlib/vsourcefile.h"

class CVInputMedia {
public:
    // Reads the file's stream information. Raises CVTranscodeError (InputUnreadable) for a file
    // that is unreadable or not media.
    explicit CVInputMedia(CVSourceFile source);

    AVFormatContext* Context() const { return m_context.get(); }
    const std::string& Path() const { return m_path; }

    // The main picture stream, or -1: moving video first; an attached picture (cover art)
    // only when allowed and there is nothing else.
    int VideoStream(bool allowAttachedPicture) const;
    // True when the file has a stream of the type (not cover art) whose codec is known but
    // whose details could not be read: a corrupt stream rather than a missing one.
    bool HasUndecodable(AVMediaType type) const;
    // The audio streams that can be decoded, in file order.
    std::vector<int> AudioStreams() const;
    // True when the container holds pictures rather than video (JPEG, PNG, BMP, GIF, ...).
    bool IsImageContainer() const;
    // The duration in microseconds; 0 when unknown.
    int64_t DurationMicroseconds() const;

    // How the stream's pictures are turned upright: its display matrix or rotate tag, or for a
    // JPEG file its EXIF orientation.
    SVOrientation Orientation(int streamIndex) const;

    // The picture decoded from the stream's first packet while opening, which the source no
    // longer delivers; null when there is none or it was taken already.
    AVFramePtr TakePicture(int streamIndex);

    // A decoder opened for the stream, running `threads` threads of its own. Raises
    // CVTranscodeError (InputUnreadable) when there is none for its codec.
    AVCodecContextPtr OpenDecoder(int streamIndex, int threads) const;

private:
    bool IsUsable(const AVStream* stream) const;

    void Open();
    void FindStreamInfo();
    // True for a file of pictures (an image pipe) with one stream whose size or pixel format
    // only decoding tells.
    bool IsLonePicture() const;
    // Decodes the first picture, learning the stream's details from it, and keeps it.
    void DecodePicture();
    // Refuses a picture stream beyond the pixel budget (CVHelperLimits) before it is decoded.
    void CheckPictureSizes() const;

    CVSourceFile m_source;
    std::string m_path;
    AVFileIOPtr m_io;  // declared before m_context: outlives it
    AVInputContextPtr m_context;
    AVFramePtr m_picture;  // from DecodePicture, until taken
};
