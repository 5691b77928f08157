#pragma once
// HRESULT: the 32-bit result of every interface method of our component object layer, with
// COM's layout (severity bit 31, facility bits 16-26, code bits 0-15) and COM's values, so
// that results logged or sent to other processes read as they would on any COM system.
//
// Failures of system calls are carried as HRESULTs of the Win32 facility (0x8007xxxx): errno
// is translated through one table to the Win32 error number (ENOENT -> 2, EACCES -> 5, ...).
//
// Stateless; safe to call from any thread.

#include <cstdint>
#include <optional>
#include <string>

using HRESULT = int32_t;

constexpr HRESULT MakeHResult(uint32_t value) {
    return static_cast<HRESULT>(value);
}

constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}

constexpr uint32_t FACILITY_ITF = 4;
constexpr uint32_t FACILITY_WIN32 = 7;

constexpr uint32_t HRESULT_FACILITY(HRESULT hr) {
    return (static_cast<uint32_t>(hr) >> 16) & 0x1FFF;
}
constexpr uint32_t HRESULT_CODE(HRESULT hr) {
    return static_cast<uint32_t>(hr) & 0xFFFF;
}

// A Win32 error number as HRESULT: 0x80070000 | (e & 0xFFFF) when positive, e itself otherwise.
constexpr HRESULT HRESULT_FROM_WIN32(int64_t error) {
    return error > 0 ? MakeHResult(0x80070000u | (static_cast<uint32_t>(error) & 0xFFFF))
                     : static_cast<HRESULT>(error);
}

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFF);
constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001);
constexpr HRESULT E_NOINTERFACE = MakeHResult(0x80004002);
constexpr HRESULT E_POINTER = MakeHResult(0x80004003);
constexpr HRESULT E_ABORT = MakeHResult(0x80004004);
constexpr HRESULT E_FAIL = MakeHResult(0x80004005);
constexpr HRESULT E_ACCESSDENIED = MakeHResult(0x80070005);
constexpr HRESULT E_HANDLE = MakeHResult(0x80070006);
constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000E);
constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057);
constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHResult(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHResult(0x80040111);
constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHResult(0x80040154);
constexpr HRESULT CO_E_CLASSSTRING = MakeHResult(0x800401F3);
constexpr HRESULT CO_E_OBJNOTREG = MakeHResult(0x800401FB);
constexpr HRESULT CO_E_SERVER_EXEC_FAILURE = MakeHResult(0x80080005);
constexpr HRESULT RPC_E_DISCONNECTED = MakeHResult(0x80010108);
constexpr HRESULT RPC_E_SERVERFAULT = MakeHResult(0x80010105);
constexpr HRESULT DISP_E_UNKNOWNINTERFACE = MakeHResult(0x80020001);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = MakeHResult(0x80020003);
constexpr HRESULT DISP_E_PARAMNOTFOUND = MakeHResult(0x80020004);
constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHResult(0x80020005);
constexpr HRESULT DISP_E_UNKNOWNNAME = MakeHResult(0x80020006);
constexpr HRESULT DISP_E_NONAMEDARGS = MakeHResult(0x80020007);
constexpr HRESULT DISP_E_BADVARTYPE = MakeHResult(0x80020008);
constexpr HRESULT DISP_E_EXCEPTION = MakeHResult(0x80020009);
constexpr HRESULT DISP_E_OVERFLOW = MakeHResult(0x8002000A);
constexpr HRESULT DISP_E_BADINDEX = MakeHResult(0x8002000B);
constexpr HRESULT DISP_E_BADPARAMCOUNT = MakeHResult(0x8002000E);
constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = MakeHResult(0x8002000F);
constexpr HRESULT CONNECT_E_NOCONNECTION = MakeHResult(0x80040200);
constexpr HRESULT CONNECT_E_ADVISELIMIT = MakeHResult(0x80040201);
constexpr HRESULT CONNECT_E_CANNOTCONNECT = MakeHResult(0x80040202);

// Win32 error numbers used by the program.
constexpr uint32_t ERROR_SUCCESS = 0;
constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr uint32_t ERROR_PATH_NOT_FOUND = 3;
constexpr uint32_t ERROR_ACCESS_DENIED = 5;
constexpr uint32_t ERROR_OUTOFMEMORY = 14;
constexpr uint32_t ERROR_GEN_FAILURE = 31;
constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
constexpr uint32_t ERROR_DISK_FULL = 112;
constexpr uint32_t ERROR_DIR_NOT_EMPTY = 145;
constexpr uint32_t ERROR_ALREADY_EXISTS = 183;
constexpr uint32_t ERROR_TIMEOUT = 1460;

// The Win32 error number for an errno value (ENOENT -> 2); ERROR_GEN_FAILURE for an errno the
// table does not know.
uint32_t Win32ErrorFromErrno(int error);

// HRESULT_FROM_WIN32(Win32ErrorFromErrno(error)); S_OK for 0.
HRESULT HResultFromErrno(int error);

// The system's message text for an HRESULT, without a final line break, or nullopt when the
// system has none. Win32-facility results take the C library's text for the matching errno;
// the COM results of the catalogue above have texts of their own.
std::optional<std::wstring> HResultMessage(HRESULT hr);
