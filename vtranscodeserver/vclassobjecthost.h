#pragma once
// CVClassObjectHost: what makes the server's classes reachable by clients while the module
// serves (the bus bridge in the server process, a stand-in in tests). The module registers the
// class objects before its message loop and revokes them after it.
//
// Called on the module's main thread only.

#include "qlib/qcom/hresult.h"

class CVClassObjectHost {
public:
    virtual ~CVClassObjectHost() = default;
    // Makes the classes reachable; a failure skips serving and becomes the run's result.
    virtual HRESULT RegisterClassObjects() = 0;
    virtual void RevokeClassObjects() noexcept = 0;
};
