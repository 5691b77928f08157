#pragma once
// RegistryFormatError reports a hive file that does not follow the REGEDIT4 format (usually a
// hand edit gone wrong). It names the file and the line so the user can mend it; the store
// never empties or rewrites such a file. It is a std::system_error with errno EBADMSG, so
// callers that only know errno still see a failure.
//
// A value type; thread-compatible.

#include <string>
#include <system_error>

namespace qsys {

class RegistryFormatError : public std::system_error {
public:
    RegistryFormatError(std::string file, int line, std::string reason);

    const std::string& File() const { return m_file; }
    int Line() const { return m_line; }
    const std::string& Reason() const { return m_reason; }

private:
    std::string m_file;
    int m_line;
    std::string m_reason;
};

}  // namespace qsys
