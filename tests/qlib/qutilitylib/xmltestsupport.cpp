#include "tests/qlib/qutilitylib/xmltestsupport.h"

#include <expat.h>

#include <memory>

#include "qlib/qutilitylib/qstring.h"

namespace {

struct ParserDeleter {
    void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
};
using ParserHandle = std::unique_ptr<std::remove_pointer_t<XML_Parser>, ParserDeleter>;

struct ReadState {
    bool rootSeen = false;
    std::map<std::string, std::string> rootAttributes;
};

void OnStart(void* data, const XML_Char* /*name*/, const XML_Char** attributes) {
    auto& state = *static_cast<ReadState*>(data);
    if (state.rootSeen) {
        return;
    }
    state.rootSeen = true;
    for (size_t index = 0; attributes[index] != nullptr; index += 2) {
        state.rootAttributes[attributes[index]] = attributes[index + 1];
    }
}

void OnEnd(void* /*data*/, const XML_Char* /*name*/) {}

std::string Read(std::wstring_view text, ReadState& state) {
    const ParserHandle parser(XML_ParserCreateNS("UTF-8", '}'));
    // A fixed salt: expat would otherwise ask the kernel for randomness for every text.
    XML_SetHashSalt(parser.get(), 1);
    XML_SetUserData(parser.get(), &state);
    XML_SetElementHandler(parser.get(), OnStart, OnEnd);
    const std::string bytes = CQStringHelper::StringToMultiByte(text);
    if (XML_Parse(parser.get(), bytes.data(), static_cast<int>(bytes.size()), XML_TRUE) ==
        XML_STATUS_OK) {
        return {};
    }
    return std::string(XML_ErrorString(XML_GetErrorCode(parser.get()))) + " at line " +
           std::to_string(XML_GetCurrentLineNumber(parser.get()));
}

}  // namespace

std::string StandardReaderError(std::wstring_view text) {
    ReadState state;
    return Read(text, state);
}

std::map<std::string, std::string> StandardReaderRootAttributes(std::wstring_view text) {
    ReadState state;
    if (!Read(text, state).empty()) {
        return {};
    }
    return state.rootAttributes;
}
