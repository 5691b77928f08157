#pragma once
// CQCatch: the catch convention of every method that can fail, written once. A method hands its
// body to one of the boundaries below as a lambda; the boundary records its own location (source
// file, the line of the call, the class-qualified method name) through a defaulted
// std::source_location, so call sites name nothing themselves:
//
//     HRESULT CVTranscodeService::Remove(long jobId) {
//         return CQCatch::Interface(IID_IVTranscodeService, CLSID_VTranscodeService, [&] {
//             RemoveImpl(jobId);
//             return S_OK;
//         });
//     }
//
// Every boundary runs the same translation layer first (Translate): a _com_error becomes the
// exception it carries plus an empty-description trace entry; a CQException gets a
// "Stacktrace." trace entry; a standard exception, a thrown narrow or wide string and anything
// else become a new exception located at the boundary (codes 1002, 1003, 1004, 1001). The
// result leaves the translation as a CQException (the pass-through level), and the boundary
// action decides what happens to it:
// - Internal: thrown on to the caller; the body's result is returned otherwise.
// - Interface: the thread's error information gets description = GetXML(), the interface id
//   and source = the ProgID of the class, and the method returns E_QEXCEPTION; nothing is
//   logged. Without a failure it returns the body's HRESULT (S_OK for a body returning void).
// - LogAndSwallow: two WARNING lines through QLogBoundaryWarning ("Exception caught in %s (%s :
//   %d)\n" and "%s\n" with GetDescription()), then the method carries on.
// - Boundary: a boundary with an action of its own (worker runner, per-job boundary, silent
//   boundary): the action receives the translated exception.
//
// An access violation is a signal on Linux, not an exception: it never reaches the last
// handler, which takes every other thrown type.
//
// The function templates are safe on any thread. The ProgID resolver is process-wide and may be
// replaced at any time (a mutex guards it); it is called outside that mutex.

#include <concepts>
#include <functional>
#include <source_location>
#include <string>
#include <type_traits>
#include <utility>

#include "qlib/qcom/guid.h"
#include "qlib/qcom/hresult.h"
#include "qlib/qutilitylib/qexception.h"

// Writes one WARNING message of a log-and-swallow boundary (the text already formatted)
// through the logging front end (CQLogging). Never throws.
void QLogBoundaryWarning(const std::wstring& message) noexcept;

class CQCatch {
public:
    using ProgIdResolver = std::function<std::wstring(const CLSID&)>;

    // Internal method: failures leave as CQException with this boundary's entry.
    template <typename Body>
    static decltype(auto) Internal(
        Body&& body, const std::source_location& location = std::source_location::current()) {
        try {
            return std::forward<Body>(body)();
        } catch (...) {
            throw Translate(location);
        }
    }

    // Interface method of the class clsid, declared by the interface iid.
    template <typename Body>
    static HRESULT Interface(
        REFIID iid, REFCLSID clsid, Body&& body,
        const std::source_location& location = std::source_location::current()) noexcept {
        try {
            if constexpr (std::is_void_v<std::invoke_result_t<Body>>) {
                std::forward<Body>(body)();
                return S_OK;
            } else {
                return std::forward<Body>(body)();
            }
        } catch (...) {
            return ReportToCaller(iid, clsid, location);
        }
    }

    // Method without a caller to tell: constructors, destructors, FinalRelease, worker
    // procedures, event callbacks, process-level routines.
    template <typename Body>
    static void LogAndSwallow(Body&& body, const std::source_location& location =
                                               std::source_location::current()) noexcept {
        try {
            std::forward<Body>(body)();
        } catch (...) {
            LogCurrentException(location);
        }
    }

    // Boundary with an action of its own; action(CQException&) receives the translated
    // exception and may throw.
    template <typename Body, typename Action>
    static void Boundary(Body&& body, Action&& action,
                         const std::source_location& location = std::source_location::current()) {
        try {
            std::forward<Body>(body)();
        } catch (...) {
            CQException error = Translate(location);
            std::forward<Action>(action)(error);
        }
    }

    // The translation layer: only inside a handler (catch block). Returns the exception the
    // current one becomes at the boundary at location.
    static CQException Translate(const std::source_location& location);

    // Installs the function that gives the ProgID registered for a class id (the class
    // table's); an empty function restores the default, which knows no ProgID (empty source).
    static void SetProgIdResolver(ProgIdResolver resolver);
    static std::wstring ResolveProgId(const CLSID& clsid) noexcept;

private:
    static HRESULT ReportToCaller(REFIID iid, REFCLSID clsid,
                                  const std::source_location& location) noexcept;
    static void LogCurrentException(const std::source_location& location) noexcept;
};
