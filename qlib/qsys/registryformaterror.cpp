#include "qlib/qsys/registryformaterror.h"

#include <cerrno>

namespace qsys {

RegistryFormatError::RegistryFormatError(std::string file, int line, std::string reason)
    : std::system_error(EBADMSG, std::generic_category(),
                        file + ":" + std::to_string(line) + ": " + reason),
      m_file(std::move(file)),
      m_line(line),
      m_reason(std::move(reason)) {}

}  // namespace qsys
