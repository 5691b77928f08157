#include "components/vtranscoderlib/helper/vfileio.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

namespace {

constexpr int k_bufferSize = 64 * 1024;

}  // namespace

AVIOContext* CVFileIO::Open(int fd, EVAccess access) {
    auto* buffer = static_cast<unsigned char*>(av_malloc(k_bufferSize));
    if (!buffer) {
        throw std::bad_alloc();
    }
    auto* file = new (std::nothrow) CVFileIO(fd);
    bool writing = access == EVAccess_Write;
    AVIOContext* context =
        file ? avio_alloc_context(buffer, k_bufferSize, writing ? 1 : 0, file,
                                  writing ? nullptr : &CVFileIO::Read,
                                  writing ? &CVFileIO::Write : nullptr, &CVFileIO::Seek)
             : nullptr;
    if (!context) {
        delete file;
        av_free(buffer);
        throw std::bad_alloc();
    }
    return context;
}

void CVFileIO::Close(AVIOContext* context) noexcept {
    if (!context) {
        return;
    }
    delete static_cast<CVFileIO*>(context->opaque);
    av_freep(&context->buffer);
    avio_context_free(&context);
}

int CVFileIO::Read(void* opaque, uint8_t* buffer, int size) {
    auto* file = static_cast<CVFileIO*>(opaque);
    for (;;) {
        ssize_t count = pread(file->m_fd, buffer, static_cast<size_t>(size), file->m_position);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return AVERROR(errno);
        }
        if (count == 0) {
            return AVERROR_EOF;
        }
        file->m_position += count;
        return static_cast<int>(count);
    }
}

int CVFileIO::Write(void* opaque, uint8_t* buffer, int size) {
    auto* file = static_cast<CVFileIO*>(opaque);
    int written = 0;
    while (written < size) {
        ssize_t count = pwrite(file->m_fd, buffer + written, static_cast<size_t>(size - written),
                               file->m_position);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return count < 0 ? AVERROR(errno) : AVERROR(EIO);
        }
        file->m_position += count;
        written += static_cast<int>(count);
    }
    return written;
}

int64_t CVFileIO::Seek(void* opaque, int64_t offset, int whence) {
    auto* file = static_cast<CVFileIO*>(opaque);
    struct stat info {};
    switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE:
            return fstat(file->m_fd, &info) == 0 ? info.st_size : AVERROR(errno);
        case SEEK_SET:
            break;
        case SEEK_CUR:
            if (__builtin_add_overflow(offset, file->m_position, &offset)) {
                return AVERROR(EINVAL);
            }
            break;
        case SEEK_END:
            if (fstat(file->m_fd, &info) != 0) {
                return AVERROR(errno);
            }
            if (__builtin_add_overflow(offset, int64_t{info.st_size}, &offset)) {
                return AVERROR(EINVAL);
            }
            break;
        default:
            return AVERROR(EINVAL);
    }
    if (offset < 0) {
        return AVERROR(EINVAL);
    }
    file->m_position = offset;
    return offset;
}
