#pragma once
// CVHelperJob: the one job of a helper process, a probe or a conversion, from the limits it
// runs within to the result that ends its report. A helper started on its own runs it from
// main; a child of the warm helper runs the very same function right after it was forked.
//
// Stateless; run once per process, on its main thread.

#include "components/vtranscoderlib/vhelperrequest.h"

class CVHelperJob {
public:
    // Applies the helper's limits, runs the request and reports on `reportFd`, ending with the
    // result message. Returns the process's exit code (0 when the job completed). Never throws.
    static int Run(const SVHelperRequest& request, int reportFd);
};
