#include "vtranscodeserver/vactivationfile.h"

#include <cerrno>
#include <cstdio>
#include <fstream>

#include "qlib/qsys/textcodec.h"
#include "qlib/qutilitylib/qexception.h"
#include "qlib/qutilitylib/qfileutilities.h"
#include "vtranscodeserver/vbusnames.h"

std::wstring CVActivationFile::Path() {
    return CQFileUtilities::SHGetFolder() + L"/dbus-1/services/" + qsys::FromUtf8(k_vBusName) +
           L".service";
}

void CVActivationFile::Write(const std::wstring& executablePath) {
    const std::wstring path = Path();
    CQFileUtilities::BuildParentDirectory(path);
    // The bus reads the file as plain UTF-8 without a byte-order mark.
    const std::string target = qsys::ToUtf8(path);
    const std::string temporary = target + ".new";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file << "[D-BUS Service]\nName=" << k_vBusName << "\nExec=" << qsys::ToUtf8(executablePath)
             << " -Embedding\n";
        file.flush();
        if (!file) {
            CQException::RaiseSystemError(errno == 0 ? EIO : errno, {{L"Filename", path}});
        }
    }
    if (std::rename(temporary.c_str(), target.c_str()) != 0) {
        const int error = errno;
        std::remove(temporary.c_str());
        CQException::RaiseSystemError(error, {{L"Filename", path}});
    }
}

void CVActivationFile::Remove() {
    const std::wstring path = Path();
    if (CQFileUtilities::FileExists(path)) {
        CQFileUtilities::DeleteFileW(path);
    }
}
