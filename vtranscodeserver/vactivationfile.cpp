#include "vtranscodeserver/vactivationfile.h"

#include <system_error>

#include "qlib/qsys/files.h"
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
    const std::string contents = std::string("[D-BUS Service]\nName=") + k_vBusName +
                                 "\nExec=" + qsys::ToUtf8(executablePath) + " -Embedding\n";
    try {
        qsys::WriteFileAtomically(qsys::ToUtf8(path), contents, 0644);
    } catch (const std::system_error& error) {
        CQException::RaiseSystemError(error, {{L"Filename", path}});
    }
}

void CVActivationFile::Remove() {
    const std::wstring path = Path();
    if (CQFileUtilities::FileExists(path)) {
        CQFileUtilities::DeleteFileW(path);
    }
}
