#pragma once
// CVExifOrientation: reads the EXIF orientation (1 to 8) of a JPEG file from its first bytes,
// where the EXIF segment lives, so that a photo taken sideways comes out upright. The bytes are
// hostile input: every offset is checked against what was read, and anything malformed means
// "no orientation" (1).
//
// Stateless.

#include <string_view>

class CVExifOrientation {
public:
    // How many bytes of the file's start Read needs at most (one segment of 64 KiB).
    static constexpr size_t k_headerSize = 2 + 4 + 65535;

    // The orientation of the JPEG whose first bytes are given; 1 when it has none.
    static int Read(std::string_view start);

private:
    static int FromTiff(std::string_view tiff);
};
