#include "qlib/qutilitylib/qbufmalloc.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "qlib/qutilitylib/qcatch.h"
#include "qlib/qutilitylib/qexception.h"

namespace {

// A size that cannot even be expressed as size_t is as unavailable as one malloc refuses.
size_t ToAllocationSize(uint64_t size) {
    if (size > std::numeric_limits<size_t>::max()) {
        CQException::RaiseSystemError(ENOMEM);
    }
    return static_cast<size_t>(size);
}

}  // namespace

CQBufMalloc::CQBufMalloc(uint64_t size) {
    CQCatch::Internal([&] { Allocate(size); });
}

CQBufMalloc::~CQBufMalloc() {
    Free();
}

void CQBufMalloc::Allocate(uint64_t size) {
    CQCatch::Internal([&] {
        Free();
        if (size == 0) {
            return;
        }
        auto* data = static_cast<uint8_t*>(std::calloc(ToAllocationSize(size), 1));
        if (data == nullptr) {
            CQException::RaiseSystemError(ENOMEM);
        }
        m_data = data;
        m_size = size;
    });
}

void CQBufMalloc::Resize(uint64_t size) {
    CQCatch::Internal([&] {
        if (size == 0) {
            Free();
            return;
        }
        auto* data = static_cast<uint8_t*>(std::realloc(m_data, ToAllocationSize(size)));
        if (data == nullptr) {
            CQException::RaiseSystemError(ENOMEM);
        }
        if (size > m_size) {
            std::memset(data + m_size, 0, static_cast<size_t>(size - m_size));
        }
        m_data = data;
        m_size = size;
    });
}

void CQBufMalloc::Free() {
    std::free(m_data);
    m_data = nullptr;
    m_size = 0;
}
