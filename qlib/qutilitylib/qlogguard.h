#pragma once
// CQLogGuard: the failure handling of the logging code, which must never let anything escape
// to its caller (the log-and-swallow boundaries of the whole program rely on it). Run calls a
// body; a failure is written to the debug output (standard error) and dropped:
//   CQException: "Error in logging function <operation> : \n" and the exception's description;
//   anything else: "Access violation in logging function <operation>".
//
//     CQLogGuard::Run(L"CQFileLog::Log", [&] { ... });
//
// Stateless; safe on any thread.

#include <string_view>
#include <utility>

class CQLogGuard {
public:
    template <typename Body>
    static void Run(std::wstring_view operation, Body&& body) noexcept {
        try {
            std::forward<Body>(body)();
        } catch (...) {
            ReportCurrentException(operation);
        }
    }

    // The same for a body with a result; fallback when it fails.
    template <typename Result, typename Body>
    static Result Run(std::wstring_view operation, Result fallback, Body&& body) noexcept {
        try {
            return std::forward<Body>(body)();
        } catch (...) {
            ReportCurrentException(operation);
            return fallback;
        }
    }

private:
    // Only inside a handler.
    static void ReportCurrentException(std::wstring_view operation) noexcept;
};
