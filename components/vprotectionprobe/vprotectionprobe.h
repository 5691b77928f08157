#pragma once
// CVProtectionProbe: tells whether a media file is copy-protected content. It answers true only
// when it positively identifies protection in the file's structure:
// - ASF (WMV, WMA, ASF): a content-encryption or extended content-encryption object in the
//   header object, or an advanced content-encryption object in its header extension;
// - MP4, 3GP, QuickTime: a protection box in the box tree under the movie and fragment boxes:
//   scheme information ("sinf"), protected sample entries ("encv", "enca", "enct", "encs",
//   "drms", "drmi"), protection-system headers ("pssh"), sample encryption ("senc") or an
//   OMA DRM container ("odrm").
// Anything else, a missing, unreadable or damaged file, or one that is no regular file (a FIFO
// or a device would block or never end), is not protected.
//
// The file is hostile input: the probe reads box and object headers only, at most
// k_maxBytesRead bytes in all (an ASF header object larger than that is not read), descends at
// most k_maxDepth boxes deep, visits at most k_maxBoxes boxes, and never trusts a size that
// reaches past its parent or the end of the file (64-bit sizes included), so no file can make
// it loop, recurse or allocate without bound.
//
// Stateless; any thread.

#include <cstdint>
#include <string>

class CVProtectionProbe {
public:
    static constexpr uint64_t k_maxBytesRead = uint64_t{16} << 20;
    static constexpr int k_maxDepth = 16;
    static constexpr uint32_t k_maxBoxes = 1u << 16;

    static bool IsContentProtected(const std::wstring& path) noexcept;
};
