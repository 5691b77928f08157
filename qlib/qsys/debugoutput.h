#pragma once
// The debugger output channel (what OutputDebugString writes to) is standard error here: a
// service's standard error goes to the journal, a terminal's to the terminal. Each call writes
// whole lines with one write(2), so lines of several threads or processes never interleave
// within a line.
//
// Safe from any thread; never throws (a failed write is dropped: there is nowhere to report
// it).

#include <string_view>

namespace qsys {

// Writes `text` to standard error, adding a line end when it has none.
void WriteDebugOutput(std::wstring_view text) noexcept;

}  // namespace qsys
