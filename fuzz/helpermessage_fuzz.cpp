// One line of a helper's report: the parser accepts or refuses it, and a message it accepted
// is formatted as a line that parses to the same message.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "components/vtranscoderlib/vhelpermessage.h"
#include "fuzz/fuzzcheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const std::optional<CVHelperMessage> message = CVHelperMessage::Parse(line);
    if (!message) {
        return 0;
    }
    (void)message->Integer("pos");
    (void)message->Real("dur");
    (void)message->Text("msg");
    const std::string formatted = message->Format();
    FUZZ_CHECK(!formatted.empty() && formatted.back() == '\n');
    FUZZ_CHECK(formatted.find('\n') == formatted.size() - 1);
    const std::optional<CVHelperMessage> again =
        CVHelperMessage::Parse(std::string_view(formatted).substr(0, formatted.size() - 1));
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(again->Format() == formatted);
    return 0;
}
