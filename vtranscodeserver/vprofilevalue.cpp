#include "vtranscodeserver/vprofilevalue.h"

#include <charconv>
#include <limits>

namespace {

std::string_view SkipLeadingBlanksAndPlus(std::string_view text) {
    const size_t start = text.find_first_not_of(" \t\r\n\v\f");
    text.remove_prefix(start == std::string_view::npos ? text.size() : start);
    if (text.starts_with('+')) {
        text.remove_prefix(1);
    }
    return text;
}

}  // namespace

uint64_t CVProfileValue::ToUnsigned(std::string_view text) {
    text = SkipLeadingBlanksAndPlus(text);
    uint64_t value = 0;
    const std::from_chars_result result =
        std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        return std::numeric_limits<uint64_t>::max();
    }
    return result.ec == std::errc{} ? value : 0;
}

uint32_t CVProfileValue::ToUnsigned32(std::string_view text) {
    const uint64_t value = ToUnsigned(text);
    return value > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                        : static_cast<uint32_t>(value);
}

double CVProfileValue::ToDouble(std::string_view text) {
    text = SkipLeadingBlanksAndPlus(text);
    double value = 0.0;
    const std::from_chars_result result =
        std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        // Out of range by a negative exponent is a magnitude too small (0); otherwise too large.
        const std::string_view number(text.data(), result.ptr - text.data());
        const size_t exponent = number.find_first_of("eE");
        const bool tiny =
            exponent != std::string_view::npos && number.substr(exponent + 1).starts_with('-');
        const double magnitude = tiny ? 0.0 : std::numeric_limits<double>::infinity();
        return text.starts_with('-') ? -magnitude : magnitude;
    }
    return result.ec == std::errc{} ? value : 0.0;
}
