#pragma once
// CVFileIO: libavformat I/O over a file descriptor that the helper was handed, so that the
// source and the output are never opened by name inside FFmpeg: no protocol, no pattern, no
// link planted at a name can redirect them. Each context keeps its own position (pread and
// pwrite), so several contexts may share one descriptor: the MP4 writer reads back the file
// it wrote while moving its index to the front.
//
// The descriptor is not owned and must outlive the contexts. A context is used by one thread
// at a time. Close frees what Open made.

extern "C" {
#include <libavformat/avio.h>
}

#include <memory>

class CVFileIO {
public:
    enum EVAccess {
        EVAccess_Read,
        EVAccess_Write,
    };

    // A new context reading or writing `fd` from offset 0. Raises std::bad_alloc.
    static AVIOContext* Open(int fd, EVAccess access);
    // Frees a context made by Open (null is fine). Does not flush.
    static void Close(AVIOContext* context) noexcept;

private:
    CVFileIO(int fd) : m_fd(fd) {}

    static int Read(void* opaque, uint8_t* buffer, int size);
    static int Write(void* opaque, uint8_t* buffer, int size);
    static int64_t Seek(void* opaque, int64_t offset, int whence);

    int m_fd;
    int64_t m_position = 0;
};

struct SVFileIODeleter {
    void operator()(AVIOContext* context) const noexcept { CVFileIO::Close(context); }
};
using AVFileIOPtr = std::unique_ptr<AVIOContext, SVFileIODeleter>;
