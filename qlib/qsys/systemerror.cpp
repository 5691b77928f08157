#include "qlib/qsys/systemerror.h"

#include <cerrno>
#include <system_error>

namespace qsys {

void ThrowSystemError(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

void ThrowLastError(const std::string& what) {
    ThrowSystemError(errno, what);
}

}  // namespace qsys
