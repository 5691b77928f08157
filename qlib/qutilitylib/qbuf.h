#pragma once
// CQBuf: a growable block of bytes behind an abstract interface, so that the text and file
// helpers (CQFileUtilities::FileContentToString, StringToFileContent, CQStringHelper's byte
// forms) work with any storage. CQBufMalloc keeps the bytes on the heap.
//
// Sizes are 64-bit. Allocate discards the old content; Resize keeps it (as far as it fits);
// bytes that Allocate or Resize add are zero. Copy replaces the content with a copy of the
// given bytes; copying zero bytes leaves the buffer empty. Copy and Append accept bytes of the
// buffer itself.
//
// A buffer is also a CQLock: code that works on a buffer another thread may touch holds its
// lock for the time (CQLockHolder holder(buffer)). This base class's lock does nothing and
// always succeeds; a buffer shared between threads derives and guards itself. Apart from that
// a buffer is used by one thread at a time.
//
// Allocate, Resize and Copy raise CQException (E_OUTOFMEMORY) when memory is not available.

#include <cstdint>

#include "qlib/qutilitylib/qlock.h"

class CQBuf : public CQLock {
public:
    bool Lock() override { return true; }
    void Unlock() override {}
    virtual ~CQBuf() = default;

    virtual void Allocate(uint64_t size) = 0;
    virtual void Resize(uint64_t size) = 0;
    // The first byte; null while the buffer is empty.
    virtual uint8_t* GetData() = 0;
    virtual void Free() = 0;
    virtual uint64_t GetSize() const = 0;
    virtual void Copy(const void* data, uint64_t length);

    // Adds length bytes at the end (Resize, then a copy).
    void Append(const void* data, uint64_t length);

protected:
    CQBuf() = default;
    // Whether data points into this buffer's bytes.
    bool Contains(const void* data);
    CQBuf(const CQBuf&) = delete;
    CQBuf& operator=(const CQBuf&) = delete;
};
