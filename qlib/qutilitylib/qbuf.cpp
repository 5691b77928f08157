#include "qlib/qutilitylib/qbuf.h"

#include <cstring>
#include <functional>
#include <string>

bool CQBuf::Contains(const void* data) {
    const std::less<const void*> before;
    const uint8_t* begin = GetData();
    return begin != nullptr && !before(data, begin) && before(data, begin + GetSize());
}

void CQBuf::Copy(const void* data, uint64_t length) {
    if (length > 0 && Contains(data)) {
        // A part of this very buffer: Free would release the bytes before they are copied.
        const std::string own(static_cast<const char*>(data), length);
        Copy(own.data(), own.size());
        return;
    }
    Free();
    if (length < 1) {
        return;
    }
    Allocate(length);
    std::memcpy(GetData(), data, length);
}

void CQBuf::Append(const void* data, uint64_t length) {
    if (length < 1) {
        return;
    }
    if (Contains(data)) {
        // Resize may move the bytes being appended.
        const std::string own(static_cast<const char*>(data), length);
        Append(own.data(), own.size());
        return;
    }
    const uint64_t offset = GetSize();
    Resize(offset + length);
    std::memcpy(GetData() + offset, data, length);
}
