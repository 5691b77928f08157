#include "qlib/qsys/currentthread.h"

#include <pthread.h>
#include <unistd.h>

#include "qlib/qsys/textcodec.h"

namespace qsys {
namespace {

constexpr size_t k_maxThreadNameBytes = 15;  // the kernel's limit, less the terminating NUL

bool IsContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

}  // namespace

uint32_t GetCurrentThreadId() {
    thread_local const uint32_t t_id = static_cast<uint32_t>(::gettid());
    return t_id;
}

bool SetCurrentThreadName(std::wstring_view name) {
    std::string bytes = ToUtf8(name);
    if (bytes.size() > k_maxThreadNameBytes) {
        size_t cut = k_maxThreadNameBytes;
        while (cut > 0 && IsContinuationByte(bytes[cut])) {
            --cut;
        }
        bytes.resize(cut);
    }
    return ::pthread_setname_np(::pthread_self(), bytes.c_str()) == 0;
}

std::wstring GetCurrentThreadName() {
    char name[k_maxThreadNameBytes + 1] = {};
    if (::pthread_getname_np(::pthread_self(), name, sizeof name) != 0) {
        return {};
    }
    return FromUtf8(name);
}

}  // namespace qsys
