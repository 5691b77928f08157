#include "components/vtranscoderlib/vtranscodeerror.h"

#include "qlib/qsys/textcodec.h"
#include "qlib/qutilitylib/qexception.h"

CVTranscodeError::CVTranscodeError(EVTranscodeResult result, std::wstring message)
    : m_result(result), m_message(std::move(message)), m_utf8(qsys::ToUtf8(m_message)) {}

void RaiseTranscodeError(EVTranscodeResult result, const std::wstring& message,
                         const std::source_location& location) {
    throw CQException(message, TranscodeErrorCode(result), location);
}
