// The XML element tree's parser on any text, and its writer on whatever the parser built: the
// parse never fails other than by its error fields, the written text is well-formed for a
// standard reader (expat), and writing is stable (parse, write, parse, write gives the same).

#include <cstdint>
#include <string>

#include "fuzz/fuzzcheck.h"
#include "qlib/qutilitylib/qstring.h"
#include "qlib/qutilitylib/qxmlelement.h"
#include "tests/qlib/qutilitylib/xmltestsupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::wstring text =
        CQStringHelper::MultiByteToString(std::string(reinterpret_cast<const char*>(data), size));
    CQXMLElement element;
    SQXMLParseState state;
    const bool parsed = element.Parse(text, state);
    FUZZ_CHECK(parsed == !state.error);
    FUZZ_CHECK(state.errorPosition <= text.size());

    // Without indentation: it only adds white space, and its cost grows with the square of the
    // depth, which would slow the search down without testing anything more.
    const SQXMLWriteOptions options{.newLines = false};
    const std::wstring written = element.Write(options);
    FUZZ_CHECK(StandardReaderError(written).empty());
    CQXMLElement again;
    SQXMLParseState againState;
    FUZZ_CHECK(again.Parse(written, againState));
    FUZZ_CHECK(again.Write(options) == written);
    return 0;
}
