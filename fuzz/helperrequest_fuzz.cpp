// A helper's command line: the input's NUL bytes separate the arguments. The parser accepts or
// explains the refusal, and an accepted request gives arguments that parse to the same
// arguments again.

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "components/vtranscoderlib/vhelperrequest.h"
#include "fuzz/fuzzcheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> arguments(1);
    for (size_t index = 0; index < size; ++index) {
        if (data[index] == 0) {
            arguments.emplace_back();
        } else {
            arguments.back() += static_cast<char>(data[index]);
        }
    }
    const auto parsed = SVHelperRequest::Parse(arguments);
    if (const auto* reason = std::get_if<std::string>(&parsed)) {
        FUZZ_CHECK(!reason->empty());
        return 0;
    }
    const std::vector<std::string> written = std::get<SVHelperRequest>(parsed).ToArguments();
    const auto again = SVHelperRequest::Parse(written);
    FUZZ_CHECK(std::holds_alternative<SVHelperRequest>(again));
    FUZZ_CHECK(std::get<SVHelperRequest>(again).ToArguments() == written);
    return 0;
}
