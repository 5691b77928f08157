#pragma once
// CVBusCall: runs a call to the server and turns a bus error into the _com_error a COM caller
// expects: the server's HRESULT with its error information (the exception's XML for a
// QException error), so that CQException::FromComError reads it back.
//
// Stateless; any thread.

#include <sdbus-c++/Error.h>

#include "qlib/qbus/qbuserror.h"
#include "qlib/qcom/comerror.h"

class CVBusCall {
public:
    template <class Body>
    static decltype(auto) Run(Body&& body) {
        try {
            return body();
        } catch (const sdbus::Error& error) {
            ErrorInfo info;
            const HRESULT hr = CQBusError::ToHResult(error, &info);
            throw _com_error(hr, info);
        }
    }
};
