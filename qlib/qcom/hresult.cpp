#include "qlib/qcom/hresult.h"

#include <array>
#include <cerrno>
#include <cstring>

#include "qlib/qsys/textcodec.h"

namespace {

struct ErrnoMapping {
    int error;
    uint32_t win32;
};

// errno -> Win32 error number. Where several errno values share one Win32 number, the first
// row for that number is the one used to find the message text of the number.
constexpr std::array k_errnoTable{
    ErrnoMapping{ENOENT, ERROR_FILE_NOT_FOUND},
    ErrnoMapping{ENOTDIR, ERROR_PATH_NOT_FOUND},
    ErrnoMapping{EMFILE, 4},
    ErrnoMapping{EACCES, ERROR_ACCESS_DENIED},
    ErrnoMapping{EPERM, ERROR_ACCESS_DENIED},
    ErrnoMapping{EISDIR, ERROR_ACCESS_DENIED},
    ErrnoMapping{EBADF, 6},
    ErrnoMapping{ENOMEM, ERROR_OUTOFMEMORY},
    ErrnoMapping{EXDEV, 17},
    ErrnoMapping{EROFS, 19},
    ErrnoMapping{ESPIPE, 25},
    ErrnoMapping{ENOTSUP, 50},
    ErrnoMapping{ENOSYS, 50},
    ErrnoMapping{EINVAL, ERROR_INVALID_PARAMETER},
    ErrnoMapping{EPIPE, 109},
    ErrnoMapping{ENOSPC, ERROR_DISK_FULL},
    ErrnoMapping{EDQUOT, ERROR_DISK_FULL},
    ErrnoMapping{ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
    ErrnoMapping{EBUSY, 170},
    ErrnoMapping{EEXIST, ERROR_ALREADY_EXISTS},
    ErrnoMapping{ENAMETOOLONG, 206},
    ErrnoMapping{EFBIG, 223},
    ErrnoMapping{EAGAIN, 1237},
    ErrnoMapping{EINTR, 1223},
    ErrnoMapping{EIO, 1117},
    ErrnoMapping{ESRCH, 1168},
    ErrnoMapping{ECONNREFUSED, 1225},
    ErrnoMapping{ELOOP, 1921},
    ErrnoMapping{EBADMSG, 1009},
    ErrnoMapping{ETIMEDOUT, ERROR_TIMEOUT},
};

struct HResultText {
    HRESULT hr;
    const wchar_t* text;
};

constexpr std::array k_comTexts{
    HResultText{S_OK, L"The operation completed successfully."},
    HResultText{E_UNEXPECTED, L"Catastrophic failure"},
    HResultText{E_NOTIMPL, L"Not implemented"},
    HResultText{E_NOINTERFACE, L"No such interface supported"},
    HResultText{E_POINTER, L"Invalid pointer"},
    HResultText{E_ABORT, L"Operation aborted"},
    HResultText{E_FAIL, L"Unspecified error"},
    HResultText{CLASS_E_NOAGGREGATION,
                L"Class does not support aggregation (or class object is remote)"},
    HResultText{CLASS_E_CLASSNOTAVAILABLE, L"ClassFactory cannot supply requested class"},
    HResultText{REGDB_E_CLASSNOTREG, L"Class not registered"},
    HResultText{CO_E_CLASSSTRING, L"Invalid class string"},
    HResultText{CO_E_OBJNOTREG, L"Object is not registered"},
    HResultText{CO_E_SERVER_EXEC_FAILURE, L"Server execution failed"},
    HResultText{RPC_E_DISCONNECTED, L"The object invoked has disconnected from its clients."},
    HResultText{RPC_E_SERVERFAULT, L"The server threw an exception."},
    HResultText{DISP_E_UNKNOWNINTERFACE, L"Unknown interface."},
    HResultText{DISP_E_MEMBERNOTFOUND, L"Member not found."},
    HResultText{DISP_E_PARAMNOTFOUND, L"Parameter not found."},
    HResultText{DISP_E_TYPEMISMATCH, L"Type mismatch."},
    HResultText{DISP_E_UNKNOWNNAME, L"Unknown name."},
    HResultText{DISP_E_NONAMEDARGS, L"No named arguments."},
    HResultText{DISP_E_BADVARTYPE, L"Bad variable type."},
    HResultText{DISP_E_EXCEPTION, L"Exception occurred."},
    HResultText{DISP_E_OVERFLOW, L"Out of present range."},
    HResultText{DISP_E_BADINDEX, L"Invalid index."},
    HResultText{DISP_E_BADPARAMCOUNT, L"Invalid number of parameters."},
    HResultText{DISP_E_PARAMNOTOPTIONAL, L"Parameter not optional."},
    HResultText{CONNECT_E_NOCONNECTION, L"The connection does not exist."},
    HResultText{CONNECT_E_ADVISELIMIT, L"The connection limit has been reached."},
    HResultText{CONNECT_E_CANNOTCONNECT,
                L"The sink does not support the interface the connection point needs."},
    HResultText{MakeHResult(0x80070000u | ERROR_GEN_FAILURE),
                L"A device attached to the system is not functioning."},
};

std::optional<std::wstring> Win32Message(uint32_t win32) {
    for (const auto& mapping : k_errnoTable) {
        if (mapping.win32 == win32) {
            char buffer[256];
            const char* text = strerror_r(mapping.error, buffer, sizeof buffer);
            return qsys::FromUtf8(text);
        }
    }
    return std::nullopt;
}

}  // namespace

uint32_t Win32ErrorFromErrno(int error) {
    if (error == 0) {
        return ERROR_SUCCESS;
    }
    for (const auto& mapping : k_errnoTable) {
        if (mapping.error == error) {
            return mapping.win32;
        }
    }
    return ERROR_GEN_FAILURE;
}

HRESULT HResultFromErrno(int error) {
    return HRESULT_FROM_WIN32(Win32ErrorFromErrno(error));
}

std::optional<std::wstring> HResultMessage(HRESULT hr) {
    for (const auto& entry : k_comTexts) {
        if (entry.hr == hr) {
            return std::wstring(entry.text);
        }
    }
    if (HRESULT_FACILITY(hr) == FACILITY_WIN32 && FAILED(hr)) {
        return Win32Message(HRESULT_CODE(hr));
    }
    return std::nullopt;
}
