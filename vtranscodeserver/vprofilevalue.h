#pragma once
// CVProfileValue: numbers out of the attribute texts of a profile database. The database is
// hand-editable, so the readers are lenient the way the C library's are: leading white space
// and one "+" are skipped, reading stops at the first character that does not belong to the
// number, and a text without a number is 0. They never depend on the process locale (a
// fraction always uses "."), and a value too large for the result saturates.
//
// Stateless; any thread.

#include <cstdint>
#include <string_view>

class CVProfileValue {
public:
    // Decimal digits; 0 without any; UINT64_MAX when larger. A "-" is no digit: "-5" is 0.
    static uint64_t ToUnsigned(std::string_view text);
    // ToUnsigned limited to 32 bits (UINT32_MAX when larger).
    static uint32_t ToUnsigned32(std::string_view text);
    // A decimal floating number ("29.97", "-1", "1e3"); 0.0 without one.
    static double ToDouble(std::string_view text);
};
