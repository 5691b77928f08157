#pragma once
// CQBufMalloc: a CQBuf whose bytes live on the heap (malloc/realloc), owned by the buffer and
// freed by its destructor. Any size that memory allows can be allocated; a failed allocation
// of a size above zero raises CQException with E_OUTOFMEMORY and the system's text for it, and
// leaves the buffer as it was (Resize) or empty (Allocate).
//
// Not copyable. Inherits CQBuf's lock, which does nothing: one thread at a time.

#include <cstdint>

#include "qlib/qutilitylib/qbuf.h"

class CQBufMalloc : public CQBuf {
public:
    CQBufMalloc() = default;
    // Allocates size zero bytes.
    explicit CQBufMalloc(uint64_t size);
    ~CQBufMalloc() override;

    void Allocate(uint64_t size) override;
    void Resize(uint64_t size) override;
    uint8_t* GetData() override { return m_data; }
    void Free() override;
    uint64_t GetSize() const override { return m_size; }

private:
    uint8_t* m_data = nullptr;
    uint64_t m_size = 0;
};
