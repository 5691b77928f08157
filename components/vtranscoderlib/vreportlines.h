#pragma once
// CVReportLines: splits the bytes of a helper's report into lines as they arrive. Each byte is
// examined once however the report is cut into reads, so reading a report costs time linear
// in its size even when a long line arrives in many small pieces; a line longer than the
// limit is refused.
//
// Used by one thread.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

class CVReportLines {
public:
    explicit CVReportLines(size_t maxLineLength) : m_maxLineLength(maxLineLength) {}

    // Adds bytes as they were read.
    void Append(std::string_view bytes);
    // The next complete line (without its line break), valid until the next call; nullopt when
    // none is complete yet.
    std::optional<std::string_view> Next();
    // True when the incomplete line has grown beyond the limit.
    bool Overlong() const { return m_pending.size() - m_start > m_maxLineLength; }

    // Bytes searched for line breaks so far (each byte once).
    size_t BytesExamined() const { return m_examined; }

private:
    const size_t m_maxLineLength;
    std::string m_pending;
    size_t m_start = 0;    // where the next line starts in m_pending
    size_t m_scanned = 0;  // m_pending up to here holds no line break after m_start
    size_t m_examined = 0;
};
