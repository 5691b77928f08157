#include "components/vtranscoderlib/vreportlines.h"

void CVReportLines::Append(std::string_view bytes) {
    // Lines handed out before are done with: drop them before the buffer grows.
    if (m_start > 0) {
        m_pending.erase(0, m_start);
        m_scanned -= m_start;
        m_start = 0;
    }
    m_pending.append(bytes);
}

std::optional<std::string_view> CVReportLines::Next() {
    size_t end = m_pending.find('\n', m_scanned);
    m_examined += (end == std::string::npos ? m_pending.size() : end + 1) - m_scanned;
    if (end == std::string::npos) {
        m_scanned = m_pending.size();
        return std::nullopt;
    }
    std::string_view line = std::string_view(m_pending).substr(m_start, end - m_start);
    m_start = m_scanned = end + 1;
    return line;
}
