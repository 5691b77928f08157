// The XML element tree's parser on any text, and its writer on whatever the parser built: the
// parse never fails other than by its error fields, the written text is well-formed for a
// standard reader (expat), and writing is stable (parse, write, parse, write gives the same).

#include <expat.h>

#include <cstdint>
#include <string>

#include "fuzz/fuzzcheck.h"
#include "qlib/qutilitylib/qstring.h"
#include "qlib/qutilitylib/qxmlelement.h"

namespace {

bool StandardReaderAccepts(const std::wstring& text) {
    const XML_Parser parser = XML_ParserCreateNS("UTF-8", '}');
    // A fixed salt: expat would otherwise ask the kernel for randomness on every input.
    XML_SetHashSalt(parser, 1);
    const std::string bytes = CQStringHelper::StringToMultiByte(text);
    const bool accepted = XML_Parse(parser, bytes.data(), static_cast<int>(bytes.size()),
                                    XML_TRUE) == XML_STATUS_OK;
    XML_ParserFree(parser);
    return accepted;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::wstring text = CQStringHelper::MultiByteToString(
        std::string(reinterpret_cast<const char*>(data), size));
    CQXMLElement element;
    SQXMLParseState state;
    const bool parsed = element.Parse(text, state);
    FUZZ_CHECK(parsed == !state.error);
    FUZZ_CHECK(state.errorPosition <= text.size());

    // Without indentation: it only adds white space, and its cost grows with the square of the
    // depth, which would slow the search down without testing anything more.
    const SQXMLWriteOptions options{.newLines = false};
    const std::wstring written = element.Write(options);
    FUZZ_CHECK(StandardReaderAccepts(written));
    CQXMLElement again;
    SQXMLParseState againState;
    FUZZ_CHECK(again.Parse(written, againState));
    FUZZ_CHECK(again.Write(options) == written);
    return 0;
}
