// An exception rebuilt from the XML text another process sent: the conversion never fails, its
// XML is well-formed for a standard reader, and sending it on gives the same exception back.

#include <cstdint>
#include <string>

#include "fuzz/fuzzcheck.h"
#include "qlib/qcom/comerror.h"
#include "qlib/qutilitylib/qexception.h"
#include "qlib/qutilitylib/qstring.h"
#include "tests/qlib/qutilitylib/xmltestsupport.h"

namespace {

CQException Received(const std::wstring& description) {
    return CQException::FromComError(
        _com_error(E_QEXCEPTION, ErrorInfo{description, GUID_NULL, L"Zelto.Source.1"}));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::wstring text =
        CQStringHelper::MultiByteToString(std::string(reinterpret_cast<const char*>(data), size));
    const CQException exception = Received(text);
    FUZZ_CHECK(!exception.GetElement().GetChildren().empty());
    const std::wstring xml = exception.GetXML();
    FUZZ_CHECK(StandardReaderError(xml).empty());
    (void)exception.GetDescription();
    (void)exception.GetHResult();

    // Sent on once more: the same entries (the source is attached to the newest real entry
    // again, so compare the entries that were there before).
    CQException copy(exception);
    const CQException back = CQException::FromComError(
        _com_error(E_QEXCEPTION, ErrorInfo{copy.GetXML(), GUID_NULL, L""}));
    FUZZ_CHECK(back.GetXML() == xml);
    return 0;
}
